#pragma once

#include "platform/RootProcess.h"
#include "platform/Subprocess.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

// How one archive job ended: the exit status of every stage as the script's last line "end
// S1 S2 S3" gave them (empty when that line never came), and whether a stop was requested.
struct ArchiveJobEnd
{
    QList<int> statuses;
    bool endLineSeen = false;
    bool stopped = false;
    QString error; // why the job did not run to its end line, for the log
    // Every stage ran and exited 0.
    bool allZero() const;
};

// What the script writer adds around the stages.
struct ArchiveScriptOptions
{
    // A root job: sudo drops the environment, so the script reads the password from the first
    // line of its standard input into QV_ARCH_PASS, then closes that input.
    bool passwordOnStdin = false;
    // Put before the cat tool's stage (the stage whose program is named "qv3_cat"), so that it
    // runs as the invoking user on the application's bus inside a root job.
    QStringList catPrefix;
};

// Runs one archive job: up to three tool stages joined by pipes in a generated bash script, as
// the user or as root. The script lives in the process's private temporary folder (0700), is
// removed on every end path, and prints "end ${PIPESTATUS[*]}" last so that each stage's status
// is known. The password reaches openssl only through the child's environment (QV_ARCH_PASS);
// a root job gets it on standard input (never in a file or an argument).
class ITaskWrapperARCH : public std::enable_shared_from_this<ITaskWrapperARCH>
{
public:
    // Called on the reader thread with each complete output line (without the line feed); the
    // last line without a line feed is handed over at end of data.
    using LineHandler = std::function<void(const QByteArray& line)>;
    // Called once per job on the main thread after every stage was reaped.
    using EndHandler = std::function<void(const ArchiveJobEnd& end)>;

    ITaskWrapperARCH(const QList<QStringList>& stages, const QString& password);
    ~ITaskWrapperARCH();
    ITaskWrapperARCH(const ITaskWrapperARCH&) = delete;
    ITaskWrapperARCH& operator=(const ITaskWrapperARCH&) = delete;

    // The script's text for these stages (each argument one quoted word).
    static QByteArray scriptText(
        const QList<QStringList>& stages, const ArchiveScriptOptions& options = ArchiveScriptOptions());
    // The prefix that runs the cat tool as the invoking user inside a root job: setpriv back to
    // the real user and group, with the application's own session bus; empty when the process
    // itself runs as root (nothing to give back).
    static QStringList catUserPrefix();
    // Runs the job as root through the privilege backend (before start()).
    void setAsRoot(bool on) { m_asRoot = on; }
    bool asRoot() const { return m_asRoot; }
    // The last start failed because administrator rights were refused.
    bool notAuthorized() const { return m_notAuthorized; }
    // The statuses of an "end S1 S2 …" line; false for any other line.
    static bool parseEndLine(const QByteArray& line, QList<int>* statuses);

    bool start(LineHandler onLine, EndHandler onEnd, QString* error);
    // SIGTERM to the job's process group; the end is reported once, from the job's end.
    void stop();
    pid_t processGroup() const { return m_pgid; }
    QString scriptPath() const { return m_script; }

private:
    void onChunk(const char* data, size_t size);
    void finishLines();
    void handleLine(const QByteArray& line);

    bool startUser(QString* error);
    bool startRoot(QString* error);
    void waitRoot();

    QList<QStringList> m_stages;
    QString m_password;
    QString m_script;
    bool m_asRoot = false;
    bool m_notAuthorized = false;
    Subprocess m_proc;
    std::unique_ptr<RootProcess> m_root;
    std::atomic<bool> m_stopRequested { false };
    std::thread m_waiter;
    LineHandler m_onLine;
    QByteArray m_pending;
    std::mutex m_mutex;
    ArchiveJobEnd m_end;
    pid_t m_pgid = 0;
};
