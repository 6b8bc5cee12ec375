#pragma once

#include "archive/CBackupTaskDesc.h"
#include "projects/IProject.h"

#include <QDateTime>
#include <QStringList>
#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

class CBackup;
class ITaskWrapperARCH;
struct ArchiveJobEnd;

// The face of an archive project that the interface and the run engine talk to. Each CBackup
// owns one from its construction; the run state and the message routing live here.
class IBackup : public IProject
{
    Q_OBJECT
public:
    explicit IBackup(CBackup* backup);
    ~IBackup() override;

    CBackup* backup() const { return m_backup; }
    void setBackup(CBackup* backup) { m_backup = backup; }

    QString name() const override;
    QByteArray utf8StringCode() const override { return m_processingCode; }
    QString processingCodeString() const override { return QString::fromUtf8(m_processingCode); }
    void setProcessingCodeString(const QByteArray& code) { m_processingCode = code; }

    void setInProcess(bool inProcess, int operation) override;
    bool isInProcess() const override { return m_inProcess; }
    int currentOperation() const override { return m_operation; }
    // Something to archive and, for an optical destination, a drive to burn on.
    bool isReadyForInterface() const override;
    bool isReady() const { return m_backup && isReadyForInterface(); }
    // A drive to burn on is known (the burn-drive list is not empty).
    static bool isCDRWInSystem();

    // Status-line texts (0x20) are kept here; window and run-log texts go on to the shell.
    void processMessage(const LogText& text, quint64 options, QObject* sender) override;
    QString lastStatusString() const override { return m_lastStatus; }
    static constexpr qsizetype kStatusLineBytes = 2046;
    static QString statusLineText(const QString& text);

    // What changed outside the interface (5 items, 6 archive list, 7 loaded); the panes redraw.
    void registerExternalChange(int what);
    int lastExternalChange() const { return m_lastExternalChange; }
    int externalChangeCount() const { return m_externalChanges; }

    // Progress of the running job, 0-100. It never moves back during a run: a lower value than
    // a current non-zero one is ignored; setIndicatorPositionInZero, setFullSize and the end of
    // a run reset it.
    double indicatorPosition() const override { return m_indicator.load(); }
    double indicatorPositionForGlobal() const override;
    void setIndicatorPosition(double position) override;
    void setIndicatorPosition(double position, bool showNow) override;
    void setIndicatorPositionInZero();

    // Folders the user keeps out of every build.
    QStringList excludePathList() const { return m_excludePathList; }
    void setExcludePathList(const QStringList& list) { m_excludePathList = list; }

    // The progress text of long tree walks, with one "%d" for the count; null when none.
    QString progressFormat() const { return m_progressFormat; }
    void setProgressFormat(const QString& format) { m_progressFormat = format; }

    // ---- run control: the project's tool jobs, one at a time ----
    // Starts the job now; false (and a log line) when it could not start.
    bool startTar(const CBackupTaskDesc& task);
    // Queues the job; run() starts the queue.
    void prepareForTar(const CBackupTaskDesc& task);
    bool run();
    int cmdVectorSize() const { return int(m_tasks.size()); }
    // The chain attributes of the running job and of the queued ones, in order.
    QList<quint8> chainAttributes() const
    {
        QList<quint8> attrs;
        if (m_runner)
            attrs << m_current.processAttr;
        for (const CBackupTaskDesc& t : m_tasks)
            attrs << t.processAttr;
        return attrs;
    }
    // The user's stop: ends the running job's whole pipeline and drops the rest of the queue.
    void stopByUser();
    // Ends the run control's part of a run (called by CBackup::stopTar).
    void stopTar();
    bool isJobRunning() const { return bool(m_runner); }
    // The job that ended last, for its post-processing.
    const CBackupTaskDesc& finishedTask() const { return m_finished; }
    // The units (list entries) the job will report; clears the processed count and indicator.
    void setFullSize(double size);

    // Warnings found before the tools start (a source that is gone): the bits every new job
    // starts with, and their count for the summary.
    void setWarnErrorsBeforeStartUtils(quint8 bits) { m_warnErrorsBeforeStartUtils = bits; }
    quint8 warnErrorsBeforeStartUtils() const { return m_warnErrorsBeforeStartUtils; }
    void setWarnCount(quint64 count) { m_analitics.warningCount = count; }

    // The figures of a run for its summary in the log.
    struct Analitics
    {
        quint64 warningCount = 0;
        QDateTime beginingDate;
        QDateTime endingDate;
        quint64 totalFileCount = 0;
        quint64 procFolderCount = 0;
        quint64 procFileCount = 0;
        quint64 procSize = 0;
        quint64 resultSize = 0;
    };
    void clearAnalitics();
    void setBeginningDateToNow();
    void setEndingDateToNow();
    void setResultSize(quint64 size) { m_analitics.resultSize = size; }
    Analitics processAnalitics() const;
    // The run's summary (after a build): warnings, duration, items, sizes.
    void printAnalitics();
    // At each job's start, to the run log: who started it, the sources' and the destination's
    // volumes.
    void printStartStatisticToLog();

    // Classification of one output line of a job (any thread); public for tests.
    void classifyLine(const QByteArray& line);
    // The end-status bits of a finished job from its stage statuses and its classified lines.
    quint8 endStatusFor(const CBackupTaskDesc& task, const ArchiveJobEnd& end) const;
    void resetJobCounters();
    quint64 memberLines() const { return m_members.load(); }
    int warnCount() const { return m_warnLines.load(); }
    QList<QPair<QString, QString>> renamedFiles() const;

    // Password of the project (asks the user; a null string when none was given).
    QString getBackupPasswordByUser();
    QString getRestorePasswordByUser();
    QString currentPassword() const { return m_currentPassword; }
    void setCurrentPassword(const QString& password) { m_currentPassword = password; }

    // For drivers and tests: each job's process group and stage vectors as it starts, and the
    // end of a whole run (no job left).
    std::function<void(qint64 pgid, const QList<QStringList>& stages)> onJobStarted;
    std::function<void()> onRunEnded;

    // A chain restore: one of its jobs failed.
    bool chainFailed() const { return m_chainFailed; }
    void setChainFailed(bool on) { m_chainFailed = on; }
    bool userStopped() const { return m_userStopped; }
    // The last job could not start because administrator rights were refused (counts as a stop).
    bool authorizationRefused() const { return m_authorizationRefused; }
    // The user skipped or cancelled the search for an archive of this run.
    bool archivePromptRefused() const { return m_archivePromptRefused; }

    // The cat tool of the running split restore asks for its next volume: answers it on the bus
    // ("QV3_CAT"), "-" after the last one. A volume nobody can find fails the job.
    void sendFileNameToQV3Cat();
    // The cat tool could not read a volume it was given.
    void qv3CatFileError(const QString& path);
    // The next volume's path, "-" when none follows; null when the user cancelled the search.
    QString getNextSplitedArcFileName();
    // A new build or restore begins: a stop of an earlier run no longer counts.
    void clearUserStop()
    {
        m_userStopped = false;
        m_authorizationRefused = false;
        m_archivePromptRefused = false;
    }

private:
    CBackup* m_backup = nullptr;
    QByteArray m_processingCode;
    bool m_inProcess = false;
    int m_operation = 0;
    QString m_lastStatus;
    int m_lastExternalChange = 0;
    int m_externalChanges = 0;
    std::atomic<double> m_indicator { 0 };
    QStringList m_excludePathList;
    QString m_progressFormat;

    void logFromReader(const QByteArray& line);
    void syncKeychainBox(bool box);
    void jobEnded(const CBackupTaskDesc& task, const ArchiveJobEnd& end);
    // Hands a finished (or never started) job to the project's run end.
    void endTask(const CBackupTaskDesc& task);
    CBackupTaskDesc m_finished;
    std::deque<CBackupTaskDesc> m_tasks;
    std::shared_ptr<ITaskWrapperARCH> m_runner;
    std::atomic<quint64> m_members { 0 };
    std::atomic<int> m_warnLines { 0 };
    std::atomic<int> m_errorLines { 0 };
    std::atomic<int> m_notFoundLines { 0 };
    mutable std::mutex m_logMutex;
    QList<QPair<QString, QString>> m_renamed;
    QString m_currentPassword;
    bool m_chainFailed = false;
    bool m_userStopped = false;
    bool m_authorizationRefused = false;
    bool m_archivePromptRefused = false;
    CBackupTaskDesc m_current; // the running job
    int m_volumeIndex = 0;
    bool m_volumeFailed = false; // a volume could not be found or read: the job fails
    double m_fullSize = 0;
    // Progress and figures of the running job, counted on the reader thread.
    std::atomic<quint64> m_processedUnits { 0 };
    std::atomic<int> m_postedPercent { 0 };
    std::atomic<qint64> m_lastProgressTextMs { 0 };
    std::atomic<quint64> m_procFolders { 0 };
    std::atomic<quint64> m_procFiles { 0 };
    std::atomic<quint64> m_procSize { 0 };
    quint8 m_warnErrorsBeforeStartUtils = 0;
    Analitics m_analitics;
    void countMember(const QByteArray& line);
};
