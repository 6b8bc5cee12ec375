#include "projects/IAgentTool.h"

#include "platform/AppPaths.h"
#include "platform/DistributedNotificationCenter.h"
#include "platform/LoginItem.h"
#include "platform/PlistBridge.h"
#include "projects/QVAgentState.h"
#include "projects/QVConnectMessage.h"
#include "utilities/IAgentMessageSender.h"
#include "utilities/IShellServices.h"

#include <QDBusConnection>
#include <QDir>
#include <QFileInfo>
#include <cmath>

namespace {

const QString kCatPrefix = QStringLiteral("qv3_cat::");
const QString kCatRequest = QStringLiteral("qv3_cat::input_file_name");
const QString kCatError = QStringLiteral("qv3_cat:: error_can_not_open_file ");

QString agentId()
{
    return QString::fromLatin1(IAgentTool::agentBundleIdentifier);
}

class ConnectMessageSender : public IAgentMessageSender
{
public:
    void sendMessage(qint32 type, const QString& text) override
    {
        QVConnectMessage::messageWithSenderAndType(type, text).send();
    }
};

} // namespace

IAgentTool& IAgentTool::shared()
{
    static IAgentTool* tool = new IAgentTool;
    return *tool;
}

IAgentTool::IAgentTool() = default;

QString IAgentTool::launcherName()
{
    return QStringLiteral("QVP3Launcher.app");
}

QString IAgentTool::mainAppPath() const
{
    // The main bundle: the folder above Contents, found from this program or the tests' override.
    return QDir::cleanPath(AppPaths::contentsDir() + QStringLiteral("/.."));
}

QString IAgentTool::launcherPath() const
{
    return mainAppPath() + QStringLiteral("/Contents/Library/LoginItems/") + launcherName();
}

QString IAgentTool::packedAgentPath() const
{
    const QString contents = AppPaths::contentsDir();
    if (contents.isEmpty())
        return QString();
    return AppPaths::resourcesDir() + QStringLiteral("/KelvaneAgent.app");
}

QString IAgentTool::agentExecutable(const QString& bundlePath)
{
    return bundlePath + QStringLiteral("/Contents/MacOS/QVP3Launcher");
}

bool IAgentTool::isAgentWorking() const
{
    return LoginItem::isRunning(agentId());
}

bool IAgentTool::getAutostart() const
{
    return LoginItem::isEnabled(agentId());
}

bool IAgentTool::setStartAtLogin(const QString& bundlePath, bool enabled)
{
    QString error;
    const bool ok = enabled
        ? LoginItem::enable(agentId(), QStringLiteral("QVP3Launcher"), agentExecutable(bundlePath), &error)
        : LoginItem::disable(agentId(), &error);
    if (!ok) {
        const QString line = enabled ? QStringLiteral("Launcher %1 installation error.")
                                     : QStringLiteral("Launcher %1 removing error.");
        qWarning("%s %s", qPrintable(line.arg(agentId())), qPrintable(error));
    }
    return ok;
}

bool IAgentTool::setAgentAutostart(bool enabled)
{
    const bool ok = setStartAtLogin(workingAgentPath(), enabled);
    m_autostart = 2;
    return ok;
}

QString IAgentTool::agentIdentifier(const QString& bundlePath) const
{
    if (bundlePath.isEmpty() || !QFileInfo(bundlePath).isDir())
        return QString();
    const auto result = PlistBridge::readFile(bundlePath + QStringLiteral("/Contents/Info.plist"));
    if (result.status != PlistBridge::ReadStatus::Ok)
        return QString();
    const QString identifier = PlistValue::string(result.value.toMap(), QStringLiteral("CFBundleIdentifier"));
    return identifier.isEmpty() ? QString() : identifier;
}

bool IAgentTool::killBackupAgent(const QString& identifier)
{
    // Only the owner of the identifier's name on the user's bus is signalled: never a process
    // picked by name from the whole system.
    if (identifier.isEmpty() || !LoginItem::isRunning(identifier))
        return false;
    return LoginItem::stop(identifier);
}

bool IAgentTool::killAgent()
{
    QString identifier = agentIdentifier(launcherPath());
    if (identifier.isNull())
        identifier = agentIdentifier(packedAgentPath());
    return killBackupAgent(identifier);
}

double IAgentTool::getLauncherBuild()
{
    if (!isAgentWorking())
        return -1.0;
    setConnectMessageReceiver();
    m_launcherBuild = 0;
    m_buildAnswered = false;
    ++_lastQueryCommandID;
    if (!QVConnectMessage::messageWithSenderAndType(QVConnectMessage::TypeBuildRequest).send())
        return 0;
    // The answer comes through the receiver; wait for it, with a bound, without user input.
    LoginItem::waitUntil([this] { return m_buildAnswered; }, buildAnswerTimeoutMs);
    return m_launcherBuild;
}

void IAgentTool::validateLauncher()
{
    if (!isAgentWorking())
        return;
    bool numeric = false;
    const double mainBuild
        = AppPaths::infoPlistValue(QStringLiteral("CFBundleVersion")).toString().toDouble(&numeric);
    const double agentBuild = getLauncherBuild();
    if (agentBuild < 0)
        return;
    if (!numeric || std::isnan(agentBuild) || agentBuild != mainBuild) {
        // Stopping waits until the old agent has ended, so that only one ever runs.
        setAgentAutostart(false);
        setAgentAutostart(true);
        return;
    }
    QVConnectMessage::messageWithSenderAndType(QVConnectMessage::TypeDataRequest).send();
}

bool IAgentTool::sendConnectMessage(const QVConnectMessage& message)
{
    return message.hasContent()
        && DistributedNotificationCenter::shared().post(
            QString::fromLatin1(QVConnectMessage::notificationName), message.string());
}

bool IAgentTool::sendDebugMessage(const QVConnectMessage& message)
{
    return sendConnectMessage(message);
}

void IAgentTool::setConnectMessageReceiver()
{
    if (m_receiving)
        return;
    m_receiving = true;
    DistributedNotificationCenter::shared().observe(QString::fromLatin1(QVConnectMessage::notificationName),
        this, [this](const QString&, const QString& object) { connectMessageProcess(object); });
}

void IAgentTool::connectMessageProcess(const QString& object)
{
    if (object.startsWith(kCatPrefix)) {
        if (object == kCatRequest)
            IShellServices::shared().qv3CatFileRequestProcess();
        else if (object.startsWith(kCatError) && object.size() > kCatError.size())
            IShellServices::shared().qv3CatFileErrorProcess(object.mid(kCatError.size()));
        // The tool's acknowledgement and other tool texts need nothing.
        return;
    }
    const QVConnectMessage message = QVConnectMessage::messageWithString(object);
    if (message.type() == QVConnectMessage::TypeBuildAnswer) {
        m_launcherBuild = message.floatForKey(QStringLiteral("Build"), 0.0);
        m_buildAnswered = true;
        return;
    }
    // Everything else, own posts and text that did not parse (type 0) included, goes to the hub,
    // which filters by sender and type.
    IShellServices::shared().connectMessageProcess(message);
}

bool IAgentTool::startMainApplicationLink()
{
    installDebugMessageSender();
    installStateChangeHook();
    QDBusConnection bus = DistributedNotificationCenter::shared().connection();
    return bus.isConnected() && bus.registerService(QString::fromLatin1(mainAppBundleIdentifier));
}

void IAgentTool::installStateChangeHook()
{
    QVAgentState::setChangeHook([] { IShellServices::shared().validateScheduleSuspenderControls(); });
}

void IAgentTool::installDebugMessageSender()
{
    static ConnectMessageSender sender;
    IAgentMessageSender::setShared(&sender);
}
