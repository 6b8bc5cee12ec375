#pragma once

#include <QByteArray>
#include <QString>
#include <atomic>
#include <cjson/cJSON.h>
#include <memory>
#include <vector>
#include <mutex>
#include <string>
#include <sys/types.h>

class IProcessCard;
class ISynchron;
class PrivilegeBackend;
class RootProcess;
class Subprocess;

// Runs the outside engine qv_proc for one project: fills a program from TemplateProc.plist,
// writes it to a private file, starts the engine (as the user, or as root for clones and
// administrator projects), reads its protocol lines and turns them into card flags, indicator
// positions, log texts and, in analyses, items for the comparison tree.
//
// Threads: the engine's output is read on a reader thread; item lines, the indicator and the
// destination device go to the main thread in order, the end (Client::engineFinished) last and
// waited for. The reader keeps the runner alive (shared ownership) until it has ended; the main
// thread never waits for the reader.
class IQVProc : public std::enable_shared_from_this<IQVProc>
{
public:
    // The run controller's side.
    class Client
    {
    public:
        virtual ~Client() = default;
        // The program key: "synchronize", "clone_RSYNC" or "clone_ASR".
        virtual QString QVProcGetParamsTemplateNameForProject(ISynchron& project) = 0;
        // Fills the program and the start parameters; false refuses the start.
        virtual bool QVProcInitParamsForProject(ISynchron& project, cJSON* program, cJSON* startParams) = 0;
        virtual void QVProcStartInfoToLog(ISynchron&) { }
        // One "wi::" item of an analysis (main thread, in order).
        virtual void QVProcWorkInfoProcess(const QByteArray&) { }
        // A batch of "wi::" items, in order (main thread); the reader posts one batch at a time.
        virtual void QVProcWorkInfoBatch(const std::vector<QByteArray>& items)
        {
            for (const QByteArray& item : items)
                QVProcWorkInfoProcess(item);
        }
        // The engine's output ended (main thread, after every other update).
        virtual void ITProcessFinished() = 0;
        // The engine was started: its starter's process group, for the run's own records.
        virtual void engineStarted(const QStringList&, pid_t) { }
    };

    // Creates a runner and starts it; null when the start failed (the card tells why).
    static std::shared_ptr<IQVProc> startProject(const std::shared_ptr<ISynchron>& project, Client* client);

    IQVProc(const std::shared_ptr<ISynchron>& project, Client* client);
    ~IQVProc();
    IQVProc(const IQVProc&) = delete;
    IQVProc& operator=(const IQVProc&) = delete;

    bool start();
    IProcessCard* card() const;

    // The program text under the key in TemplateProc.plist; null when the file or key is missing.
    static QString programTemplateForKey(const QString& key);

    // The user's stop: "Terminating..." and the engine's whole group is ended.
    void terminateByUser();
    // Ends the engine's group; false when it has not reported its process id yet.
    bool terminate();

    // The engine's process id as it reported it; 0 until then.
    qint64 processID() const { return m_processID.load(); }
    // The destination device the engine reported ("id::"), empty when none.
    QString destinationDevice() const;
    // The program file of the run (removed when the run ends).
    QString programFilePath() const { return m_programPath; }
    bool finished() const { return m_finished.load(); }

    // One protocol line (without its break); public for the reader and for tests.
    void processLine(const char* line);

private:
    void readDevice(const char* json);
    bool startEngine(
        bool asRoot, const QString& enginePath, const QString& programPath, const QByteArray& startParams);
    void readOutput(const char* data, size_t size);
    void readErrors(const char* data, size_t size);
    void endOfOutput();
    void message(const QString& text, quint64 options);
    void removeProgramFile();

    std::shared_ptr<ISynchron> m_project;
    Client* m_client = nullptr;
    std::atomic<qint64> m_processID { 0 };
    mutable std::mutex m_mutex;
    QString m_device;
    QString m_programKey;
    QString m_programPath;
    bool m_clone = false;
    bool m_asRoot = false;
    std::unique_ptr<Subprocess> m_user;
    std::unique_ptr<RootProcess> m_root;
    struct LineState;
    std::unique_ptr<LineState> m_out;
    std::unique_ptr<LineState> m_err;
    struct ItemQueue;
    std::shared_ptr<ItemQueue> m_items; // analysis items waiting for the main thread
    std::atomic<bool> m_finished { false };
    std::atomic<bool> m_stopping { false };
};
