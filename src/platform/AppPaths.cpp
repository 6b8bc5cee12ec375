#include "AppPaths.h"

#include "NameCodec.h"
#include "PlistBridge.h"

#include <QMutex>
#include <QMutexLocker>
#include <climits>
#include <memory>
#include <pwd.h>
#include <unistd.h>

namespace {

QMutex g_mutex;
QString g_contentsOverride;
QString g_workspaceOverride;
QString g_infoPath; // the Info.plist the cache was read from
QVariantMap g_info;
bool g_infoLoaded = false;
std::unique_ptr<QSettings> g_settings;

QString envPath(const char* name)
{
    const QByteArray v = qgetenv(name);
    return v.isEmpty() ? QString() : NameCodec::decode(v);
}

QString stripTrailingSlash(QString p)
{
    while (p.size() > 1 && p.endsWith(QLatin1Char('/')))
        p.chop(1);
    return p;
}

QString contentsFromExecutable()
{
    char buf[PATH_MAX + 1];
    const ssize_t n = ::readlink("/proc/self/exe", buf, PATH_MAX);
    if (n <= 0)
        return QString();
    const QString exe = NameCodec::decode(buf, qsizetype(n));
    const QStringList parts = exe.split(QLatin1Char('/'));
    // The outermost bundle folder: the login item's and QVSnap's own trees sit inside it.
    for (qsizetype i = 0; i < parts.size() - 1; ++i) {
        if (parts.at(i).endsWith(QLatin1String(".app")))
            return parts.mid(0, i + 1).join(QLatin1Char('/')) + QStringLiteral("/Contents");
    }
    // A program outside any tree (a test binary): assume it sits in Contents/MacOS.
    const qsizetype slash = exe.lastIndexOf(QLatin1Char('/'));
    const QString dir = exe.left(slash);
    return dir.left(dir.lastIndexOf(QLatin1Char('/')));
}

QString xdg(const char* name, const char* fallbackUnderHome)
{
    const QString v = envPath(name);
    // The base directory specification ignores relative paths.
    if (v.startsWith(QLatin1Char('/')))
        return stripTrailingSlash(v);
    return AppPaths::homeDir() + QLatin1Char('/') + QLatin1String(fallbackUnderHome);
}

} // namespace

QString AppPaths::contentsDir()
{
    {
        QMutexLocker lock(&g_mutex);
        if (!g_contentsOverride.isEmpty())
            return g_contentsOverride;
    }
    const QString env = envPath("KV_APP_CONTENTS");
    if (!env.isEmpty())
        return stripTrailingSlash(env);
    static const QString fromExe = contentsFromExecutable();
    return fromExe;
}

void AppPaths::setContentsDirOverride(const QString& dir)
{
    QMutexLocker lock(&g_mutex);
    g_contentsOverride = stripTrailingSlash(dir);
}

QString AppPaths::macOSDir()
{
    return contentsDir() + QStringLiteral("/MacOS");
}
QString AppPaths::resourcesDir()
{
    return contentsDir() + QStringLiteral("/Resources");
}
QString AppPaths::infoPlistPath()
{
    return contentsDir() + QStringLiteral("/Info.plist");
}
QString AppPaths::resourcePath(const QString& name)
{
    return resourcesDir() + QLatin1Char('/') + name;
}

QString AppPaths::launcherAppPath()
{
    return contentsDir() + QStringLiteral("/Library/LoginItems/QVP3Launcher.app");
}

QVariant AppPaths::infoPlistValue(const QString& key)
{
    const QString path = infoPlistPath();
    QMutexLocker lock(&g_mutex);
    if (!g_infoLoaded || g_infoPath != path) {
        g_info = PlistBridge::readFile(path).map();
        g_infoPath = path;
        g_infoLoaded = true;
    }
    return g_info.value(key);
}

QString AppPaths::systemRoot()
{
    const QString env = envPath("KV_SYSTEM_ROOT");
    return env.isEmpty() ? QStringLiteral("/") : stripTrailingSlash(env);
}

QString AppPaths::homeDir()
{
    const QString home = envPath("HOME");
    if (home.startsWith(QLatin1Char('/')))
        return stripTrailingSlash(home);
    if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir)
        return NameCodec::decode(QByteArray(pw->pw_dir));
    return QStringLiteral("/");
}

QString AppPaths::dataHome()
{
    return xdg("XDG_DATA_HOME", ".local/share");
}
QString AppPaths::configHome()
{
    return xdg("XDG_CONFIG_HOME", ".config");
}
QString AppPaths::stateHome()
{
    return xdg("XDG_STATE_HOME", ".local/state");
}
QString AppPaths::cacheHome()
{
    return xdg("XDG_CACHE_HOME", ".cache");
}

QString AppPaths::currentWorkspacePath()
{
    {
        QMutexLocker lock(&g_mutex);
        if (!g_workspaceOverride.isEmpty())
            return g_workspaceOverride;
    }
    const QVariant stored = appSettings()->value(QStringLiteral("QVCurrentProjectsPath"));
    if (stored.typeId() == QMetaType::QString && !stored.toString().isEmpty())
        return stripTrailingSlash(stored.toString());
    return dataHome() + QStringLiteral("/Kelvane 3");
}

void AppPaths::setWorkspacePathOverride(const QString& path)
{
    QMutexLocker lock(&g_mutex);
    g_workspaceOverride = stripTrailingSlash(path);
}

QSettings* AppPaths::appSettings()
{
    QMutexLocker lock(&g_mutex);
    if (!g_settings) {
        // Qt reads XDG_CONFIG_HOME once per process; take it from the environment as it is now,
        // so a test that points it at a temporary folder and resets gets its own settings.
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, configHome());
        g_settings = std::make_unique<QSettings>(
            QString::fromLatin1(kSettingsOrganization), QString::fromLatin1(kSettingsApplication));
    }
    return g_settings.get();
}

void AppPaths::resetAppSettings()
{
    QMutexLocker lock(&g_mutex);
    g_settings.reset();
}
