#include "panes/archive/IBSettingsViewController.h"

#include "archive/ArchiveProjectCreate.h"
#include "archive/CBackup.h"
#include "archive/CBackupContainer.h"
#include "panes/archive/ArchiveCoordinator.h"
#include "platform/Clock.h"
#include "platform/MainThread.h"
#include "projects/ILocation.h"
#include "projects/ProjectNames.h"
#include "projects/ScheduleFormRules.h"
#include "projects/CapturePattern.h"
#include "projects/DestinationItemList.h"
#include "projects/IAgentTool.h"
#include "projects/ProjectNames.h"
#include "shell/dialogs/ATColorButton.h"
#include "shell/dialogs/Beep.h"
#include "shell/dialogs/DestinationMenu.h"
#include "shell/dialogs/ICapturePatternController.h"
#include "shell/dialogs/IQVNumberField.h"
#include "shell/dialogs/ScheduleControls.h"
#include "utilities/HelpAnchor.h"
#include "utilities/IPasswordMD5.h"
#include "utilities/IShellServices.h"
#include "utilities/MainPreferences.h"
#include "utilities/UiPrompts.h"
#include "utilities/ProjectKeychain.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStandardItemModel>
#include <QStyle>
#include <QTabWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <memory>

namespace {

QString loc(const char* text)
{
    return QCoreApplication::translate("Localizable", text);
}

constexpr quint64 kLimits[] = { 0, 650000, 700000, 2240000, 4580000 };

// The filter bits of the exclude boxes, in the order of m_excl.
constexpr quint32 kFilterBits[] = { CBFilterInvisible, CBFilterFinderData, CBFilterApplications, CBFilterAliases,
    CBFilterByPattern };

void apply(QWidget* w, DestinationAccess::State state)
{
    if (state != DestinationAccess::Unchanged)
        w->setEnabled(state == DestinationAccess::Enabled);
}

// The folder inside the volume as the field shows it: without its leading "/".
QString folderText(const QString& pathFromMountPoint)
{
    QString text = pathFromMountPoint;
    while (text.startsWith(QLatin1Char('/')))
        text.remove(0, 1);
    return text;
}

// The archive sheet's status line: archives need only write access, no hard links.
DestinationStatus archiveDestinationStatus(ILocation* l, bool admin)
{
    using I = DestinationStatus::Icon;
    if (!l || l->getDeviceType() == ILocation::DeviceNone)
        return { I::IconWarning, loc("Select a Destination"), false };
    if (l->getDeviceType() == ILocation::DeviceCD || l->getDeviceType() == ILocation::DeviceToast)
        return { I::IconNone, QString(), true };
    if (!l->isActive())
        return { I::IconError, loc("Selected backup destination is currently unavailable"), false };
    switch (l->getAccessWithAdmin(admin, false, false)) {
    case ILocation::AccessReadWrite:
    case ILocation::AccessHardLinks:
        return { I::IconOk, loc("Backup is available for the selected destination"), true };
    case ILocation::AccessReadOnly:
        return { I::IconError, loc("Backup destination is in Read-only mode"), false };
    case ILocation::AccessNone:
        return { I::IconError, loc("Selected backup destination is currently unavailable"), false };
    default:
        return { I::IconNone, QString(), true };
    }
}

bool runsOnMountFor(const ILocation* l)
{
    return l && l->getDeviceType() == ILocation::DeviceUSB && l->isRemovable();
}

} // namespace

quint64 IBSettingsViewController::sizeLimitForTag(int tag, quint64 customMB)
{
    if (tag >= 0 && tag <= 4)
        return kLimits[tag];
    return customMB * 1000;
}

int IBSettingsViewController::tagForSizeLimit(quint64 limitKB)
{
    for (int tag = 0; tag <= 4; ++tag)
        if (kLimits[tag] == limitKB)
            return tag;
    return 5;
}

IBSettingsViewController::IBSettingsViewController(
    CBackupContainer* container, ArchiveCoordinator* coordinator, QWidget* parent)
    : QDialog(parent)
    , m_container(container)
    , m_coordinator(coordinator)
{
    setWindowTitle(loc("Settings"));
    setWindowModality(Qt::WindowModal);
    m_tabs = new QTabWidget(this);

    // General: name, destination device and folder, access, colour.
    auto* general = new QWidget(m_tabs);
    m_name = new QLineEdit(general);
    m_name->setToolTip(loc("Choose project name"));
    m_device = new DestinationMenu(general);
    m_device->setToolTip(loc("Select drive where backup should be stored"));
    m_folder = new QLineEdit(general);
    m_folder->setReadOnly(true);
    m_folder->setToolTip(loc("Choose backup destination: a folder to save your backup to"));
    m_choose = new QPushButton(loc("Choose..."), general);
    m_choose->setToolTip(m_folder->toolTip());
    m_automount = new QCheckBox(loc("Automount"), general);
    m_automount->setToolTip(loc("Mount network destination volume automatically before backup"));
    m_mount = new QPushButton(loc("Mount"), general);
    m_mount->setToolTip(loc("Mount remote device"));
    m_destIcon = new QLabel(general);
    m_destStatus = new QLabel(general);
    m_destStatus->setWordWrap(true);
    m_admin = new QCheckBox(loc("Run with administrator rights"), general);
    m_color = new ATColorButton(general);
    auto* folderRow = new QHBoxLayout;
    folderRow->addWidget(m_folder, 1);
    folderRow->addWidget(m_choose);
    auto* mountRow = new QHBoxLayout;
    mountRow->addWidget(m_automount);
    mountRow->addWidget(m_mount);
    mountRow->addStretch(1);
    auto* statusRow = new QHBoxLayout;
    statusRow->addWidget(m_destIcon);
    statusRow->addWidget(m_destStatus, 1);
    auto* colorRow = new QHBoxLayout;
    colorRow->addWidget(m_color);
    colorRow->addStretch(1);
    auto* generalForm = new QFormLayout(general);
    generalForm->addRow(loc("Name:"), m_name);
    generalForm->addRow(loc("Destination:"), m_device);
    generalForm->addRow(loc("Folder:"), folderRow);
    generalForm->addRow(QString(), mountRow);
    generalForm->addRow(QString(), statusRow);
    generalForm->addRow(QString(), m_admin);
    generalForm->addRow(loc("Color label:"), colorRow);
    m_tabs->addTab(general, loc("General"));

    // Compression and method.
    auto* compression = new QWidget(m_tabs);
    m_compress = new QCheckBox(loc("Compress archive"), compression);
    m_compress->setToolTip(loc("Enable/Disable archive compression for selected backup"));
    m_method211 = new QRadioButton(loc("Full backup"), compression);
    m_method212 = new QRadioButton(loc("Incremental backup"), compression);
    m_method211->setToolTip(loc("Choose backup method"));
    m_keepPrevious = new QCheckBox(loc("Keep previous backups"), compression);
    m_keepPrevious->setToolTip(loc("Deselect the check box to keep the latest backup version only"));
    auto* cl = new QVBoxLayout(compression);
    cl->addWidget(m_compress);
    cl->addWidget(m_method211);
    cl->addWidget(m_keepPrevious);
    cl->addWidget(m_method212);
    cl->addStretch();
    m_tabs->addTab(compression, loc("Compression"));

    // Encryption.
    auto* encryption = new QWidget(m_tabs);
    m_encryption = new QComboBox(encryption);
    m_encryption->setToolTip(loc("Select encryption method"));
    for (const char* t : { "None", "Blowfish", "Triple DES", "AES-128", "AES-256" })
        m_encryption->addItem(loc(t));
    // Blowfish is never offered for new archives.
    if (auto* m = qobject_cast<QStandardItemModel*>(m_encryption->model()))
        m->item(1)->setEnabled(false);
    m_keychain = new QCheckBox(loc("Remember password in my keychain"), encryption);
    auto* el = new QFormLayout(encryption);
    el->addRow(loc("Encryption:"), m_encryption);
    el->addRow(QString(), m_keychain);
    m_tabs->addTab(encryption, loc("Encryption"));

    // Split.
    auto* split = new QWidget(m_tabs);
    m_sizeLimit = new QComboBox(split);
    m_sizeLimit->setToolTip(loc("Choose archive split size limit"));
    for (const char* t : { "Not set", "650MB CD", "700MB CD", "2.3GB DVD", "4.7GB DVD", "Custom" })
        m_sizeLimit->addItem(loc(t));
    m_customSize = new IQVNumberField(split);
    m_customSize->setIntModeMin(1, 1000000000);
    m_customSize->setToolTip(loc("Enter custom split size limit"));
    m_customLabel = new QLabel(loc("MB"), split);
    auto* customRow = new QHBoxLayout;
    customRow->addWidget(m_customSize, 1);
    customRow->addWidget(m_customLabel);
    auto* sl = new QFormLayout(split);
    sl->addRow(loc("Split archive:"), m_sizeLimit);
    sl->addRow(QString(), customRow);
    m_tabs->addTab(split, loc("Split"));

    // Schedule: the controls the settings sheets share.
    auto* schedule = new QWidget(m_tabs);
    m_schedule = new ScheduleControls(schedule);
    m_startLate = new QCheckBox(loc("Start late scheduled backup at launch"), schedule);
    m_processOnMount = new QCheckBox(loc("Run when the destination is mounted"), schedule);
    m_processOnMount->setToolTip(loc("Run the scheduled task when an external storage is mounted"));
    auto* schl = new QVBoxLayout(schedule);
    schl->addWidget(m_schedule);
    schl->addWidget(m_startLate);
    schl->addWidget(m_processOnMount);
    schl->addStretch();
    m_tabs->addTab(schedule, loc("Schedule"));

    // Exclusions.
    auto* exclusions = new QWidget(m_tabs);
    const char* titles[] = { "Exclude invisible files", "Exclude file manager data", "Exclude applications",
        "Exclude aliases", "Exclude by pattern:" };
    const char* tips[] = { "Exclude invisible files from backup archive", "Exclude Finder auxiliary files from backup archive",
        "Exclude applications from backup archive", "Exclude aliases from backup archive",
        "Use pattern to exclude files from backup archive" };
    auto* exl = new QVBoxLayout(exclusions);
    for (int i = 0; i < 5; ++i) {
        m_excl[i] = new QCheckBox(loc(titles[i]), exclusions);
        m_excl[i]->setToolTip(loc(tips[i]));
        if (i < 4)
            exl->addWidget(m_excl[i]);
    }
    m_exclude = new QLineEdit(exclusions);
    m_exclude->setToolTip(loc("Enter exclusion pattern"));
    m_capture = new QPushButton(loc("Capture..."), exclusions);
    m_capture->setToolTip(loc("Capture exclusion pattern through the extended file dialog"));
    auto* patternRow = new QHBoxLayout;
    patternRow->addWidget(m_excl[4]);
    patternRow->addWidget(m_exclude, 1);
    patternRow->addWidget(m_capture);
    exl->addLayout(patternRow);
    exl->addStretch();
    m_tabs->addTab(exclusions, loc("Exclusions"));

    auto* help = new QPushButton(QStringLiteral("?"), this);
    help->setFixedWidth(28);
    auto* cancel = new QPushButton(loc("Cancel"), this);
    auto* ok = new QPushButton(loc("OK"), this);
    ok->setDefault(true);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(help);
    buttons->addStretch();
    buttons->addWidget(cancel);
    buttons->addWidget(ok);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_tabs, 1);
    layout->addLayout(buttons);
    resize(560, 340);

    connect(m_method211, &QRadioButton::toggled, this, &IBSettingsViewController::changeBackupMethod);
    connect(m_sizeLimit, &QComboBox::currentIndexChanged, this, &IBSettingsViewController::changeBackupSizeLimit);
    connect(m_encryption, &QComboBox::currentIndexChanged, this, &IBSettingsViewController::changeEncryption);
    connect(m_device, &DestinationMenu::destinationChosen, this, &IBSettingsViewController::changeBackupDrive);
    connect(m_device, &DestinationMenu::filled, this, &IBSettingsViewController::updateLocationControls);
    connect(m_choose, &QPushButton::clicked, this, [this] {
        selectBackupLocationOrReturnToTag(-1);
        validateProcessOnMount();
    });
    connect(m_mount, &QPushButton::clicked, this, [this] {
        if (m_backup)
            m_backup->_doMount(0);
        showDestinationStatus();
    });
    connect(m_admin, &QCheckBox::toggled, this, &IBSettingsViewController::showDestinationStatus);
    connect(m_excl[4], &QCheckBox::toggled, this, [this](bool on) {
        m_exclude->setEnabled(on);
        m_capture->setEnabled(on);
    });
    connect(m_capture, &QPushButton::clicked, this, &IBSettingsViewController::capturePattern);
    connect(m_schedule, &ScheduleControls::scheduleChanged, this, &IBSettingsViewController::updateStartLate);
    connect(help, &QPushButton::clicked, this, [] { MyGotoHelpAnchor(QStringLiteral("archive_properties_html")); });
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(ok, &QPushButton::clicked, this, [this] {
        if (clickOk())
            accept();
    });
}

bool IBSettingsViewController::showWindowForBackup(CBackup* backup)
{
    if (!backup || backup->isInProcess())
        return false;
    // The pages are lent to the settings side panel while it is open.
    if (m_tabs->count() == 0)
        return false;
    updateControls(backup);
    ModalDepthGuard modal;
    return exec() == QDialog::Accepted;
}

void IBSettingsViewController::updateControls(CBackup* backup)
{
    m_backup = backup;
    m_name->setText(backup->name());
    m_admin->setChecked(backup->useAdminPrivileges());
    m_color->setColor(backup->color().isValid() ? backup->color() : palette().color(QPalette::Window));
    for (int i = 0; i < 5; ++i)
        m_excl[i]->setChecked(backup->filterFlags() & kFilterBits[i]);
    m_exclude->setText(backup->excludePattern());
    m_exclude->setEnabled(m_excl[4]->isChecked());
    m_capture->setEnabled(m_excl[4]->isChecked());
    m_automount->setChecked(backup->location() && backup->location()->isAutomount());
    m_device->refill();
    if (m_device->isFilled())
        updateLocationControls();
    m_compress->setChecked(backup->useCompression());
    m_method211->setChecked(backup->backupMethod() != BackupMethodIncremental);
    m_method212->setChecked(backup->backupMethod() == BackupMethodIncremental);
    m_keepPrevious->setChecked(backup->backupMethod() != BackupMethodFull);
    changeBackupMethod();
    m_encryption->setCurrentIndex(int(std::min<quint32>(backup->cryptMethod(), 4)));
    m_keychain->setChecked(backup->passwordInKeychain());
    changeEncryption();
    const int tag = tagForSizeLimit(backup->backupSizeLimit());
    m_sizeLimit->setCurrentIndex(tag);
    m_customSize->setIntegerValue(backup->backupSizeLimit() > 0 ? qint64(backup->backupSizeLimit() / 1000) : 1);
    changeBackupSizeLimit();
    ScheduleFormRules::ScheduleForm form;
    form.scheduled = backup->useSchedule();
    form.type = backup->scheduleIntervalType() >= 1 && backup->scheduleIntervalType() <= 4
        ? int(backup->scheduleIntervalType())
        : 1;
    form.monthDay = std::clamp<int>(backup->scheduleMonthDay(), 1, 31);
    form.weekDays = backup->scheduleWeekDays();
    form.hour = std::min<int>(backup->scheduleHour(), 23);
    form.minute = std::min<int>(backup->scheduleMinute(), 59);
    form.interval = backup->scheduleIntervalMinutes() > 0 ? backup->scheduleIntervalMinutes() : 240;
    m_schedule->setForm(form);
    m_storedStartLate = backup->startLate();
    updateStartLate();
    m_processOnMount->setChecked(backup->startOnMount() && runsOnMountFor(backup->location()));
    m_processOnMount->setEnabled(runsOnMountFor(backup->location()));
}

void IBSettingsViewController::updateStartLate()
{
    const ScheduleFormRules::ScheduleForm form = m_schedule->form();
    m_startLate->setEnabled(ScheduleFormRules::startIfLateEnabled(form));
    m_startLate->setChecked(ScheduleFormRules::startIfLateShown(form, m_storedStartLate));
}

void IBSettingsViewController::changeBackupMethod()
{
    // "Keep previous backups" belongs to the full method only; incremental keeps them all.
    m_keepPrevious->setEnabled(m_method211->isChecked());
    if (m_method212->isChecked())
        m_keepPrevious->setChecked(true);
}

void IBSettingsViewController::changeBackupSizeLimit()
{
    const bool custom = m_sizeLimit->currentIndex() == 5;
    m_customSize->setVisible(custom);
    m_customLabel->setVisible(custom);
}

void IBSettingsViewController::changeEncryption()
{
    const bool encrypted = m_encryption->currentIndex() > 0;
    m_keychain->setEnabled(encrypted);
    if (!encrypted)
        m_keychain->setChecked(false);
}

void IBSettingsViewController::updateLocationControls()
{
    if (!m_backup)
        return;
    m_device->setEnabled(true);
    const ILocation* dest = m_backup->location();
    qint64 tag = m_device->itemList().tagForLocation(dest);
    if (tag < 0 && dest && !dest->isEmpty()) {
        // A destination away from the volume table stays selectable after a separator.
        std::unique_ptr<ILocation> copy(ILocation::createCopy(*dest));
        copy->setActive(false);
        m_device->addAndSelect(*copy, true);
        tag = m_device->selectedTag();
    }
    m_device->selectTag(tag < 0 ? DestinationItemList::tagSelect : tag);
    if (const std::shared_ptr<ILocation> l = m_device->selectedLocation(); l && dest)
        l->setPathFromMountPoint(dest->getPathFromMountPoint());
    m_lastSelectedTag = m_device->selectedTag();
    m_folder->setText(dest && dest->getDeviceType() != ILocation::DeviceNone
            ? folderText(dest->getPathFromMountPoint())
            : QString());
    showDestinationStatus();
}

void IBSettingsViewController::changeBackupDrive(qint64 tag)
{
    const std::shared_ptr<ILocation> l = m_device->selectedLocation();
    m_folder->setText(l ? folderText(l->getPathFromMountPoint()) : QString());
    showDestinationStatus();
    const int type = l ? l->getDeviceType() : int(ILocation::DeviceNone);
    if (tag == DestinationItemList::tagSelect || !l || type == ILocation::DeviceNone || type == ILocation::DeviceCD
        || type == ILocation::DeviceToast || !l->getPathFromMountPoint().isNull() || !l->isActive())
        m_lastSelectedTag = tag;
    else
        selectBackupLocationOrReturnToTag(m_lastSelectedTag);
    validateProcessOnMount();
}

bool IBSettingsViewController::selectBackupLocationOrReturnToTag(qint64 tag)
{
    const std::shared_ptr<ILocation> selected = m_device->selectedLocation();
    std::unique_ptr<ILocation> chosen(selected ? ILocation::createCopy(*selected) : ILocation::create());
    if (!m_coordinator || !m_coordinator->chooseDestPathByUser(chosen.get())) {
        if (tag >= 0)
            m_device->selectTag(tag);
        showDestinationStatus();
        return false;
    }
    qint64 itemTag = m_device->itemList().tagForLocation(chosen.get());
    if (itemTag < 0 || itemTag == DestinationItemList::tagSelect) {
        m_device->addAndSelect(*chosen, true);
        itemTag = m_device->selectedTag();
    }
    m_device->selectTag(itemTag);
    if (const std::shared_ptr<ILocation> l = m_device->selectedLocation())
        l->setPathFromMountPoint(chosen->getPathFromMountPoint());
    m_folder->setText(folderText(chosen->getPathFromMountPoint()));
    m_lastSelectedTag = itemTag;
    showDestinationStatus();
    return true;
}

void IBSettingsViewController::showDestinationStatus()
{
    const std::shared_ptr<ILocation> l = m_device->selectedLocation();
    const std::optional<int> type = l ? std::optional<int>(l->getDeviceType()) : std::nullopt;
    const DestinationAccess a
        = destinationAccess(type, l && l->isRemovable(), l && l->isActive(), l && !l->getURLStr().isEmpty());
    for (QWidget* w : { static_cast<QWidget*>(m_folder), static_cast<QWidget*>(m_choose) })
        apply(w, a.folder);
    apply(m_automount, a.automount);
    apply(m_mount, a.mountButton);
    if (a.networkUsbAutomountTitle)
        m_automount->setText(loc("Network automount"));
    const DestinationStatus s = archiveDestinationStatus(l.get(), m_admin->isChecked());
    QStyle::StandardPixmap icon = QStyle::SP_CustomBase;
    if (s.icon == DestinationStatus::IconOk)
        icon = QStyle::SP_DialogApplyButton;
    else if (s.icon == DestinationStatus::IconWarning)
        icon = QStyle::SP_MessageBoxWarning;
    else if (s.icon == DestinationStatus::IconError)
        icon = QStyle::SP_MessageBoxCritical;
    m_destIcon->setPixmap(icon == QStyle::SP_CustomBase ? QPixmap() : style()->standardIcon(icon).pixmap(16, 16));
    m_destStatus->setText(s.text);
}

void IBSettingsViewController::validateProcessOnMount()
{
    const bool removable = runsOnMountFor(m_device->selectedLocation().get());
    m_processOnMount->setEnabled(removable);
    if (!removable)
        m_processOnMount->setChecked(false);
}

void IBSettingsViewController::capturePattern()
{
    UiPrompts::ItemChoiceRequest r;
    r.prompt = loc("Capture exclude pattern");
    r.okButton = loc("Capture");
    r.files = true;
    r.folders = true;
    QStringList paths;
    {
        ModalDepthGuard modal;
        paths = UiPrompts::shared().chooseItems(r);
    }
    if (paths.isEmpty())
        return;
    ICapturePatternController& capture = ICapturePatternController::shared();
    const QString pattern = CapturePattern::patternForItem(capture.patternRule(), paths.first());
    if (!pattern.isEmpty())
        m_exclude->setText(CapturePattern::combined(m_exclude->text(), pattern, capture.isCombPatWithPrev()));
}

QCheckBox* IBSettingsViewController::excludeBox(int bit) const
{
    for (int i = 0; i < 5; ++i)
        if (kFilterBits[i] == quint32(bit))
            return m_excl[i];
    return nullptr;
}

void IBSettingsViewController::updateAgentState(bool wasScheduled, const CBackup& backup)
{
    PrefsAgentState& state = MainPreferences::shared().agentState();
    AgentBitsInput in;
    in.bits = state.getInt();
    in.wasScheduled = wasScheduled;
    in.isScheduled = backup.useSchedule();
    in.processOnMount = backup.startOnMount();
    // A project the user has just scheduled asks for the agent, as in the other panes.
    in.userWantsAgent = true;
    in.agentAutostart = IAgentTool::shared().getAutostart();
    AgentBitsResult r = agentBitsAfterProperties(in);
    if (r.setAutostart) {
        IAgentTool::shared().setAgentAutostart(true);
        in.agentAutostart = IAgentTool::shared().getAutostart();
        r = agentBitsAfterProperties(in);
    }
    if (r.bits != in.bits)
        state.set(r.bits, state.modifyInterval(), state.scheduleResumeDate());
}

QString IBSettingsViewController::legalDisplayName(const QString& text) const
{
    if (!m_backup)
        return QString();
    const QString clean = ProjectNames::fromInput(text.trimmed());
    if (clean.isEmpty())
        return m_backup->name();
    return ArchiveProjectCreate::uniqueName(*m_container, clean, m_backup);
}

bool IBSettingsViewController::clickOk()
{
    if (m_sizeLimit->currentIndex() == 5 && m_customSize->isNumberOkInString(m_customSize->text()) != IQVNumberField::NumberOk) {
        Beep::beep();
        return false;
    }
    CBackup* b = m_backup;
    if (!b || b->isInProcess())
        return false;
    const bool wasScheduled = b->useSchedule() || b->startOnMount();
    if (m_sizeLimit->currentIndex() == 5)
        m_customSize->changeNumberFieldData(); // the typed text, as leaving the field takes it
    b->setUseCompression(m_compress->isChecked());
    const quint32 method = m_method212->isChecked() ? BackupMethodIncremental
        : m_keepPrevious->isChecked()               ? BackupMethodVersions
                                                    : BackupMethodFull;
    if (method != b->backupMethod()) {
        b->setBackupMethod(method);
        b->resetLocationInBackup();
    }
    const quint32 crypt = quint32(m_encryption->currentIndex());
    if (crypt != b->cryptMethod() && b->cryptMethod() == CBCryptNone)
        b->setPasswordDigest(IPasswordMD5()); // a new password is asked at the next build
    if (crypt != CBCryptBlowfish) // never chosen: the item is disabled
        b->setCryptMethod(crypt);
    b->setBackupSizeLimit(sizeLimitForTag(m_sizeLimit->currentIndex(), quint64(m_customSize->integerValue())));
    const bool keychain = m_keychain->isChecked() && crypt != CBCryptNone;
    if (!keychain && b->passwordInKeychain())
        ProjectKeychain::remove(b->name(), b->getUUID());
    b->setPasswordInKeychain(keychain);
    quint32 filters = b->filterFlags();
    for (int i = 0; i < 5; ++i)
        filters = m_excl[i]->isChecked() ? (filters | kFilterBits[i]) : (filters & ~kFilterBits[i]);
    const bool filtersChanged = filters != b->filterFlags() || m_exclude->text() != b->excludePattern();
    b->setFilterFlags(filters);
    b->setExcludePattern(m_exclude->text());
    if (filtersChanged)
        b->editTree([b] { b->applyFilters(b, true, true); });
    if (m_device->isFilled()) {
        // Until the volume table answers, the destination stays as it is.
        const std::shared_ptr<ILocation> l = m_device->selectedLocation();
        std::unique_ptr<ILocation> location(l ? ILocation::createCopy(*l) : ILocation::create());
        location->setAutomount(m_automount->isChecked());
        b->setLocation(*location, location->getDeviceType() != ILocation::DeviceNone);
    } else if (b->location()) {
        b->location()->setAutomount(m_automount->isChecked());
    }
    b->setMountAutomatically(m_automount->isChecked());
    b->setUseAdminPrivileges(m_admin->isChecked());
    if (m_color->color() != b->color() && m_color->color() != palette().color(QPalette::Window))
        b->setColor(m_color->color());
    // A week-days schedule without a day is stored unscheduled.
    const ScheduleFormRules::ScheduleForm form = ScheduleFormRules::stored(m_schedule->form());
    b->setUseSchedule(form.scheduled);
    b->setScheduleIntervalType(quint32(form.type));
    b->setScheduleMonthDay(quint16(form.monthDay));
    b->setScheduleWeekDays(quint16(form.weekDays));
    b->setScheduleHour(quint16(form.hour));
    b->setScheduleMinute(quint16(form.minute));
    b->setScheduleIntervalMinutes(quint16(form.interval));
    b->setStartLate(m_startLate->isEnabled() ? m_startLate->isChecked() : true);
    b->setStartOnMount(m_processOnMount->isChecked() && m_processOnMount->isEnabled());
    b->setNextProcessDate(form.scheduled ? ScheduleFormRules::nextDate(form, Clock::current().now()) : QDateTime());
    const QString name = legalDisplayName(m_name->text());
    if (!name.isEmpty() && name != b->name())
        m_container->renameBackup(b, name);
    if (b->isTreeChanged())
        b->save();
    else
        b->saveProperties();
    IShellServices::shared().eventChangedCurrentBackup();
    updateAgentState(wasScheduled, *b);
    return true;
}
