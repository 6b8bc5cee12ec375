#include "DesktopServices.h"

#include "NameCodec.h"
#include "Subprocess.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDebug>
#include <sys/stat.h>

namespace {
DesktopServices::Hook& hook()
{
    static DesktopServices::Hook h;
    return h;
}

bool startXdgOpen(const QString& target)
{
    const QStringList argv { QStringLiteral("xdg-open"), target };
    if (hook())
        return hook()(argv);
    Subprocess::Options options;
    options.program = argv.first();
    options.arguments = argv.mid(1);
    options.toolLocale = false;
    QString error;
    if (Subprocess::startDetached(options, &error) > 0)
        return true;
    qWarning().noquote() << "xdg-open could not be started:" << error;
    return false;
}
} // namespace

QString DesktopServices::fileUri(const QString& path)
{
    const QByteArray bytes = NameCodec::encode(path);
    return QStringLiteral("file://") + QString::fromLatin1(bytes.toPercentEncoding("/"));
}

bool DesktopServices::reveal(const QString& path)
{
    struct stat st;
    if (path.isEmpty() || ::lstat(NameCodec::encodeStd(path).c_str(), &st) != 0)
        return false;
    const QString uri = fileUri(path);
    if (hook()) {
        if (hook()({ QStringLiteral("ShowItems"), uri }))
            return true;
    } else {
        QDBusConnection bus = QDBusConnection::sessionBus();
        const QString service = QStringLiteral("org.freedesktop.FileManager1");
        if (bus.isConnected() && bus.interface()) {
            const auto activatable = bus.interface()->activatableServiceNames();
            if (bus.interface()->isServiceRegistered(service).value()
                || (activatable.isValid() && activatable.value().contains(service))) {
                QDBusMessage call = QDBusMessage::createMethodCall(service,
                    QStringLiteral("/org/freedesktop/FileManager1"), service, QStringLiteral("ShowItems"));
                call << QStringList { uri } << QString();
                const QDBusMessage reply = bus.call(call, QDBus::Block, 5000);
                if (reply.type() == QDBusMessage::ReplyMessage)
                    return true;
                qInfo().noquote() << "The file manager did not show the item:" << reply.errorMessage();
            }
        }
    }
    // the folder that holds it
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    const QString folder = slash > 0 ? path.left(slash) : QStringLiteral("/");
    return startXdgOpen(fileUri(folder));
}

bool DesktopServices::openUrl(const QUrl& url)
{
    if (!url.isValid() || url.scheme().isEmpty())
        return false;
    return startXdgOpen(url.toString(QUrl::FullyEncoded));
}

void DesktopServices::setHookForTests(Hook h)
{
    hook() = std::move(h);
}
