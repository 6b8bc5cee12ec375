#include "agent/QVLMainController.h"

#include "agent/QVLStatusMenu.h"
#include "platform/AppPaths.h"
#include "platform/Clock.h"
#include "platform/DistributedNotificationCenter.h"
#include "platform/LoginItem.h"
#include "platform/MainThread.h"
#include "platform/MountWatcher.h"
#include "platform/PlistBridge.h"
#include "platform/Subprocess.h"
#include "platform/TimerScale.h"
#include "platform/UuidText.h"
#include "projects/AgentStateMerge.h"
#include "projects/IAgentTool.h"
#include "projects/QVConnectMessage.h"
#include "utilities/IDiskUtil.h"
#include "utilities/MainPreferences.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QIcon>
#include <QUrl>

namespace {

QVLMainController* g_controller = nullptr;

const QString kVandryIdentifier = QStringLiteral("com.brisoltica.Kelvane-vandry");

bool isExecutableFile(const QString& path)
{
    const QFileInfo info(path);
    return info.isFile() && info.isExecutable();
}

} // namespace

QVLMainController::QVLMainController(QObject* parent)
    : QObject(parent)
{
    g_controller = this;
    m_launcher = [](const QString& program, const QStringList& arguments, QString* error) {
        Subprocess::Options options;
        options.program = program;
        options.arguments = arguments;
        options.toolLocale = false; // a GUI program keeps the user's locale
        options.newSession = true;
        return Subprocess::startDetached(options, error) > 0;
    };
    m_mainAppRunning = [] {
        return LoginItem::isRunning(QString::fromLatin1(IAgentTool::mainAppBundleIdentifier))
            || LoginItem::isRunning(kVandryIdentifier);
    };
    m_autostart = [] { return LoginItem::isEnabled(QString::fromLatin1(IAgentTool::agentBundleIdentifier)); };
    m_uuidLookup = [](const MountEntry& entry) {
        IDiskUtil& disks = IDiskUtil::shared();
        return disks.getDiskInfo(entry.mountPoint) ? disks.volumeUUID() : QString();
    };
    m_sender = [](const QVConnectMessage& message) { message.send(); };
    m_poster = [](const QString& name, const QString& object) {
        DistributedNotificationCenter::shared().post(name, object);
    };
    _timer.setInterval(TimerScale::scaled(timerIntervalMs));
    connect(&_timer, &QTimer::timeout, this, &QVLMainController::timeEvent);
}

QVLMainController::~QVLMainController()
{
    if (g_controller == this)
        g_controller = nullptr;
}

QVLMainController* QVLMainController::shared()
{
    return g_controller;
}

void QVLMainController::setInfo(const QVariantMap& info)
{
    m_info = info;
    m_fullLog = PlistValue::boolean(info, QStringLiteral("FullLogDebug"));
    if (!m_fullLog) {
        const QString text = PlistValue::string(info, QStringLiteral("FullLogDebug"));
        m_fullLog = text.compare(QLatin1String("YES"), Qt::CaseInsensitive) == 0
            || text.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0;
    }
}

QString QVLMainController::bundleVersion() const
{
    const QVariant v = m_info.value(QStringLiteral("Bundle version"));
    return PlistValue::isNumber(v) ? v.toString()
                                   : PlistValue::string(m_info, QStringLiteral("Bundle version"));
}

void QVLMainController::log(const QString& line)
{
    if (!m_fullLog)
        return;
    if (!m_logFile.isOpen()) {
        const QString folder = QVLStateFile::folderPath();
        MainPreferences::createAppSupportFolder(folder);
        m_logFile.setFileName(folder + QStringLiteral("/SessionLog_")
            + Clock::current().now().toString(QStringLiteral("yyyy-MM-dd_HH-mm-ss"))
            + QStringLiteral(".txt"));
        if (!m_logFile.open(QIODevice::Append | QIODevice::Text)) {
            qWarning("%s", qPrintable(line));
            return;
        }
    }
    if (m_logFile.write((line + u'\n').toUtf8()) < 0)
        qWarning("%s", qPrintable(line));
    m_logFile.flush();
}

void QVLMainController::applicationDidFinishLaunching()
{
    m_data.date = QDateTime();
    _timer.stop();
    loadData();
    _timer.start();
    m_mountWatcher = new MountWatcher(this);
    connect(m_mountWatcher, &MountWatcher::mounted, this, &QVLMainController::system_voluemMountNotification);

    DistributedNotificationCenter& center = DistributedNotificationCenter::shared();
    auto observe = [&](const QString& name, void (QVLMainController::*handler)(const QString&)) {
        center.observe(
            name, this, [this, handler](const QString&, const QString& object) { (this->*handler)(object); });
    };
    observe(QStringLiteral("QVP3_NextDate"), &QVLMainController::old_firstScheduledDateFromMain);
    observe(QStringLiteral("QVP3_MainAppPath"), &QVLMainController::old_launchPathFromMain);
    observe(QStringLiteral("QVP3_VolumeID"), &QVLMainController::old_commandsWithVolumeIDFromMain);
    observe(QStringLiteral("QVP3_DATA_QUERY"), &QVLMainController::old_queryMuntedVolumeFromMain);
    observe(QString::fromLatin1(QVConnectMessage::notificationName),
        &QVLMainController::launcherConnectMessageProcess);
    if (isMainAppWorking())
        send(QVConnectMessage::messageWithSenderAndType(QVConnectMessage::TypeDataRequest));
}

bool QVLMainController::applicationShouldTerminate()
{
    if (!isMyinAutostart()) {
        m_data.date = QDateTime();
        saveData();
    }
    return true;
}

bool QVLMainController::loadData()
{
    QString problem;
    m_data = QVLStateFile::load(&problem);
    if (!problem.isEmpty()) {
        qWarning("%s", qPrintable(problem));
        log(problem);
    }
    if (m_data.agentState.isOn(QVAgentState::ShowStatusMenu))
        schedulerStatusMenuChanged();
    return true;
}

bool QVLMainController::saveData()
{
    QString error;
    const bool ok = QVLStateFile::save(m_data, &error);
    if (!error.isEmpty()) {
        qWarning("%s", qPrintable(error));
        log(error);
    }
    return ok;
}

bool QVLMainController::isMyinAutostart() const
{
    return m_autostart && m_autostart();
}

bool QVLMainController::isMainAppWorking() const
{
    return m_mainAppRunning && m_mainAppRunning();
}

QString QVLMainController::mainAppPath() const
{
    const QString told = m_data.launchPath;
    if (!told.isEmpty() && isExecutableFile(told + u'/' + QLatin1String(mainAppExecutable)))
        return told;
    return IAgentTool::shared().mainAppPath();
}

bool QVLMainController::launchMainAppWithActivating(bool activating)
{
    // The date is cleared first, so that a due date fires at most once.
    m_data.date = QDateTime();
    saveData();
    const QString path = mainAppPath();
    const QString program = path + u'/' + QLatin1String(mainAppExecutable);
    QStringList arguments { QStringLiteral("launcher") };
    if (!activating)
        arguments << QStringLiteral("minimize");
    QString error;
    const bool ok = m_launcher && m_launcher(program, arguments, &error);
    if (ok) {
        log(QStringLiteral("Main App started"));
    } else {
        const QString line = QStringLiteral("Error: Can't launch \"%1\" %2").arg(path, error);
        qWarning("%s", qPrintable(line));
        log(line);
        log(QStringLiteral("Main App not started"));
    }
    return ok;
}

void QVLMainController::timeEvent()
{
    // Qt runs timers inside dialogs and event pumps; the schedule waits for them to end.
    if (ModalDepthGuard::depth() > 0)
        return;
    const QDateTime now = Clock::current().now();
    log(QStringLiteral("\n\n%1\n=== Schedule processing ===\n").arg(QVConnectMessage::textFromDate(now)));
    QVAgentState& state = m_data.agentState;
    if (!state.isOn(QVAgentState::ScheduleOn))
        return;
    if (state.isOn(QVAgentState::Suspended)) {
        if (!state.isTimeToResumeSchedile())
            return;
        schedulerStatusMenuChanged();
        sendCMWithActiveDatas();
        saveData();
    }
    if (!m_data.date.isValid()) {
        log(QStringLiteral("Next process date is empty"));
        return;
    }
    log(QStringLiteral("Next process date: %1,  Now date: %2")
            .arg(QVConnectMessage::textFromDate(m_data.date), QVConnectMessage::textFromDate(now)));
    // While the main application runs, it schedules its own work and the date stays.
    if (now > m_data.date && !isMainAppWorking())
        launchMainAppWithActivating(false);
}

void QVLMainController::system_voluemMountNotification(const MountEntry& entry)
{
    const QVAgentState& state = m_data.agentState;
    if (!state.isOn(QVAgentState::ScheduleOn) || state.isOn(QVAgentState::Suspended)
        || m_data.volumeIDArray.isEmpty())
        return;
    const QString uuid = m_uuidLookup ? m_uuidLookup(entry) : QString();
    if (uuid.isEmpty()) {
        log(QStringLiteral("No volume UUID for the mount at %1").arg(entry.mountPoint));
        return;
    }
    bool listed = false;
    for (const QString& id : std::as_const(m_data.volumeIDArray))
        listed = listed || UuidText::equal(id, uuid);
    if (!listed)
        return;
    // A running main application starts its own on-mount projects; a second one would run them again.
    if (isMainAppWorking()) {
        log(QStringLiteral("Volume %1 mounted while the main application runs").arg(entry.mountPoint));
        return;
    }
    _lastMountedVolumePath = entry.mountPoint;
    launchMainAppWithActivating(false);
}

void QVLMainController::send(const QVConnectMessage& message)
{
    if (m_sender)
        m_sender(message);
}

void QVLMainController::sendCMWithActiveDatas()
{
    QVConnectMessage message = QVConnectMessage::messageWithSenderAndType(QVConnectMessage::TypeAgentState);
    message.setAgentState(m_data.agentState);
    send(message);
}

void QVLMainController::sendCMWithStartParameters()
{
    QVConnectMessage message
        = QVConnectMessage::messageWithSenderAndType(QVConnectMessage::TypeStartParameters);
    message.setAgentState(m_data.agentState);
    if (_selectedMenuItemTag) {
        message.setInt(1, QStringLiteral("LaunchingReason"));
        message.setInt(_selectedMenuItemTag, QStringLiteral("StatusMenuSelectedItemTag"));
    } else if (!_lastMountedVolumePath.isEmpty()) {
        message.setInt(2, QStringLiteral("LaunchingReason"));
        message.setString(_lastMountedVolumePath, QStringLiteral("LastMountedVolume"));
    } else {
        message.setInt(3, QStringLiteral("LaunchingReason"));
    }
    send(message);
    // A reason is told once: a later launch must not repeat an old menu choice or mount.
    _selectedMenuItemTag = 0;
    _lastMountedVolumePath.clear();
}

void QVLMainController::launcherConnectMessageProcess(const QString& object)
{
    if (object.isEmpty())
        return;
    const QVConnectMessage message = QVConnectMessage::messageWithString(object);
    if (!message.hasContent()) {
        log(QStringLiteral("Dropped a message that is not one JSON object"));
        return;
    }
    const int promotion = message.senderPromotionType();
    if (message.senderProgramType() == QVConnectMessage::Agent || (promotion != 1 && promotion != 2))
        return;
    switch (message.type()) {
    case QVConnectMessage::TypeBuildRequest: {
        QVConnectMessage answer
            = QVConnectMessage::messageWithSenderAndType(QVConnectMessage::TypeBuildAnswer);
        answer.setFloat(bundleVersion().toDouble(), QStringLiteral("Build"));
        send(answer);
        return;
    }
    case QVConnectMessage::TypeDataRequest:
        sendCMWithActiveDatas();
        return;
    case QVConnectMessage::TypeAgentState: {
        QVAgentState& state = m_data.agentState;
        const bool menuBefore = state.isOn(QVAgentState::ShowStatusMenu);
        const bool scheduleBefore = state.isOn(QVAgentState::ScheduleOn);
        // Replies to an older state go out through AgentStateMerge itself.
        const auto result = AgentStateMerge::apply(state, message, [this] { saveData(); });
        if (result == AgentStateMerge::Result::Dropped) {
            log(QStringLiteral("Dropped a state message without a state"));
            return;
        }
        if (result == AgentStateMerge::Result::Taken
            && (menuBefore || menuBefore != state.isOn(QVAgentState::ShowStatusMenu)
                || scheduleBefore != state.isOn(QVAgentState::ScheduleOn)))
            schedulerStatusMenuChanged();
        return;
    }
    case QVConnectMessage::TypeNextProcessData: {
        const QString path = message.stringForKey(QStringLiteral("MainAppWorkingPath"));
        if (!path.isNull())
            m_data.launchPath = path;
        m_data.date = message.dateForKey(QStringLiteral("FirstProcessDate"));
        m_data.volumeIDArray.clear();
        for (const QVariant& v :
            message.arrayForKey(QStringLiteral("StartOnMountVolumeIdArray")).value_or(QVariantList())) {
            if (v.typeId() == QMetaType::QString && !v.toString().isEmpty())
                m_data.volumeIDArray << v.toString();
            else
                log(QStringLiteral("Dropped a volume entry that is not a text"));
        }
        saveData();
        return;
    }
    case QVConnectMessage::TypeStartParametersRequest:
        sendCMWithStartParameters();
        return;
    default:
        return;
    }
}

void QVLMainController::old_firstScheduledDateFromMain(const QString& object)
{
    if (object == QLatin1String("NONE")) {
        m_data.date = QDateTime();
    } else {
        m_data.date = QDateTime::fromString(object, QStringLiteral("dd MM yyyy HH:mm:ss t"));
        if (!m_data.date.isValid()) {
            m_data.date = QDateTime();
            log(QStringLiteral("Dropped an unreadable date: %1").arg(object));
        }
    }
    saveData();
}

void QVLMainController::old_launchPathFromMain(const QString& object)
{
    m_data.launchPath = object == QLatin1String("NONE") ? QString() : object;
    saveData();
}

void QVLMainController::old_commandsWithVolumeIDFromMain(const QString& object)
{
    if (object == QLatin1String("NONE"))
        m_data.volumeIDArray.clear();
    else if (object == QLatin1String("DONE"))
        saveData();
    else
        addVolumeID(object);
}

void QVLMainController::old_queryMuntedVolumeFromMain(const QString& object)
{
    if (object == QLatin1String("MOUNTED VOLUME") && !_lastMountedVolumePath.isEmpty() && m_poster)
        m_poster(QStringLiteral("QVP3_DATA_RETURN"), _lastMountedVolumePath);
}

void QVLMainController::addVolumeID(const QString& uuid)
{
    if (!uuid.isEmpty())
        m_data.volumeIDArray << uuid;
}

void QVLMainController::setAgentState(const QVAgentState& state)
{
    m_data.agentState.set(state.getInt(), state.modifyInterval(), state.scheduleResumeDate());
}

void QVLMainController::validateAgentStateControls()
{
    if (m_statusMenu)
        m_statusMenu->validateAgentStateControls();
}

void QVLMainController::schedulerStatusMenuChanged()
{
    if (m_data.agentState.isOn(QVAgentState::ShowStatusMenu)) {
        if (m_statusMenu)
            m_statusMenu->validateAgentStateControls();
        else
            m_statusMenu = std::make_unique<QVLStatusMenu>(*this);
    } else {
        m_statusMenu.reset();
    }
}

void QVLMainController::statusMenuScheduleEnabledToggle()
{
    QVAgentState& state = m_data.agentState;
    if (!state.isOn(QVAgentState::ScheduleOn) || state.isOn(QVAgentState::Suspended)) {
        _selectedMenuItemTag = 2;
        state.setOn(QVAgentState::ScheduleOn);
        state.setOff(QVAgentState::Suspended);
        validateAgentStateControls();
        if (isMainAppWorking())
            sendCMWithActiveDatas();
        saveData();
        return;
    }
    _selectedMenuItemTag = 1;
    IScheduleSuspendDialog& dialog = IScheduleSuspendDialog::shared();
    dialog.setIcon(QIcon(QStringLiteral(":/icons/AppIcon.svg")).pixmap(64, 64));
    dialog.showWithController(this, true);
}

void QVLMainController::SSD_OkButton(IScheduleSuspendDialog& dialog)
{
    QVAgentState& state = m_data.agentState;
    const QDateTime resume = dialog.scheduleResumeDate();
    if (resume.isValid())
        state.setScheduleResumeDate(resume); // turns bits 1 and 2 on
    else
        state.setOff(QVAgentState::ScheduleOn | QVAgentState::Suspended); // "unlimited time"
    validateAgentStateControls();
    if (isMainAppWorking())
        sendCMWithActiveDatas();
    saveData();
}

void QVLMainController::openMainApp(int tag)
{
    _selectedMenuItemTag = tag;
    if (isMainAppWorking()) {
        // A second process of the main application would run the same projects: tell the running
        // one instead.
        m_data.date = QDateTime();
        saveData();
        sendCMWithStartParameters();
        return;
    }
    launchMainAppWithActivating(true);
}

void QVLMainController::statusMenuStartMainApp()
{
    openMainApp(3);
}

void QVLMainController::statusMenuStartMainAppWithPrefs()
{
    openMainApp(4);
}

void QVLMainController::statusMenuSendFeebback()
{
    const QString base = PlistValue::string(m_info, QStringLiteral("DSFeedbackMailURL"));
    if (base.isEmpty()) {
        qWarning("No feedback address is configured");
        log(QStringLiteral("No feedback address is configured"));
        return;
    }
    QDesktopServices::openUrl(QUrl(QStringLiteral("%1%2)").arg(base, bundleVersion())));
}
