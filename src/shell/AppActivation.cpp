#include "AppActivation.h"

#include "platform/DistributedNotificationCenter.h"
#include "projects/IAgentTool.h"
#include "shell/MainWndController.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QElapsedTimer>
#include <QThread>
#include <cstdio>

AppActivation::AppActivation(MainWndController* hub)
    : QDBusAbstractAdaptor(hub)
    , m_hub(hub)
{
    QDBusConnection bus = DistributedNotificationCenter::shared().connection();
    if (bus.isConnected())
        bus.registerObject(QString::fromLatin1(objectPath), hub, QDBusConnection::ExportAdaptors);
}

bool AppActivation::activateRunning(const QStringList& arguments)
{
    QDBusMessage call = QDBusMessage::createMethodCall(
        QString::fromLatin1(IAgentTool::mainAppBundleIdentifier), QString::fromLatin1(objectPath),
        QStringLiteral("org.freedesktop.Application"), QStringLiteral("Activate"));
    QVariantMap data;
    data.insert(QStringLiteral("arguments"), arguments);
    call << data;
    // The first application claims its name at the top of its start-up and exports the object
    // only when its hub exists: until then the call finds no object, and is repeated.
    QElapsedTimer waited;
    waited.start();
    for (;;) {
        const QDBusMessage reply
            = DistributedNotificationCenter::shared().connection().call(call, QDBus::Block, 25000);
        if (reply.type() == QDBusMessage::ReplyMessage)
            return true;
        const QString error = reply.errorName();
        const bool notYet = error == QLatin1String("org.freedesktop.DBus.Error.UnknownObject")
            || error == QLatin1String("org.freedesktop.DBus.Error.UnknownMethod")
            || error == QLatin1String("org.freedesktop.DBus.Error.UnknownInterface");
        if (!notYet || waited.elapsed() > kStartingBoundMs) {
            std::fprintf(stderr, "The running application did not answer: %s\n", qPrintable(reply.errorMessage()));
            return false;
        }
        QThread::msleep(100);
    }
}

void AppActivation::activateWith(MainWndController& hub, const QStringList& arguments)
{
    const MainWndController::StartFlags flags = MainWndController::parseArguments(arguments);
    if (flags.minimize)
        return;
    // As the agent's "Open" item: shown, and no longer counted as started by the agent.
    g_startedByLauncher = false;
    hub.mainWindowShow();
}

void AppActivation::Activate(const QVariantMap& platformData)
{
    const QVariant arguments = platformData.value(QStringLiteral("arguments"));
    // Wrong types count as no arguments.
    activateWith(
        *m_hub, arguments.typeId() == QMetaType::QStringList ? arguments.toStringList() : QStringList());
}

void AppActivation::Open(const QStringList&, const QVariantMap& platformData)
{
    Activate(platformData);
}

void AppActivation::ActivateAction(const QString&, const QVariantList&, const QVariantMap&) { }
