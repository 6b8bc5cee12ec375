// A StatusNotifierWatcher on the session bus for tray tests: it owns
// "org.kde.StatusNotifierWatcher", says a host is registered, and appends one line per
// RegisterStatusNotifierItem call to the file named by its argument: "<service argument>\t<caller>".
// It quits when its bus connection is lost or on SIGTERM.
#include <QCoreApplication>
#include <QDBusAbstractAdaptor>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QFile>
#include <QStringList>
#include <QTimer>
#include <csignal>
#include <cstdio>

namespace {

QString g_recordPath;

class Watcher : public QObject
{
    Q_OBJECT
public:
    QStringList items;
};

class WatcherAdaptor : public QDBusAbstractAdaptor
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(QStringList RegisteredStatusNotifierItems READ registeredItems)
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ isHostRegistered)
    Q_PROPERTY(int ProtocolVersion READ protocolVersion)
public:
    explicit WatcherAdaptor(Watcher* watcher)
        : QDBusAbstractAdaptor(watcher)
        , m_watcher(watcher)
    { }
    QStringList registeredItems() const { return m_watcher->items; }
    bool isHostRegistered() const { return true; }
    int protocolVersion() const { return 0; }

public Q_SLOTS:
    void RegisterStatusNotifierItem(const QString& service, const QDBusMessage& message)
    {
        m_watcher->items << service;
        QFile file(g_recordPath);
        if (file.open(QIODevice::Append))
            file.write((service + u'\t' + message.service() + u'\n').toUtf8());
        Q_EMIT StatusNotifierItemRegistered(service);
    }
    void RegisterStatusNotifierHost(const QString&) { Q_EMIT StatusNotifierHostRegistered(); }

Q_SIGNALS:
    void StatusNotifierItemRegistered(const QString& service);
    void StatusNotifierItemUnregistered(const QString& service);
    void StatusNotifierHostRegistered();

private:
    Watcher* m_watcher;
};

volatile std::sig_atomic_t g_stop = 0;
void onTerm(int)
{
    g_stop = 1;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: snwatcher RECORD\n");
        return 2;
    }
    g_recordPath = QString::fromLocal8Bit(argv[1]);
    std::signal(SIGTERM, onTerm);
    QDBusConnection bus = QDBusConnection::sessionBus();
    Watcher watcher;
    new WatcherAdaptor(&watcher);
    if (!bus.isConnected() || !bus.registerObject(QStringLiteral("/StatusNotifierWatcher"), &watcher)
        || !bus.registerService(QStringLiteral("org.kde.StatusNotifierWatcher"))) {
        std::fprintf(stderr, "snwatcher: cannot claim the watcher's name\n");
        return 2;
    }
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, &app, [&] {
        if (g_stop || !bus.isConnected())
            app.quit();
    });
    watch.start(100);
    return app.exec();
}

#include "prog_snwatcher.moc"
