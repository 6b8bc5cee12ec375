#include "shell/IBPreferencesController.h"

#include "platform/AppPaths.h"
#include "platform/DesktopServices.h"
#include "platform/MainThread.h"
#include "platform/NameCodec.h"
#include "platform/SecretKeychain.h"
#include "projects/QVAgentState.h"
#include "shell/ILogDrawerController.h"
#include "shell/IPreferencesHub.h"
#include "utilities/HelpAnchor.h"
#include "utilities/IAuthorizer.h"
#include "utilities/ICommon.h"
#include "utilities/IPathUtil.h"
#include "utilities/MainPreferences.h"
#include "utilities/RunLog.h"
#include "utilities/UiPrompts.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QTabBar>
#include <QTabWidget>
#include <QVBoxLayout>
#include <cstdlib>
#include <functional>
#include <unistd.h>
#include <vector>

namespace {

QLabel* infoLabel(const QString& text, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setWordWrap(true);
    label->setIndent(24);
    QFont f = label->font();
    f.setPointSizeF(f.pointSizeF() * 0.9);
    label->setFont(f);
    return label;
}

// The check boxes and the settings they show: one table serves the setup and OK.
struct BoxSetting
{
    QCheckBox* box;
    std::function<bool()> read;
    std::function<void(bool)> write; // empty: shown only
};

std::vector<BoxSetting> boxSettings(IBPreferencesController& d)
{
    MainPreferences& p = MainPreferences::shared();
    auto bit = [](int b) { return [b] { return (MainPreferences::shared().agentState().getInt() & b) != 0; }; };
    auto setBit = [](int b) {
        return [b](bool on) {
            PrefsAgentState& s = MainPreferences::shared().agentState();
            if (on)
                s.setOn(b);
            else
                s.setOff(b);
        };
    };
    return {
        // The status menu first, then scheduled starts (both keep the agent bit in line).
        { d.showStatusMenu(), bit(QVAgentState::ShowStatusMenu), setBit(QVAgentState::ShowStatusMenu) },
        { d.enableSchedule(), bit(QVAgentState::ScheduleOn), setBit(QVAgentState::ScheduleOn) },
        { d.useAgent(), bit(QVAgentState::AgentNeeded), {} },
        { d.collectLogs(), [&p] { return p.collectLogs(); }, [&p](bool on) { p.setCollectLogs(on); } },
        { d.viewFilesAsAdmin(), [&p] { return p.viewFilesAsAdmin(); }, [&p](bool on) { p.setViewFilesAsAdmin(on); } },
        { d.adminInfoSaveToKeychain(), [&p] { return p.adminInfoSaveToKeychain(); },
            [&p](bool on) { p.setAdminInfoSaveToKeychain(on); } },
        { d.hideCloneWarning(), [&p] { return p.hideCloneWarning(); }, [&p](bool on) { p.setHideCloneWarning(on); } },
        { d.onlyErrorsToSystemNotification(), [&p] { return p.onlyErrorSendToSysNotification(); },
            [&p](bool on) { p.setOnlyErrorSendToSysNotification(on); } },
        { d.useCustomTmpFolder(), [&p] { return p.useCustomTmpFolder(); }, [&p](bool on) { p.setUseCustomTmpFolder(on); } },
    };
}

// A missing or empty administrator item; an unreachable keychain says nothing.
bool adminItemMissing()
{
    for (const char* account : { IAuthorizer::NameAccount, IAuthorizer::PasswordAccount }) {
        QString secret;
        const SecretKeychain::Status status = SecretKeychain::shared().read(QString::fromLatin1(account), &secret);
        if (status == SecretKeychain::Status::NotFound || (status == SecretKeychain::Status::Ok && secret.isEmpty()))
            return true;
    }
    return false;
}

} // namespace

IBPreferencesController::IBPreferencesController(IPreferencesHub& hub, QWidget* parent)
    : QDialog(parent)
    , m_hub(hub)
{
    setWindowTitle(tr("Preferences"));
    setModal(true);
    auto* layout = new QVBoxLayout(this);
    m_pages = new QTabWidget(this);
    m_pages->addTab(schedulerPage(), tr("Scheduler"));
    m_pages->addTab(logsPage(), tr("Logs"));
    m_pages->addTab(adminPage(), tr("Administrator"));
    m_pages->addTab(foldersPage(), tr("Temporary Folder"));
    m_pages->addTab(updatesPage(), tr("Updates"));
    m_pages->setMinimumWidth(m_pages->tabBar()->sizeHint().width() + 24);
    layout->addWidget(m_pages);
    auto* row = new QHBoxLayout;
    auto* help = new QPushButton(QStringLiteral("?"), this);
    help->setFixedWidth(help->sizeHint().height());
    help->setToolTip(tr("Help"));
    connect(help, &QPushButton::clicked, this, &IBPreferencesController::helpPressed);
    row->addWidget(help);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText(tr("OK"));
    buttons->button(QDialogButtonBox::Cancel)->setText(tr("Cancel"));
    connect(buttons, &QDialogButtonBox::accepted, this, &IBPreferencesController::okPressed);
    connect(buttons, &QDialogButtonBox::rejected, this, &IBPreferencesController::cancelPressed);
    row->addWidget(buttons);
    layout->addLayout(row);
}

QWidget* IBPreferencesController::schedulerPage()
{
    auto* page = new QWidget(this);
    auto* l = new QVBoxLayout(page);
    m_enableSchedule = new QCheckBox(tr("Start projects on schedule"), page);
    m_useAgent = new QCheckBox(tr("Use the scheduling agent"), page);
    m_useAgent->setEnabled(false);
    m_showStatusMenu = new QCheckBox(tr("Show the agent's status menu"), page);
    l->addWidget(m_enableSchedule);
    l->addWidget(infoLabel(tr("Projects with a schedule start at their time, also while the application "
                              "is closed: the agent starts it."),
        page));
    l->addWidget(m_showStatusMenu);
    l->addWidget(m_useAgent);
    l->addStretch();
    return page;
}

QWidget* IBPreferencesController::logsPage()
{
    auto* page = new QWidget(this);
    auto* l = new QVBoxLayout(page);
    m_collectLogs = new QCheckBox(tr("Collect logs"), page);
    l->addWidget(m_collectLogs);
    auto* form = new QFormLayout;
    auto* levels = new QHBoxLayout;
    m_detailLevel = new QButtonGroup(page);
    const char* names[] = { "Errors only", "Normal", "Detailed" };
    for (int i = 0; i < 3; ++i) {
        auto* radio = new QRadioButton(tr(names[i]), page);
        m_detailLevel->addButton(radio, i);
        levels->addWidget(radio);
    }
    levels->addStretch();
    form->addRow(tr("Details:"), levels);
    m_logFileCount = new QComboBox(page);
    for (const int count : { 5, 10, 20, 50, 100 })
        m_logFileCount->addItem(QString::number(count), count);
    form->addRow(tr("Keep log files:"), m_logFileCount);
    m_logsFolder = new QLineEdit(page);
    m_logsFolder->setMinimumWidth(320);
    form->addRow(tr("Logs folder:"), m_logsFolder);
    l->addLayout(form);
    auto* buttons = new QHBoxLayout;
    auto* choose = new QPushButton(tr("Choose..."), page);
    auto* reveal = new QPushButton(tr("Show"), page);
    auto* reset = new QPushButton(tr("Default"), page);
    m_clearLogs = new QPushButton(tr("Clear Logs..."), page);
    connect(choose, &QPushButton::clicked, this, &IBPreferencesController::chooseLogFolderPressed);
    connect(reveal, &QPushButton::clicked, this, &IBPreferencesController::revealInFinder);
    connect(reset, &QPushButton::clicked, this, &IBPreferencesController::resetPathLogFiles);
    connect(m_clearLogs, &QPushButton::clicked, this, &IBPreferencesController::clearLogsFolder);
    for (QPushButton* b : { choose, reveal, reset, m_clearLogs })
        buttons->addWidget(b);
    buttons->addStretch();
    l->addLayout(buttons);
    l->addStretch();
    return page;
}

QWidget* IBPreferencesController::adminPage()
{
    auto* page = new QWidget(this);
    auto* l = new QVBoxLayout(page);
    m_viewFilesAsAdmin = new QCheckBox(tr("View files as administrator"), page);
    l->addWidget(m_viewFilesAsAdmin);
    l->addWidget(infoLabel(tr("Project sources show files that only the administrator can read."), page));
    m_saveToKeychain = new QCheckBox(tr("Keep the administrator password in the keyring"), page);
    connect(m_saveToKeychain, &QCheckBox::clicked, this, &IBPreferencesController::changeAdminInfoSaveToKeychain);
    l->addWidget(m_saveToKeychain);
    l->addWidget(infoLabel(tr("Scheduled projects that need administrator rights then run without asking."), page));
    m_hideCloneWarning = new QCheckBox(tr("Do not show the clone warning"), page);
    l->addWidget(m_hideCloneWarning);
    m_onlyErrors = new QCheckBox(tr("Send only errors to the system notifications"), page);
    l->addWidget(m_onlyErrors);
    l->addStretch();
    return page;
}

QWidget* IBPreferencesController::foldersPage()
{
    auto* page = new QWidget(this);
    auto* l = new QVBoxLayout(page);
    m_useCustomTmp = new QCheckBox(tr("Use a custom folder for temporary files"), page);
    connect(m_useCustomTmp, &QCheckBox::toggled, this, &IBPreferencesController::useCustomTmpFolderChanged);
    l->addWidget(m_useCustomTmp);
    auto* row = new QHBoxLayout;
    m_customTmp = new QLineEdit(page);
    m_customTmp->setMinimumWidth(320);
    m_chooseTmp = new QPushButton(tr("Choose..."), page);
    connect(m_chooseTmp, &QPushButton::clicked, this, &IBPreferencesController::chooseTmpFolderPressed);
    row->addWidget(m_customTmp);
    row->addWidget(m_chooseTmp);
    l->addLayout(row);
    l->addWidget(infoLabel(tr("Archives for discs are built here before they are burned."), page));
    l->addStretch();
    return page;
}

QWidget* IBPreferencesController::updatesPage()
{
    auto* page = new QWidget(this);
    auto* l = new QVBoxLayout(page);
    m_checkUpdates = new QCheckBox(tr("Check for updates automatically"), page);
    connect(m_checkUpdates, &QCheckBox::toggled, this, &IBPreferencesController::changeCheckUpdateAtStart);
    l->addWidget(m_checkUpdates);
    auto* form = new QFormLayout;
    m_checkInterval = new QComboBox(page);
    m_checkInterval->addItems({ tr("Daily"), tr("Weekly"), tr("Monthly") });
    form->addRow(tr("Check:"), m_checkInterval);
    l->addLayout(form);
    l->addWidget(infoLabel(tr("This build is updated by the system's package manager."), page));
    l->addStretch();
    return page;
}

void IBPreferencesController::setupDialog()
{
    m_settingUp = true;
    MainPreferences& prefs = MainPreferences::shared();
    if (adminItemMissing())
        prefs.setAdminInfoSaveToKeychain(false);
    int count = m_logFileCount->findData(prefs.getKeepLogFilesCount());
    if (count < 0) {
        m_logFileCount->addItem(QString::number(prefs.getKeepLogFilesCount()), prefs.getKeepLogFilesCount());
        count = m_logFileCount->count() - 1;
    }
    m_logFileCount->setCurrentIndex(count);
    for (const BoxSetting& s : boxSettings(*this))
        s.box->setChecked(s.read());
    if (QAbstractButton* level = m_detailLevel->button(prefs.logDetailsLevel()))
        level->setChecked(true);
    m_logsFolder->setText(RunLog::shared().getLogsPath());
    m_customTmp->setText(IPathUtil::getTmpFolderPath());
    useCustomTmpFolderChanged();
    m_usedAgent = m_useAgent->isChecked();

    m_checkUpdates->setChecked(m_hub.automaticallyChecksForUpdates());
    const double interval = m_hub.updateCheckInterval();
    m_checkInterval->setCurrentIndex(-1);
    for (int i = 0; i < 3; ++i)
        if (interval == kIntervals[i])
            m_checkInterval->setCurrentIndex(i);
    changeCheckUpdateAtStart();
    QSettings* settings = AppPaths::appSettings();
    settings->setValue(QStringLiteral("SUCheckAtStartup"), QStringLiteral("-"));
    settings->sync();
    m_settingUp = false;
}

int IBPreferencesController::runDialog()
{
    setupDialog();
    ModalDepthGuard modal;
    const int code = exec() == QDialog::Accepted ? 1 : 0;
    hide();
    return code;
}

void IBPreferencesController::okPressed()
{
    MainPreferences& prefs = MainPreferences::shared();
    // The agent bits first: the table sets the status menu, then scheduled starts.
    for (const BoxSetting& s : boxSettings(*this))
        if (s.write)
            s.write(s.box->isChecked());
    const int state = prefs.agentState().getInt();
    const bool needed = (state & (QVAgentState::ScheduleOn | QVAgentState::ShowStatusMenu)) != 0;
    m_hub.removeAgentIfNeed();
    if (needed && !m_hub.isAgentWorking())
        m_hub.startAgent();
    if ((state & QVAgentState::AgentNeeded) && m_hub.isAgentWorking())
        m_hub.sendCMWithActiveDatas();

    if (m_detailLevel->checkedId() >= 0)
        prefs.setLogDetailsLevel(m_detailLevel->checkedId());
    prefs.setCustomTmpFolderPath(m_customTmp->text());
    if (m_logFileCount->currentIndex() >= 0)
        prefs.setKeepLogFilesCount(m_logFileCount->currentData().toInt());
    ICommon::saveMainPrefValue(m_logsFolder->text(), QStringLiteral("LogFilesFolder"));
    prefs.savePreferences();

    m_hub.setAutomaticallyChecksForUpdates(m_checkUpdates->isChecked());
    if (m_checkUpdates->isChecked()) {
        const int item = m_checkInterval->currentIndex();
        if (item >= 0 && item < 3)
            m_hub.setUpdateCheckInterval(kIntervals[item]);
    }
    done(QDialog::Accepted);
}

void IBPreferencesController::cancelPressed()
{
    done(QDialog::Rejected);
    if (!MainPreferences::shared().adminInfoSaveToKeychain())
        IAuthorizer::shared().clearKeychain();
}

void IBPreferencesController::reject()
{
    cancelPressed();
}

void IBPreferencesController::helpPressed()
{
    MyGotoHelpAnchor(QStringLiteral("ui_preferences_html"));
}

void IBPreferencesController::clickEvent()
{
    raise();
    activateWindow();
}

bool IBPreferencesController::isWritableFolder(const QString& path)
{
    if (path.isEmpty())
        return false;
    std::string name = NameCodec::encodeStd(path) + "/.kv-write-test.XXXXXX";
    const int fd = ::mkstemp(name.data());
    if (fd < 0)
        return false;
    ::close(fd);
    ::unlink(name.c_str());
    return true;
}

QString IBPreferencesController::chooseFolder(const QString& prompt, const QString& start)
{
    UiPrompts::FolderChoiceRequest request;
    request.prompt = prompt;
    request.okButton = tr("Choose");
    request.startPath = start;
    return UiPrompts::shared().chooseFolder(request);
}

void IBPreferencesController::useCustomTmpFolderChanged()
{
    const bool on = m_useCustomTmp->isChecked();
    m_chooseTmp->setEnabled(on);
    m_customTmp->setEnabled(on);
    if (!on || m_settingUp || !isVisible() || isWritableFolder(m_customTmp->text()))
        return;
    chooseTmpFolderPressed();
    if (!isWritableFolder(m_customTmp->text()))
        m_useCustomTmp->setChecked(false);
}

void IBPreferencesController::chooseTmpFolderPressed()
{
    const QString chosen = chooseFolder(tr("Choose folder to store temporary files"), m_customTmp->text());
    if (!chosen.isNull())
        m_customTmp->setText(chosen);
}

void IBPreferencesController::chooseLogFolderPressed()
{
    const QString chosen = chooseFolder(tr("Choose folder to store log files"), m_logsFolder->text());
    if (!chosen.isNull())
        m_logsFolder->setText(chosen);
}

void IBPreferencesController::resetPathLogFiles()
{
    m_logsFolder->setText(IPathUtil::currentWorkspacePath() + QStringLiteral("/Logs"));
}

void IBPreferencesController::revealInFinder()
{
    DesktopServices::reveal(m_logsFolder->text());
}

void IBPreferencesController::clearLogsFolder()
{
    UiPrompts::Alert alert;
    alert.style = UiPrompts::AlertStyle::Warning;
    alert.title = tr("Delete the old run logs?");
    alert.text = tr("The run logs in \"%1\" are deleted, except the log of this run. Other files stay.")
                     .arg(RunLog::shared().getLogsPath());
    alert.buttons = { tr("Delete"), tr("Cancel") };
    if (UiPrompts::shared().showAlert(alert) != 0)
        return;
    RunLog::clearRunLogs();
    // The log window's file stays open for appending: emptied in place.
    ::truncate(NameCodec::encode(ILogDrawerController::sessionLogPath()).constData(), 0);
}

void IBPreferencesController::changeAdminInfoSaveToKeychain()
{
    if (m_saveToKeychain->isChecked() && !MainPreferences::shared().adminInfoSaveToKeychain()
        && !IAuthorizer::shared().userAuthorize())
        m_saveToKeychain->setChecked(false);
    if (!m_saveToKeychain->isChecked())
        IAuthorizer::shared().clearKeychain();
}

void IBPreferencesController::changeCheckUpdateAtStart()
{
    m_checkInterval->setEnabled(m_checkUpdates->isChecked());
}
