#pragma once

// The real application started by the real agent: the agent harness's bus and home, a workspace
// in the home's default place, the application's and the agent's preferences, and a bundle in a
// folder with a blank whose program runs the built application and writes down its arguments and
// exit status (the agent starts it detached, so nobody else sees how it ended).

#include "../agent/AgentHarness.h"
#include "projects/QVAgentState.h"

#include <QDateTime>
#include <QDirIterator>
#include <QProcess>

class AppRoad
{
public:
    AgentHarness h;

    bool setUp(const QString& label)
    {
        if (!h.setUp(label))
            return false;
        const QByteArray wrapper = "#!/bin/sh\n"
                                   "printf '%s\\n' \"$*\" >> \"$KV_ROAD_DIR/argv\"\n"
                                   "\"$KV_ROAD_APP\" \"$@\"\n"
                                   "echo $? >> \"$KV_ROAD_DIR/status\"\n";
        qputenv("KV_ROAD_DIR", h.tree->path().toUtf8());
        qputenv("KV_ROAD_APP", realProgram().toUtf8());
        return h.tree->writeFile(QStringLiteral("road bundle/K Pro.app/Contents/MacOS/Kelvane Pro 3"), wrapper, 0755)
            && QDir().mkpath(workspace()) && QDir().mkpath(workspace() + QStringLiteral("/Logs"));
    }

    static QString realProgram() { return KvTest::appContentsDir() + QStringLiteral("/MacOS/Kelvane Pro 3"); }
    QString bundle() const { return h.tree->filePath(QStringLiteral("road bundle/K Pro.app")); }
    QString workspace() const { return h.tree->filePath(QStringLiteral("data/Kelvane 3")); }
    QStringList argvLines() const { return lines("argv"); }
    QStringList statuses() const { return lines("status"); }

    // The application's preferences of an earlier start (no first-start migration, no question)
    // with the scheduler state word and its stamp.
    bool writeAppPrefs(int state, double stamp) const
    {
        const QByteArray prefs = QStringLiteral(
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
            "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
            "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
            "<plist version=\"1.0\"><dict>\n"
            "<key>GeneralPreferencesScheme</key><integer>2</integer>\n"
            "<key>LastWorkingVersionID</key><string>QV3_NORMAL_PRO</string>\n"
            "<key>AgentState</key><dict><key>State</key><integer>%1</integer>"
            "<key>ModifyInterval</key><real>%2</real></dict>\n"
            "<key>qvShowLog</key><false/>\n"
            "</dict></plist>\n")
                                     .arg(state)
                                     .arg(stamp, 0, 'f', 3)
                                     .toUtf8();
        QFile file(workspace() + QStringLiteral("/QVPrefs.plist"));
        return file.open(QIODevice::WriteOnly) && file.write(prefs) == prefs.size();
    }

    // The agent's state file: the word and stamp, the next date, where the application is.
    bool writeAgentState(int state, double stamp, const QDateTime& next) const
    {
        QVariantMap m;
        m.insert(QStringLiteral("AgentState"), state);
        m.insert(QStringLiteral("AgentStateModifyInterval"), stamp);
        if (next.isValid())
            m.insert(QStringLiteral("NextDateKey"), next.toUTC());
        m.insert(QStringLiteral("LaunchPath"), bundle());
        QDir().mkpath(QFileInfo(h.stateFilePath()).path());
        return PlistBridge::writeFileAtomically(h.stateFilePath(), QVariant(m));
    }

    // kv-run-project's archive kit on the workspace: {exit code, last line, stderr}.
    struct Driven
    {
        int code = -1;
        QByteArray last;
        QByteArray err;
    };
    Driven archiveDriver(const QStringList& args) const
    {
        QProcess p;
        p.start(KvTest::appContentsDir() + QStringLiteral("/MacOS/kv-run-project"),
            QStringList { QStringLiteral("--workspace"), workspace(), QStringLiteral("--kit"),
                QStringLiteral("archive") }
                + args);
        p.closeWriteChannel();
        p.waitForFinished(60000);
        const QList<QByteArray> out = p.readAllStandardOutput().trimmed().split('\n');
        return { p.exitCode(), out.isEmpty() ? QByteArray() : out.last(), p.readAllStandardError() };
    }

    // Every run log of the workspace, one after the other.
    QByteArray runLogs() const
    {
        QByteArray all;
        QDirIterator it(workspace() + QStringLiteral("/Logs"), { QStringLiteral("log_*.txt") }, QDir::Files);
        while (it.hasNext()) {
            QFile f(it.next());
            if (f.open(QIODevice::ReadOnly))
                all += f.readAll();
        }
        return all;
    }

    // The archives below a folder (files whose name starts with the method).
    static QStringList archivesIn(const QString& folder)
    {
        QStringList found;
        QDirIterator it(folder, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            const QString name = it.fileName();
            if (name.startsWith(QLatin1String("full_")) || name.startsWith(QLatin1String("vers_"))
                || name.startsWith(QLatin1String("incr_")))
                found << path;
        }
        return found;
    }

    // The names tar lists in an archive.
    static QStringList tarList(const QString& archive)
    {
        QProcess tar;
        tar.start(QStringLiteral("/usr/bin/tar"), { QStringLiteral("-tf"), archive });
        tar.waitForFinished(30000);
        return QString::fromUtf8(tar.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
    }

private:
    QStringList lines(const char* name) const
    {
        return QString::fromUtf8(h.tree->readFile(std::string(name))).split(u'\n', Qt::SkipEmptyParts);
    }
};
