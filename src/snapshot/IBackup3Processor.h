#pragma once

#include "snapshot/IBackup3Engine.h"
#include "snapshot/IBackup3OutputParser.h"
#include "utilities/WorkEndStatus.h"

#include <QDateTime>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QVariantMap>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <sys/types.h>

class Clock;
class IBackup3;
class IBackup3PassRunner;

// The snapshot-backup run engine. It carries out one run of a project at a time: a backup, or a
// restore when the project carries restore data. A backup prepares the destination (project
// folder, version list, work folder, hard-link test), copies every usable source in its own pass
// with rsync into the run's work folder (unchanged files hard-linked to the previous version),
// and at the end renames the work folder to the dated version folder, records the version,
// thins old versions and reports one result code to the pane.
//
// rsync runs as the user (a child process with two pipes) or, when the project uses administrator
// rights, as root through the privilege backend. Its output is read on reader threads and parsed
// there; the end of a pass (child reaped, pipes at end of data, readers finished) is handed to the
// main thread in-process, tagged with the run and the pass, so a late end of an earlier pass can
// never end the current one. Everything else runs on the main thread.
class IBackup3Processor : public QObject, public IBackup3Engine, private IBackup3OutputParser::Sink
{
    Q_OBJECT
public:
    // The run's work messages (the numbers of the common work-message texts).
    enum : int
    {
        WorkMessageVolumeNotActive = 1,
        WorkMessageFolderNotFound = 2,
        WorkMessageProjectFolderError = 3,
        WorkMessageWorkFolderError = 4,
        WorkMessageTopLevelFolderError = 7,
        WorkMessageNotChosen = 8,
        WorkMessageRenameError = 10,
        WorkMessageProjectFileError = 11,
    };

    // rsync3 from the application's Resources folder and the system clock.
    IBackup3Processor();
    // For tests: another copying tool (null: the application's) and clock (null: Clock::current()).
    explicit IBackup3Processor(const QString& toolPath, Clock* clock = nullptr);
    ~IBackup3Processor() override;

    // ---- The engine as the list drives it ----
    void processProject(const std::shared_ptr<IBackup3>& project) override;
    bool terminateProcess() override;
    bool terminateProcessWithReason(int reason) override;
    void preprocessFailed() override;
    std::shared_ptr<IBackup3> backup3() const override { return _backup3; }
    bool canWork() const override { return !_toolPath.isNull(); }
    bool findTool() const { return true; }
    // A pass runs, or the last run ended less than 11 ticks (1/60 s) ago.
    bool isRunning() const;
    // The user's stop at the end of a pass: ends the child and the run.
    void stopProcess();

    // ---- Accessors ----
    quint32 processStatus() const { return _processStatus; }
    quint64 processErrorAccumulator() const;
    void setHardlinkTest(bool flag) { _hardLinkTest = flag; }
    bool isHardlinkTest() const { return _hardLinkTest; }
    void setCurrentWorkFolderPath(const QString& path) { _currentWorkFolderPath = path; }
    QString currentWorkFolderPath() const { return _currentWorkFolderPath; }
    QString toolPath() const { return _toolPath; }
    // The executable rsync3 of the application; null when it is not there or not executable.
    static QString testToolPath();

    // ---- What tests and the headless driver use ----
    // Replaces the copying tool (null when the path is not executable) and the clock.
    void setToolPath(const QString& path);
    void setClock(Clock* clock) { m_clock = clock; }
    // Called on the main thread with each pass's full argument vector (the tool first) just
    // before the pass starts.
    void setPassArgumentsObserver(std::function<void(const QStringList& argv)> observer)
    {
        m_passArgumentsObserver = std::move(observer);
    }
    // The version folder ("b3_…") the last run recorded; empty when it recorded none.
    QString lastVersionFolderName() const { return m_lastVersionFolderName; }
    // The final report text of the last run ("Backup was successful", "Backup failed", ...).
    QString lastReportText() const { return m_lastReportText; }
    // The result code of the last run (0, 1, 3 or 4); -1 before the first run ends.
    int lastResultCode() const { return m_lastResultCode; }
    // The process id recorded for the running pass: rsync itself (user run) or the root shell
    // (administrator run); 0 when no pass runs.
    pid_t childProcessId() const { return _childProcess.load(); }

    // ---- Command lines ----
    // The backup pass's command line: tool, options, excludes, link folder, source, destination.
    QStringList prepareTaskArgs();
    // The restore pass's command line: tool, options (no deletions, --info=skip1), source, target.
    QStringList prepareRestoreTaskArgs();

    // ---- Destination layout and version list ----
    bool prepareDestBackupFolders(IBackup3& project);
    QString generateProjectFolderNameInDestLocation(IBackup3& project);
    bool createProjectFolder(const QString& path, IBackup3& project, QString* comment);
    bool isFullProjectFolder(const QString& folder, IBackup3& project);
    // Writes the version list (the UUID alone, or the newest version appended); false with
    // *error when it cannot be written.
    bool saveLastProcessData(IBackup3& project, bool UUIDOnly, QString* error = nullptr);

    // Renames the work folder to the version folder without ever replacing anything there.
    // Where the file system lacks the no-replace rename, and for administrator runs, the version
    // folder is made first (its creation is the claim) and the work folder moved onto it.
    // Returns 0, or the errno of the failure (EEXIST when the name is taken).
    static int renameWorkFolder(
        const QString& workFolder, const QString& versionFolder, bool admin, QString* error = nullptr);

private:
    class PassRun;

    // IBackup3OutputParser::Sink (reader threads)
    void parserMessage(const LogText& text, quint64 options) override;
    void parserProgress(double position) override;
    void parserKillRequest() override;

    QDateTime now() const;
    void message(const QString& text, quint64 options);
    void workMessage(int code, const QString& info);

    bool prepareSrcLocations(IBackup3& project);
    QString passItemName(long pass) const;
    void clearExcessTopLevelItemFolderIfOldTemporaryWorkFolder();
    bool createTopLevelItemFolder(long pass);
    bool startPassAtCurrent();
    bool startTask();
    bool startProcess();
    void failStart(const std::shared_ptr<IBackup3>& project);
    void endFailedRunStart(const std::shared_ptr<IBackup3>& project);
    void passEnded(quint64 runId, int exitCode, int exitSignal, bool signalSent);
    long nextPass() const;
    void processContinue();
    void finishTerminated();
    void finishFinal();
    void tryVersionRename(quint64 runId, QDateTime date, bool waited);
    void continueAfterVersion();
    void cutBackup(IBackup3& project);
    void reportEnd(int code);
    void printErrorAccumulatorToLog();
    bool isSourceUnavailable() const;
    // Writes the version list; into a root-owned project folder through the root runner.
    bool writeVersionList(const QString& folder, const QVariantMap& dict, QString* error);
    bool isDestinationUnavailable() const;

    // Fields of the run, as the engine names them.
    bool _terminateByUser = false;
    int _generalTaskCode = 0;
    QStringList _args;
    quint32 _preProcessStatus = wesClear;
    quint32 _processStatus = wesClear;
    QString _toolPath;
    std::shared_ptr<IBackup3> _backup3;
    long _passCount = 0;
    long _currentPass = 0;
    QList<long> _srcIndexes;
    long _loopCount = 0;
    qint64 _processStoppedTickCount = -1000000;
    bool _processFinishedByUser = false;
    QString _currentWorkFolderPath;
    std::atomic<pid_t> _childProcess { 0 };
    bool _hardLinkTest = false;

    // Bits of every pass so far: the version step and the final report see them all.
    quint32 m_runStatus = wesClear;
    bool m_restore = false;
    bool m_admin = false;
    bool m_destinationGone = false;
    QString m_passDestination; // the restore target of the current pass
    quint64 m_runId = 0; // increases with every pass start
    std::unique_ptr<PassRun> m_pass;
    IBackup3OutputParser m_parser;
    // What the reader threads see of the run.
    std::atomic<IBackup3*> m_sinkProject { nullptr };
    std::atomic<quint64> m_sinkRunId { 0 };
    std::atomic<double> m_progress { 0 };
    std::atomic<bool> m_progressPosted { false };
    static constexpr int kProgressIntervalMs = 50;
    Clock* m_clock = nullptr;
    std::function<void(const QStringList&)> m_passArgumentsObserver;
    QString m_lastVersionFolderName;
    QString m_lastReportText;
    int m_lastResultCode = -1;
};
