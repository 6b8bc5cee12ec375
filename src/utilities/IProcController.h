#pragma once

#include "platform/PrivilegeBackend.h"
#include "platform/RootProcess.h"
#include "platform/Subprocess.h"
#include "projects/IProject.h"

#include <QPointer>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <memory>
struct ExecutiveProcess;

// A process found in the process table: its id (0 when nothing was found) and name.
struct ChildProcessRecord
{
    qint64 pid = 0;
    QString name;
};

// The base of the run controllers that drive one project run through child processes (instance
// side), and the one place where commands run as root (class side): the root runners, file
// operations that can run as root, the rsync option list and process lookups.
class IProcController
{
public:
    // ---- class side ----

    // Why the last root run on this thread failed: 0 none, 8 not authorized or the start failed,
    // 16 the tool cannot be executed.
    static int runRootedToolTerminationReason();
    // Result of the last root file operation on this thread: 0, or 6 when authorization was refused.
    static int lastProcessResult();
    static void setLastProcessResult(int result);

    // The root runner: authorizes, starts args as root with its error output joined to its output,
    // consumes the shell's process-id line and hands the id back with the running process
    // (rootPid()). The output handler gets only the command's own output (reader thread).
    // nullptr when it could not start (see runRootedToolTerminationReason()).
    static std::unique_ptr<RootProcess> runRootedToolWithArgsArray(const QStringList& args,
        Subprocess::ChunkHandler output, bool* result = nullptr, const QByteArray& payload = QByteArray());
    // The root runner without a stream: runs args as root and waits; YES only for exit status 0.
    static bool runRootedToolWithArgsArray(const QStringList& args, QString* output = nullptr);

    // Status codes of executeRootedToolArguments.
    enum
    {
        errAuthorizationInternal = -60008,
        errAuthorizationToolExecuteFailure = -60031
    };
    // The rooted tool with a separate error stream: 0 success (the process through *process and
    // the root shell's id through *pid), 1 not authorized, -60008 no process-id line.
    static int executeRootedToolArguments(const QStringList& args, Subprocess::ChunkHandler output,
        Subprocess::ChunkHandler errors, std::unique_ptr<RootProcess>* process, pid_t* pid = nullptr);

    // File operations that can run as root. Paths reach the tools as single arguments after "--"
    // (or as "$1" of a fixed script), so no path is ever read as an option or as shell code.
    static bool makeDir(const QString& path, bool withAdmin, QString* comment = nullptr);
    static bool makeFile(const QString& path, bool withAdmin, QString* comment = nullptr);
    static bool removeDir(const QString& path, bool withAdmin, QString* comment = nullptr);
    static bool removeFile(const QString& path, bool withAdmin, QString* comment = nullptr);
    static bool fileExistsAtPath(
        const QString& path, bool* isDir, bool withAdmin, QString* comment = nullptr);
    static bool makeLinkAtPath(
        const QString& path, const QString& toPath, bool withAdmin, QString* comment = nullptr);
    static quint64 IDForPath(const QString& path, bool withAdmin, QString* comment = nullptr);
    static int permissionForPath(const QString& path, bool withAdmin, QString* comment = nullptr);
    static bool isFolderSupportHardLinks(const QString& folder, bool withAdmin, QString* comment = nullptr);

    // Appends the rsync options of the project's pass, in the established order.
    static void rsyncOptions(QStringList* array, const IProject* project, long pass, bool needStatictics);

    // Process lookups: only among the descendants of the given process (0 = this process),
    // names compared inside that subtree; the newest by start time.
    static qint64 lastChildProcessName(const QString& name, const QString& orName, qint64 forParent);
    // Among the direct children of the parent (0 = this process) whose name matches (a null name
    // matches every process): the newest (last) or the oldest by start time.
    static ChildProcessRecord childProcessName(
        const QString& name, const QString& orName, qint64 forParent, bool last);

    static QString generateUUID();

    // ---- instance side: the process controller base ----

    IProcController();
    virtual ~IProcController();

    // A controller of the base class itself (also when reached through a subclass).
    static std::unique_ptr<IProcController> createWithProject(IProject* project, QObject* controller);

    void setProject(IProject* project);
    IProject* project() const { return m_project; }
    void setController(QObject* controller);
    QObject* controller() const { return m_controller; }

    void setExecutiveProcess(const ExecutiveProcess& process);
    ExecutiveProcess executiveProcess() const;

    // Contents/Resources/qv_proc when it exists and is executable, else null.
    static QString qvProcPath();

    virtual bool startClone(const QVariant& argument);
    virtual void processFinished(const QVariant& argument);
    virtual void ITProcessFinished(const QVariant& argument);
    virtual void QVProcStartInfoToLog(IProject* project);

    // How task wrappers and the engine runner report the end of their process from any thread:
    // ITProcessFinished runs on the main thread, and this returns when it has run.
    void ITProcessFinishedOnMain(const QVariant& argument);

    bool isTaskStoped() const { return m_taskStoped; }
    void setTaskStoped(bool stopped) { m_taskStoped = stopped; }

protected:
    QPointer<QObject> m_controller;
    QPointer<IProject> m_project;
    bool m_taskStoped = false;

private:
    struct RootResult
    {
        bool started = false;
        QByteArray out;
        QByteArray err;
        int exitCode = -1;
    };
    static RootResult runAsRoot(const QStringList& args);
    static bool removeEntry(const QString& path, bool withAdmin, QString* comment,
        int (*userCall)(const char*), const QString& rootTool);
};
