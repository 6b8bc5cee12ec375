#pragma once

#include "KvTest.h"
#include "platform/AppPaths.h"
#include "utilities/FileOps.h"
#include "utilities/IPathUtil.h"
#include "utilities/MainPreferences.h"
#include "utilities/RunLog.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QMap>
#include <QTemporaryDir>

// An empty home for one test: HOME and the XDG folders point into a temporary folder on the
// build's file system, and the workspace singletons start from their defaults. Everything is
// restored when the fixture ends.
class WorkspaceFixture
{
public:
    WorkspaceFixture()
        : m_dir(QDir(KvTest::buildDir()).filePath(QStringLiteral("kv-home-XXXXXX")))
    {
        for (const char* name :
            { "HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_STATE_HOME", "XDG_CACHE_HOME", "TMPDIR" })
            m_saved.insert(name, qEnvironmentVariableIsSet(name) ? qgetenv(name) : QByteArray());
        const QByteArray home = QFile::encodeName(home_());
        qputenv("HOME", home);
        qputenv("XDG_DATA_HOME", home + "/.local/share");
        qputenv("XDG_CONFIG_HOME", home + "/.config");
        qputenv("XDG_STATE_HOME", home + "/.local/state");
        qputenv("XDG_CACHE_HOME", home + "/.cache");
        QDir().mkpath(home_() + QStringLiteral("/tmp"));
        qputenv("TMPDIR", home + "/tmp");
        resetSingletons();
    }
    ~WorkspaceFixture()
    {
        resetSingletons();
        // Qt's own removal skips names that are not UTF-8.
        FileOps::removeTree(QFile::encodeName(home_()).toStdString());
        for (auto it = m_saved.cbegin(); it != m_saved.cend(); ++it) {
            if (it.value().isNull())
                qunsetenv(it.key().constData());
            else
                qputenv(it.key().constData(), it.value());
        }
        AppPaths::resetAppSettings();
    }

    bool isValid() const { return m_dir.isValid(); }
    QString home() const { return home_(); }
    QString dataHome() const { return home_() + QStringLiteral("/.local/share"); }
    QString workspace() const { return dataHome() + QStringLiteral("/Kelvane 3"); }
    QString prefsFile() const { return workspace() + QStringLiteral("/QVPrefs.plist"); }
    QString tmp() const { return home_() + QStringLiteral("/tmp"); }

    // Forget what the singletons learned, as a new start of the application would.
    static void resetSingletons()
    {
        RunLog::shared().closeLog();
        IPathUtil::resetShared();
        MainPreferences::resetShared();
        AppPaths::resetAppSettings();
    }

private:
    QString home_() const { return m_dir.path(); }
    QTemporaryDir m_dir;
    QMap<QByteArray, QByteArray> m_saved;
};

inline QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

inline bool writeFile(const QString& path, const QByteArray& data)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(data) == data.size();
}
