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
#include "shell/dialogs/Beep.h"
#include "shell/dialogs/IQVNumberField.h"
#include "shell/dialogs/ScheduleControls.h"
#include "utilities/HelpAnchor.h"
#include "utilities/IPasswordMD5.h"
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

    // General: name and destination.
    auto* general = new QWidget(m_tabs);
    m_name = new QLineEdit(general);
    m_name->setToolTip(loc("Choose project name"));
    m_folder = new QLineEdit(general);
    m_folder->setReadOnly(true);
    m_folder->setToolTip(loc("Choose backup destination: a folder to save your backup to"));
    m_choose = new QPushButton(loc("Choose..."), general);
    m_choose->setToolTip(m_folder->toolTip());
    m_destStatus = new QLabel(general);
    m_destStatus->setWordWrap(true);
    auto* folderRow = new QHBoxLayout;
    folderRow->addWidget(m_folder, 1);
    folderRow->addWidget(m_choose);
    auto* generalForm = new QFormLayout(general);
    generalForm->addRow(loc("Name:"), m_name);
    generalForm->addRow(loc("Destination:"), folderRow);
    generalForm->addRow(QString(), m_destStatus);
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
    auto* schl = new QVBoxLayout(schedule);
    schl->addWidget(m_schedule);
    schl->addWidget(m_startLate);
    schl->addStretch();
    m_tabs->addTab(schedule, loc("Schedule"));

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
    connect(m_choose, &QPushButton::clicked, this, &IBSettingsViewController::chooseBackupLocation);
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
    updateControls(backup);
    ModalDepthGuard modal;
    return exec() == QDialog::Accepted;
}

void IBSettingsViewController::updateControls(CBackup* backup)
{
    m_backup = backup;
    m_name->setText(backup->name());
    m_destPath = backup->location() ? backup->location()->getUnverifiedFullPath() : QString();
    m_folder->setText(m_destPath);
    showDestinationStatus();
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

void IBSettingsViewController::chooseBackupLocation()
{
    std::unique_ptr<ILocation> location(ILocation::create());
    if (!m_destPath.isEmpty())
        location->setupWithPath(m_destPath);
    if (!m_coordinator || !m_coordinator->chooseDestPathByUser(location.get()))
        return;
    m_destPath = location->getUnverifiedFullPath();
    m_folder->setText(m_destPath);
    showDestinationStatus();
}

void IBSettingsViewController::showDestinationStatus()
{
    if (m_destPath.isEmpty()) {
        m_destStatus->setText(loc("Select a Destination"));
        return;
    }
    std::unique_ptr<ILocation> location(ILocation::create());
    const bool found = location->setupWithPath(m_destPath);
    const int access = found ? location->getAccessWithAdmin(false, false, false) : 0;
    m_destStatus->setText(access == 3 ? loc("Backup is available for the selected destination")
            : access == 2             ? loc("Backup destination is in Read-only mode")
                                      : loc("Selected backup destination is currently unavailable"));
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
    if (!m_destPath.isEmpty()) {
        std::unique_ptr<ILocation> location(ILocation::create());
        if (location->setupWithPath(m_destPath))
            b->setLocation(*location, true);
    }
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
    b->setNextProcessDate(form.scheduled ? ScheduleFormRules::nextDate(form, Clock::current().now()) : QDateTime());
    const QString name = legalDisplayName(m_name->text());
    if (!name.isEmpty() && name != b->name())
        m_container->renameBackup(b, name);
    if (b->isTreeChanged())
        b->save();
    else
        b->saveProperties();
    return true;
}
