#include "panes/backup/IBackup3PropertiesController.h"

#include "panes/backup/Backup3PaneController.h"
#include "platform/Clock.h"
#include "platform/MainThread.h"
#include "projects/CapturePattern.h"
#include "projects/DestinationItemList.h"
#include "projects/ILocation.h"
#include "projects/IPlaceMounter.h"
#include "shell/dialogs/ATColorButton.h"
#include "shell/dialogs/Beep.h"
#include "shell/dialogs/DestinationMenu.h"
#include "shell/dialogs/ICapturePatternController.h"
#include "shell/dialogs/IQVNumberField.h"
#include "shell/dialogs/ScheduleControls.h"
#include "snapshot/IBackup3.h"
#include "snapshot/IBackup3Container.h"
#include "utilities/CommonFunctions.h"
#include "utilities/HelpAnchor.h"
#include "utilities/LogOptions.h"
#include "utilities/LogText.h"
#include "utilities/UiPrompts.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QTabWidget>
#include <QVBoxLayout>

namespace {

QString loc(const char* text)
{
    return QCoreApplication::translate("Localizable", text);
}

QCheckBox* check(const char* title, const char* tip, QWidget* parent)
{
    auto* box = new QCheckBox(loc(title), parent);
    if (tip)
        box->setToolTip(loc(tip));
    return box;
}

void selectTag(QComboBox* box, int tag)
{
    const int i = box->findData(tag);
    box->setCurrentIndex(i < 0 ? 0 : i);
}

int tagOf(const QComboBox* box)
{
    return box->currentData().toInt();
}

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

} // namespace

IBackup3PropertiesController::IBackup3PropertiesController(
    Backup3PaneController* controller, std::shared_ptr<IBackup3> project, QWidget* parent)
    : QDialog(parent)
    , m_controller(controller)
    , m_project(std::move(project))
    , m_modal(std::make_unique<ModalDepthGuard>())
{
    setObjectName(QStringLiteral("Backup3Properties"));
    setWindowTitle(loc("Backup Project Properties"));
    setWindowModality(Qt::WindowModal);
    build();
    updateControls();
    m_name->setFocus();
    // The modal depth drops as soon as the sheet closes, not when it is deleted.
    connect(this, &QDialog::finished, this, [this] { m_modal.reset(); });
}

IBackup3PropertiesController::~IBackup3PropertiesController() = default;

void IBackup3PropertiesController::build()
{
    m_tabs = new QTabWidget(this);

    // ---- Destination -------------------------------------------------------------------------
    auto* dest = new QWidget;
    auto* destForm = new QFormLayout(dest);
    m_name = new QLineEdit(dest);
    m_name->setToolTip(loc("Choose project name"));
    destForm->addRow(loc("Project name:"), m_name);
    m_targetType = new QComboBox(dest);
    m_targetType->addItem(loc("Folder"), 0);
    m_targetType->addItem(loc("Disk image"), 1);
    destForm->addRow(loc("Backup to:"), m_targetType);
    m_device = new DestinationMenu(dest);
    destForm->addRow(loc("Destination:"), m_device);
    m_folderLabel = new QLabel(loc("Folder:"), dest);
    m_folder = new QLineEdit(dest);
    m_folder->setReadOnly(true);
    m_folder->setToolTip(loc("Choose backup destination: a folder to save your backup to"));
    m_chooseFolder = new QPushButton(loc("Choose..."), dest);
    m_chooseFolder->setToolTip(m_folder->toolTip());
    auto* folderRow = new QHBoxLayout;
    folderRow->addWidget(m_folder, 1);
    folderRow->addWidget(m_chooseFolder);
    destForm->addRow(m_folderLabel, folderRow);
    m_automount = check("Automount", "Mount network/USB volume(s) automatically before backup", dest);
    m_mount = new QPushButton(loc("Mount"), dest);
    auto* mountRow = new QHBoxLayout;
    mountRow->addWidget(m_automount);
    mountRow->addWidget(m_mount);
    mountRow->addStretch(1);
    destForm->addRow(QString(), mountRow);
    m_statusIcon = new QLabel(dest);
    m_statusText = new QLabel(dest);
    m_statusText->setWordWrap(true);
    auto* statusRow = new QHBoxLayout;
    statusRow->addWidget(m_statusIcon);
    statusRow->addWidget(m_statusText, 1);
    destForm->addRow(QString(), statusRow);
    m_admin = check("Run with administrator rights", nullptr, dest);
    destForm->addRow(QString(), m_admin);

    auto* sizeBox = new QGroupBox(loc("Disk image size"), dest);
    sizeBox->setToolTip(
        loc("Set the maximum size limit. The actual disk image size will be smaller and depend "
            "on backup data."));
    auto* sizeLayout = new QHBoxLayout(sizeBox);
    m_sizeType = new QComboBox(sizeBox);
    m_sizeType->addItem(loc("Maximum available"), 0);
    m_sizeType->addItem(loc("Custom"), 1);
    m_customSize = new IQVNumberField(sizeBox);
    m_customSize->setObjectName(QStringLiteral("DIMaxSizeCustomValue"));
    m_customSize->setFloatModeMin(0.1, 1000000000.0);
    m_customSize->setNoStopExit(true);
    m_customSizeLabel = new QLabel(loc("GB"), sizeBox);
    sizeLayout->addWidget(m_sizeType);
    sizeLayout->addWidget(m_customSize);
    sizeLayout->addWidget(m_customSizeLabel);
    sizeLayout->addStretch(1);
    destForm->addRow(sizeBox);
    m_tabs->addTab(dest, loc("Destination"));

    // ---- Options -----------------------------------------------------------------------------
    auto* options = new QWidget;
    auto* optionsLayout = new QVBoxLayout(options);
    m_neverDelete = check("Never delete anything", "Never delete anything", options);
    m_considerDate = check("Consider modification date", nullptr, options);
    m_excludeInvisible = check("Exclude invisible files", "Exclude invisible files from backup", options);
    m_excludeFinderData
        = check("Exclude file manager data", "Exclude Finder auxiliary files from backup", options);
    m_excludeApplications = check("Exclude applications", "Exclude applications from backup", options);
    m_excludeAliases = check("Exclude aliases", "Exclude aliases from backup", options);
    for (QWidget* w : { m_neverDelete, m_considerDate, m_excludeInvisible, m_excludeFinderData,
             m_excludeApplications, m_excludeAliases })
        optionsLayout->addWidget(w);
    auto* attrRow = new QHBoxLayout;
    attrRow->addWidget(new QLabel(loc("Extended attributes:"), options));
    m_extAttrs = new QComboBox(options);
    m_extAttrs->addItem(loc("By file system"), 0);
    m_extAttrs->addItem(loc("Never copy"), 1);
    m_extAttrs->addItem(loc("Always copy"), 2);
    attrRow->addWidget(m_extAttrs);
    attrRow->addStretch(1);
    optionsLayout->addLayout(attrRow);
    const auto patternRow = [&](QCheckBox** use, QLineEdit** field, QPushButton** capture, const char* title,
                                const char* captureTitle) {
        *use = check(title, "Use pattern to exclude files from backup", options);
        *field = new QLineEdit(options);
        (*field)->setToolTip(loc("Enter exclusion pattern"));
        *capture = new QPushButton(loc("Capture..."), options);
        (*capture)->setToolTip(loc("Capture exclusion pattern through the extended file dialog"));
        auto* row = new QHBoxLayout;
        row->addWidget(*use);
        row->addWidget(*field, 1);
        row->addWidget(*capture);
        optionsLayout->addLayout(row);
        QLineEdit* f = *field;
        QPushButton* c = *capture;
        connect(*use, &QCheckBox::toggled, this, [f, c](bool on) {
            f->setEnabled(on);
            c->setEnabled(on);
        });
        connect(*capture, &QPushButton::clicked, this,
            [this, f, captureTitle] { capturePattern(f, loc(captureTitle)); });
    };
    patternRow(&m_useExclude, &m_exclude, &m_captureExclude, "Exclude:", "Capture exclude pattern");
    patternRow(&m_useInclude, &m_include, &m_captureInclude, "Include:", "Capture include pattern");
    m_useInclude->setToolTip(QString());
    auto* colorRow = new QHBoxLayout;
    colorRow->addWidget(new QLabel(loc("Color label:"), options));
    m_color = new ATColorButton(options);
    colorRow->addWidget(m_color);
    colorRow->addStretch(1);
    optionsLayout->addLayout(colorRow);

    auto* thinBox = new QGroupBox(loc("Versions"), options);
    auto* thinRow = new QHBoxLayout(thinBox);
    m_cuttingType = new QComboBox(thinBox);
    m_cuttingType->addItem(loc("Keep all versions"), 0);
    m_cuttingType->addItem(loc("Delete versions older than"), 1);
    m_cuttingType->addItem(loc("Keep the last"), 2);
    m_cuttingCount = new IQVNumberField(thinBox);
    m_cuttingCount->setIntModeMin(0, 100000);
    m_cuttingCount->setMaximumWidth(70);
    m_cuttingUnit = new QComboBox(thinBox);
    m_cuttingUnit->addItem(loc("days"), 1);
    m_cuttingUnit->addItem(loc("weeks"), 2);
    m_cuttingUnit->addItem(loc("months"), 3);
    m_cuttingOne = new QLabel(loc("versions"), thinBox);
    thinRow->addWidget(m_cuttingType);
    thinRow->addWidget(m_cuttingCount);
    thinRow->addWidget(m_cuttingUnit);
    thinRow->addWidget(m_cuttingOne);
    thinRow->addStretch(1);
    optionsLayout->addWidget(thinBox);
    optionsLayout->addStretch(1);
    m_tabs->addTab(options, loc("Options"));

    // ---- Schedule ----------------------------------------------------------------------------
    auto* schedule = new QWidget;
    auto* scheduleLayout = new QVBoxLayout(schedule);
    m_schedule = new ScheduleControls(schedule);
    scheduleLayout->addWidget(m_schedule);
    m_startIfLate = check("Start a missed backup as soon as possible", nullptr, schedule);
    m_processOnMount = check("Run when the destination is mounted",
        "Run the scheduled task when an external storage is mounted", schedule);
    scheduleLayout->addWidget(m_startIfLate);
    scheduleLayout->addWidget(m_processOnMount);
    scheduleLayout->addStretch(1);
    m_tabs->addTab(schedule, loc("Schedule"));

    // ---- Buttons -----------------------------------------------------------------------------
    auto* help = new QPushButton(QStringLiteral("?"), this);
    help->setFixedWidth(32);
    m_cancel = new QPushButton(loc("Cancel"), this);
    m_ok = new QPushButton(loc("OK"), this);
    m_ok->setDefault(true);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(help);
    buttons->addStretch(1);
    buttons->addWidget(m_cancel);
    buttons->addWidget(m_ok);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_tabs, 1);
    layout->addLayout(buttons);
    // Wide enough for a destination folder's path and the status beside its mark.
    resize(std::max(sizeHint().width(), 560), sizeHint().height());

    connect(help, &QPushButton::clicked, this,
        [] { MyGotoHelpAnchor(QStringLiteral("backup_properties_html")); });
    connect(m_ok, &QPushButton::clicked, this, &IBackup3PropertiesController::clickOk);
    connect(m_cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_device, &DestinationMenu::destinationChosen, this,
        &IBackup3PropertiesController::changeBackupDrive);
    connect(m_device, &DestinationMenu::filled, this, &IBackup3PropertiesController::updateLocationControls);
    connect(m_chooseFolder, &QPushButton::clicked, this, [this] {
        selectBackupLocationOrReturnToTag(-1);
        validateProcessOnMount();
    });
    connect(m_mount, &QPushButton::clicked, this, &IBackup3PropertiesController::mountDestination);
    connect(m_admin, &QCheckBox::toggled, this, &IBackup3PropertiesController::refreshAccess);
    connect(m_targetType, qOverload<int>(&QComboBox::activated), this, [this] {
        validateDIControls();
        refreshAccess();
    });
    connect(m_sizeType, qOverload<int>(&QComboBox::activated), this,
        &IBackup3PropertiesController::validateDIControls);
    connect(m_customSize, &IQVNumberField::numberChanged, this, [this] {
        if (m_customSize->state() == 0 || m_customSize->state() == IQVNumberField::NotANumber)
            m_customSize->isNumberOk();
    });
    connect(m_cuttingType, qOverload<int>(&QComboBox::activated), this,
        &IBackup3PropertiesController::validateThinning);
    connect(m_schedule, &ScheduleControls::scheduleChanged, this,
        &IBackup3PropertiesController::validateStartIfLate);
    connect(m_name, &QLineEdit::editingFinished, this, [this] {
        // The name is made unique while typing, as on OK; an empty field gets the name back.
        const QString unique = settingsName(m_name->text(), *m_project, m_project->backup3Container());
        if (unique != m_name->text())
            m_name->setText(unique);
    });
}

void IBackup3PropertiesController::updateControls()
{
    const Backup3SettingsForm f = formFromProject(*m_project);
    m_admin->setChecked(f.admin);
    m_name->setText(f.name);
    selectTag(m_targetType, f.targetType);
    m_neverDelete->setChecked(f.neverDelete);
    m_considerDate->setChecked(f.considerModDate);
    m_excludeInvisible->setChecked(f.excludeInvisible);
    m_excludeFinderData->setChecked(f.excludeFinderData);
    m_excludeApplications->setChecked(f.excludeApplications);
    m_excludeAliases->setChecked(f.excludeAliases);
    selectTag(m_extAttrs, f.extendedAttrs);
    m_useExclude->setChecked(f.useExcludePattern);
    m_exclude->setText(f.excludePattern);
    m_exclude->setEnabled(f.useExcludePattern);
    m_captureExclude->setEnabled(f.useExcludePattern);
    m_useInclude->setChecked(f.useIncludePattern);
    m_include->setText(f.includePattern);
    m_include->setEnabled(f.useIncludePattern);
    m_captureInclude->setEnabled(f.useIncludePattern);
    m_schedule->setForm(f.schedule);
    m_processOnMount->setChecked(f.processOnMount);
    m_processOnMount->setEnabled(f.processOnMountEnabled);
    m_color->setColor(f.color);
    selectTag(m_cuttingType, f.cuttingType);
    m_cuttingCount->setIntegerValue(f.cuttingCount);
    selectTag(m_cuttingUnit, f.cuttingUnit);
    validateThinning();
    m_automount->setChecked(m_project->isFullAutomount());
    selectTag(m_sizeType, f.diMaxSizeType);
    m_customSize->setFloatValue(f.diCustomSizeGB);
    m_startIfLateStored = m_project->isScheduleProcessStartIfLate();
    validateDIControls();
    validateStartIfLate();
    m_device->refill();
    if (m_device->isFilled())
        updateLocationControls();
}

void IBackup3PropertiesController::volumeBaseUpdated()
{
    if (isVisible())
        m_device->refill();
}

void IBackup3PropertiesController::updateLocationControls()
{
    m_device->setEnabled(true);
    const std::shared_ptr<ILocation> dest = m_project->destLocation();
    qint64 tag = m_device->itemList().tagForLocation(dest.get());
    if (tag < 0 && dest && !dest->isEmpty()) {
        // A destination away from the volume table stays selectable after a separator.
        dest->setActive(false);
        m_device->addAndSelect(*dest, true);
        tag = m_device->selectedTag();
    }
    m_device->selectTag(tag < 0 ? DestinationItemList::tagSelect : tag);
    if (const std::shared_ptr<ILocation> l = m_device->selectedLocation(); l && dest)
        l->setPathFromMountPoint(dest->getPathFromMountPoint());
    if (dest)
        m_automount->setChecked(dest->isAutomount());
    m_lastSelectedTag = m_device->selectedTag();
    m_folder->setText(dest ? folderText(dest->getPathFromMountPoint()) : QString());
    refreshAccess();
}

void IBackup3PropertiesController::changeBackupDrive(qint64 tag)
{
    const std::shared_ptr<ILocation> l = m_device->selectedLocation();
    m_folder->setText(l ? folderText(l->getPathFromMountPoint()) : QString());
    refreshAccess();
    if (tag == DestinationItemList::tagSelect || !l || !l->getPathFromMountPoint().isNull() || !l->isActive())
        m_lastSelectedTag = tag;
    else
        selectBackupLocationOrReturnToTag(m_lastSelectedTag);
    validateProcessOnMount();
}

bool IBackup3PropertiesController::selectBackupLocationOrReturnToTag(qint64 tag)
{
    const std::shared_ptr<ILocation> selected = m_device->selectedLocation();
    std::unique_ptr<ILocation> chosen(selected ? ILocation::createCopy(*selected) : ILocation::create());
    if (!m_controller || !m_controller->chooseDestPathByUser(chosen.get())) {
        if (tag >= 0)
            m_device->selectTag(tag);
        refreshAccess();
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
    refreshAccess();
    return true;
}

void IBackup3PropertiesController::mountDestination()
{
    // The volume mounter mounts the chosen destination; why it failed reaches the project's
    // run log (a success leaves no status of its own, and an older one would mislead).
    if (const std::shared_ptr<ILocation> l = m_device->selectedLocation())
        if (!IPlaceMounter::shared().mountLocation(l.get(), 0) && m_project)
            m_project->processMessage(LogText(QVFuncStatus(QStringLiteral("CVolumeMounter::mountLocation"))),
                LogWord::RunLogPrefixedNow, m_project.get());
    refreshAccess();
}

void IBackup3PropertiesController::refreshAccess()
{
    const std::shared_ptr<ILocation> l = m_device->selectedLocation();
    const std::optional<int> type = l ? std::optional<int>(l->getDeviceType()) : std::nullopt;
    const DestinationAccess a
        = destinationAccess(type, l && l->isRemovable(), l && l->isActive(), l && !l->getURLStr().isEmpty());
    for (QWidget* w : { static_cast<QWidget*>(m_folderLabel), static_cast<QWidget*>(m_folder),
             static_cast<QWidget*>(m_chooseFolder) })
        apply(w, a.folder);
    apply(m_automount, a.automount);
    apply(m_mount, a.mountButton);
    if (a.networkUsbAutomountTitle)
        m_automount->setText(loc("Network/USB automount"));
    const DestinationStatus s = destinationStatusFor(l.get(), m_admin->isChecked(), tagOf(m_targetType));
    QStyle::StandardPixmap icon = QStyle::SP_CustomBase;
    switch (s.icon) {
    case DestinationStatus::IconOk:
        icon = QStyle::SP_DialogApplyButton;
        break;
    case DestinationStatus::IconWarning:
        icon = QStyle::SP_MessageBoxWarning;
        break;
    case DestinationStatus::IconError:
        icon = QStyle::SP_MessageBoxCritical;
        break;
    case DestinationStatus::IconNone:
        break;
    }
    m_statusIcon->setPixmap(
        icon == QStyle::SP_CustomBase ? QPixmap() : style()->standardIcon(icon).pixmap(16, 16));
    m_statusText->setText(s.text);
}

void IBackup3PropertiesController::validateDIControls()
{
    const bool image = tagOf(m_targetType) == 1;
    m_sizeType->setEnabled(image);
    m_customSize->setEnabled(image);
    m_customSizeLabel->setEnabled(image);
    const bool custom = tagOf(m_sizeType) == 1;
    m_customSize->setVisible(custom);
    m_customSizeLabel->setVisible(custom);
}

void IBackup3PropertiesController::validateThinning()
{
    const int type = tagOf(m_cuttingType);
    m_cuttingCount->setVisible(type != 0);
    m_cuttingUnit->setVisible(type == 1);
    m_cuttingOne->setVisible(type == 2);
    if (m_cuttingCount->integerValue() < 0)
        m_cuttingCount->setIntegerValue(0);
}

void IBackup3PropertiesController::validateStartIfLate()
{
    const ScheduleFormRules::ScheduleForm f = m_schedule->form();
    m_startIfLate->setEnabled(ScheduleFormRules::startIfLateEnabled(f));
    m_startIfLate->setChecked(ScheduleFormRules::startIfLateShown(f, m_startIfLateStored));
}

void IBackup3PropertiesController::validateProcessOnMount()
{
    const std::shared_ptr<ILocation> l = m_device->selectedLocation();
    const bool removable = m_project->removableLocationCountWithExtDest(l.get()) > 0;
    m_processOnMount->setEnabled(removable);
    if (!removable)
        m_processOnMount->setChecked(false);
}

void IBackup3PropertiesController::capturePattern(QLineEdit* field, const QString& title)
{
    UiPrompts::ItemChoiceRequest r;
    r.prompt = title;
    r.okButton = loc("Capture");
    r.files = true;
    r.folders = true;
    r.capturePatternRows = true;
    QStringList paths;
    {
        ModalDepthGuard modal;
        paths = UiPrompts::shared().chooseItems(r);
    }
    if (paths.isEmpty())
        return;
    ICapturePatternController& capture = ICapturePatternController::shared();
    const QString pattern = CapturePattern::patternForItem(capture.patternRule(), paths.first());
    if (pattern.isEmpty())
        return;
    field->setText(CapturePattern::combined(field->text(), pattern, capture.isCombPatWithPrev()));
}

Backup3SettingsForm IBackup3PropertiesController::form() const
{
    Backup3SettingsForm f;
    f.name = m_name->text();
    f.targetType = tagOf(m_targetType);
    if (!m_device->isFilled()) {
        // The volume table has not answered yet: the destination stays as it is.
        if (const std::shared_ptr<ILocation> dest = m_project->destLocation())
            f.destination.reset(ILocation::createCopy(*dest));
    } else if (const std::shared_ptr<ILocation> l = m_device->selectedLocation()) {
        f.destination.reset(ILocation::createCopy(*l));
    }
    f.automount = m_automount->isChecked();
    f.admin = m_admin->isChecked();
    f.neverDelete = m_neverDelete->isChecked();
    f.considerModDate = m_considerDate->isChecked();
    f.excludeInvisible = m_excludeInvisible->isChecked();
    f.excludeFinderData = m_excludeFinderData->isChecked();
    f.excludeApplications = m_excludeApplications->isChecked();
    f.excludeAliases = m_excludeAliases->isChecked();
    f.extendedAttrs = tagOf(m_extAttrs);
    f.useExcludePattern = m_useExclude->isChecked();
    f.excludePattern = m_exclude->text();
    f.useIncludePattern = m_useInclude->isChecked();
    f.includePattern = m_include->text();
    f.color = m_color->color();
    f.schedule = m_schedule->form();
    f.processOnMount = m_processOnMount->isChecked();
    f.processOnMountEnabled = m_processOnMount->isEnabled();
    f.startIfLate = m_startIfLate->isChecked();
    f.cuttingType = tagOf(m_cuttingType);
    f.cuttingCount = long(m_cuttingCount->integerValue());
    f.cuttingUnit = tagOf(m_cuttingUnit);
    f.diMaxSizeType = tagOf(m_sizeType);
    f.diCustomSizeGB = m_customSize->floatValue();
    f.diCustomInUse = m_customSize->isEnabled() && f.diMaxSizeType == 1;
    return f;
}

void IBackup3PropertiesController::clickOk()
{
    if (form().diCustomInUse
        && m_customSize->isNumberOkInString(m_customSize->text()) != IQVNumberField::NumberOk) {
        Beep::beep();
        m_customSize->changeNumberFieldData();
        m_customSize->setFocus();
        return;
    }
    applyForm(form(), *m_project, m_project->backup3Container(), Clock::current().now());
    accept();
}
