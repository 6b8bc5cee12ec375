#pragma once

#include "projects/IProject.h"

#include <QByteArray>
#include <QPointer>
#include <QStringList>
#include <QTimer>
#include <array>
#include <memory>
#include <sys/types.h>

class ITaskWrapperController;
class RootProcess;
class Subprocess;

// Runs the child processes of one run for a controller and hands their output back to it: up to
// three processes joined as a pipe chain (the first member's output is the second's input, and so
// on), all in the first member's process group so that one signal stops the whole chain, or, for
// an archive restore into a folder the user cannot write, the first command line through the root
// runner. A run ends once every stream it reads has reached end of data and a one-second end
// timer has run; the controller then gets processFinished exactly once.
//
// Streams: the error stream of each member and the output of the last member. Their blocks are
// read on reader threads and posted to the main thread in order; end of data sets that stream's
// end mark there. Main thread only (start, stop and all controller calls).
class ITaskWrapper : public QObject
{
    Q_OBJECT
public:
    // Command lines: element 0 is the program, the rest its arguments; an empty list is absent.
    ITaskWrapper(ITaskWrapperController* controller, const QStringList& arguments, qint64 taskToolCode,
        const QStringList& arguments2, qint64 taskToolCode2, const QStringList& arguments3,
        qint64 taskToolCode3, qint64 taskToolCodeAll, qint64 mainTaskIndex, qint64 generalTaskCode,
        QObject* parent = nullptr);
    ~ITaskWrapper() override;

    void setProject(IProject* project) { _project = project; }
    IProject* project() const { return _project; }
    qint64 generalTaskCode() const { return m_generalTaskCode; }
    QStringList getArguments() const { return m_arguments[0]; }

    // Starts the run; false when nothing was launched (or when the root restore start took over).
    bool startProcess();
    // Normal end (the end timer calls it): the controller is told the run finished.
    void stopProcess();
    // Stops every member and the root run at once; the controller is told the run finished.
    bool terminateProcess();

    bool isStarted() const { return !m_stoped[0]; }
    bool isTaskStoped() const { return m_stoped[0]; }
    bool isTerminatedByUser() const { return m_terminateByUser; }
    void setTerminatedByUser() { m_terminateByUser = true; }
    bool isTerminatedByClonePreparer() const { return m_terminateByBootClodePreparing; }
    // True while the first member is alive or a root run is known.
    bool isRunning() const;

    // Writes the text (UTF-8) to the first member's standard input; nothing when there is no text
    // or no member, false when the process no longer reads.
    bool sendStdMessage(const QString& text);
    // The exit status of member 1, 2 or 3: 0 while it runs, when it is missing or for any other
    // number; a member ended by a signal answers 128 + the signal.
    int terminationStatus(int member) const;
    // The process ids of the members that were launched, in chain order (the root shell's for a
    // root run).
    QList<pid_t> memberPids() const;
    pid_t processGroup() const;
    pid_t childProcess() const { return _childProcess; }

    // Alive: present in the process table and neither a zombie nor stopped.
    static bool isProcessAliveByPID(pid_t pid);
    static pid_t parentPIDForProcess(pid_t pid);

    void clearNotifications();

protected:
    // True when the controller reads the first member's streams itself (synchronizations).
    virtual bool controllerReadsFirstMember() const;

private:
    enum Stream
    {
        Err1 = 0,
        Err2 = 1,
        Err3 = 2,
        LastOut = 3
    };
    bool startAdminRestore();
    void stopMembers();
    void deliver(Stream stream, const QByteArray& data);
    void streamEnded(Stream stream);
    void normalEndingPrepare();
    void scheduleEvent();
    int memberCount() const;
    void finishRun();

    ITaskWrapperController* controller = nullptr;
    std::array<QStringList, 3> m_arguments;
    std::array<qint64, 3> m_taskToolCode {};
    qint64 m_taskToolCodeAll = 0;
    qint64 m_taskOutputToolCode = 0;
    qint64 m_mainTaskIndex = 0;
    qint64 m_generalTaskCode = IProject::GTC_UNKNOWN;
    std::array<std::unique_ptr<Subprocess>, 3> m_tasks;
    std::unique_ptr<RootProcess> m_clonePipe;
    // End-of-stream marks: the three error streams and the final output; set means ended.
    std::array<bool, 4> m_stoped { true, true, true, true };
    bool m_stopProcessFlag = false;
    QTimer* m_endingTimer = nullptr;
    bool m_terminateByUser = false;
    bool m_terminateByBootClodePreparing = false;
    pid_t _childProcess = 0;
    IProject* _project = nullptr;
    // Bumped at every start and stop: blocks posted by an earlier run are dropped.
    std::shared_ptr<int> m_generation;
};

// The synchronization variant: it reads the first member's streams itself for every task code and
// hands the blocks to the controller's utilOutputProcess.
class ITaskWrapperSYNC : public ITaskWrapper
{
    Q_OBJECT
public:
    using ITaskWrapper::ITaskWrapper;

protected:
    bool controllerReadsFirstMember() const override { return false; }
};
