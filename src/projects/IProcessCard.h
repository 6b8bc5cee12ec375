#pragma once

#include <QString>
#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>

// The seven sectors of a process card, each one 64-bit word of flags.
enum class ProcessCardSector : int
{
    State = 0,
    Phase = 1,
    Reason = 2,
    Error = 3,
    Warning = 4,
    Task = 5,
    Analytic = 6,
};
inline constexpr int kProcessCardSectorCount = 7;

// One named flag: the bit (or bits) it stands for in its sector. A zero value stands for an empty
// sector.
struct ProcessCardFlag
{
    int64_t value;
    ProcessCardSector sector;
    const char* name;
};

inline constexpr ProcessCardFlag stateEmpty { 0, ProcessCardSector::State, "Empty" };
inline constexpr ProcessCardFlag stateRunning { 1, ProcessCardSector::State, "Running" };
inline constexpr ProcessCardFlag stateFinished { 2, ProcessCardSector::State, "Finished" };
inline constexpr ProcessCardFlag taskClear { 0, ProcessCardSector::Task, "Clear" };
inline constexpr ProcessCardFlag taskFullCloning { 1, ProcessCardSector::Task, "FullCloning" };
inline constexpr ProcessCardFlag taskRestore { 2, ProcessCardSector::Task, "Restore" };
inline constexpr ProcessCardFlag taskSplit { 4, ProcessCardSector::Task, "Split" };
inline constexpr ProcessCardFlag taskEncrypt { 8, ProcessCardSector::Task, "Encrypt" };
inline constexpr ProcessCardFlag taskAnalyze { 16, ProcessCardSector::Task, "Analyze" };
inline constexpr ProcessCardFlag taskSnapshots { 32, ProcessCardSector::Task, "Snapshots" };
inline constexpr ProcessCardFlag phaseClear { 0, ProcessCardSector::Phase, "Clear" };
inline constexpr ProcessCardFlag phasePreparing { 1, ProcessCardSector::Phase, "Preparing" };
inline constexpr ProcessCardFlag phaseStarting { 2, ProcessCardSector::Phase, "Starting" };
inline constexpr ProcessCardFlag phaseWorking { 4, ProcessCardSector::Phase, "Working" };
inline constexpr ProcessCardFlag phaseFinishing { 8, ProcessCardSector::Phase, "Finishing" };
inline constexpr ProcessCardFlag phaseStarted { 16, ProcessCardSector::Phase, "Started" };
inline constexpr ProcessCardFlag reasonClear { 0, ProcessCardSector::Reason, "Clear" };
inline constexpr ProcessCardFlag reasonStartingByScheduler { 1, ProcessCardSector::Reason,
    "StartingByScheduler" };
inline constexpr ProcessCardFlag reasonStartingByUser { 2, ProcessCardSector::Reason, "StartingByUser" };
inline constexpr ProcessCardFlag reasonTerminatedByUser { 4, ProcessCardSector::Reason, "TerminatedByUser" };
inline constexpr ProcessCardFlag reasonTerminatedBySleep { 8, ProcessCardSector::Reason,
    "TerminatedBySleep" };
inline constexpr ProcessCardFlag reasonTerminatedByErrors { 16, ProcessCardSector::Reason,
    "TerminatedByErrors" };
inline constexpr ProcessCardFlag reasonCompleted { 32, ProcessCardSector::Reason, "Completed" };
inline constexpr ProcessCardFlag reasonTerminatedByUnknownReason { 64, ProcessCardSector::Reason,
    "TerminatedByUnknownReason" };
inline constexpr ProcessCardFlag reasonStartingError { 128, ProcessCardSector::Reason, "StartingError" };
inline constexpr ProcessCardFlag errorClear { 0, ProcessCardSector::Error, "Clear" };
inline constexpr ProcessCardFlag errorAuthorization { 1, ProcessCardSector::Error, "Authorization" };
inline constexpr ProcessCardFlag errorToolStart { 2, ProcessCardSector::Error, "ToolStart" };
inline constexpr ProcessCardFlag errorRuntime { 4, ProcessCardSector::Error, "Runtime" };
inline constexpr ProcessCardFlag warningClear { 0, ProcessCardSector::Warning, "Clear" };
inline constexpr ProcessCardFlag warningRuntime { 8, ProcessCardSector::Warning, "RuntimeWarnings" };
inline constexpr ProcessCardFlag analyticClear { 0, ProcessCardSector::Analytic, "Clear" };
inline constexpr ProcessCardFlag analyticDoubleVolumeBootableClone { 1, ProcessCardSector::Analytic,
    "DoubleVolumeBootableClone" };
inline constexpr ProcessCardFlag analyticBootableClone { 2, ProcessCardSector::Analytic, "BootableClone" };
inline constexpr ProcessCardFlag analyticUnmountNotReasonForTermination { 4, ProcessCardSector::Analytic,
    "UnmountNotReasonForTermination" };
inline constexpr ProcessCardFlag analyticASROnlyClone { 8, ProcessCardSector::Analytic, "ASROnlyClone" };
inline constexpr ProcessCardFlag analyticRSYNCOnlyClone { 16, ProcessCardSector::Analytic, "RSYNCOnlyClone" };
inline constexpr ProcessCardFlag analyticSURClone { 32, ProcessCardSector::Analytic, "SURClone" };
inline constexpr ProcessCardFlag analyticNoSupportClone { 64, ProcessCardSector::Analytic, "NoSupportClone" };

// Every flag in table order, which is also the order of the description text.
inline constexpr std::array<const ProcessCardFlag*, 39> kProcessCardFlags = {
    &stateEmpty,
    &stateRunning,
    &stateFinished,
    &taskClear,
    &taskFullCloning,
    &taskRestore,
    &taskSplit,
    &taskEncrypt,
    &taskAnalyze,
    &taskSnapshots,
    &phaseClear,
    &phasePreparing,
    &phaseStarting,
    &phaseWorking,
    &phaseFinishing,
    &phaseStarted,
    &reasonClear,
    &reasonStartingByScheduler,
    &reasonStartingByUser,
    &reasonTerminatedByUser,
    &reasonTerminatedBySleep,
    &reasonTerminatedByErrors,
    &reasonCompleted,
    &reasonTerminatedByUnknownReason,
    &reasonStartingError,
    &errorClear,
    &errorAuthorization,
    &errorToolStart,
    &errorRuntime,
    &warningClear,
    &warningRuntime,
    &analyticClear,
    &analyticDoubleVolumeBootableClone,
    &analyticBootableClone,
    &analyticUnmountNotReasonForTermination,
    &analyticASROnlyClone,
    &analyticRSYNCOnlyClone,
    &analyticSURClone,
    &analyticNoSupportClone,
};

inline constexpr int64_t maxBitValue = 34952; // 0x8888

// The process that does the work of a run, as the child-process spawner handed it back.
struct ExecutiveProcess
{
    uint64_t pid = 0;
    char pname[256] = {};

    static ExecutiveProcess make(uint64_t pid, const QString& name);
    // Stores the name cut to 255 bytes at a UTF-8 character boundary.
    void setName(const QString& name);
    QString name() const;
};

// The state of a project's current run: flags in seven sectors, plus the process that does the
// work. Reader threads of running tools and the main thread change it at the same time: every
// sector is an atomic word, and the process record is guarded by a mutex.
class IProcessCard
{
public:
    IProcessCard() = default;
    IProcessCard(const IProcessCard&) = delete;
    IProcessCard& operator=(const IProcessCard&) = delete;

    // 0 clone, 1 synchronization; 0 for the other project kinds.
    int type() const { return m_type.load(std::memory_order_relaxed); }
    void setType(int type) { m_type.store(type, std::memory_order_relaxed); }

    // Zeroes every sector and the executive pid; the process name and the type stay.
    void clear();

    void setExecutiveProcess(const ExecutiveProcess& process);
    ExecutiveProcess executiveProcess() const;

    void addFlag(uint64_t flag, ProcessCardSector toSector);
    void removeFlag(uint64_t flag, ProcessCardSector fromSector);
    void setFlag(uint64_t flag, ProcessCardSector toSector);
    uint64_t sector(ProcessCardSector sector) const;

    // The whole sector becomes the flag.
    void set(const ProcessCardFlag& flag);
    void add(const ProcessCardFlag& flag);
    void remove(const ProcessCardFlag& flag);
    // A zero flag: its sector is empty. Otherwise: the flag's bit is set in its sector.
    bool isFlag(const ProcessCardFlag& flag) const;
    // The sector holds exactly the flag.
    bool isOnlyFlag(const ProcessCardFlag& flag) const;
    // True for the flags of the table only.
    static bool isProcessCardFlag(const ProcessCardFlag* flag);

    // One line per sector with the flags that hold, in table order, for the run log.
    QString description() const;

private:
    static bool isSector(ProcessCardSector sector);
    static bool isFlagIn(const ProcessCardFlag& flag, uint64_t word);

    std::atomic<int> m_type { 0 };
    std::array<std::atomic<uint64_t>, kProcessCardSectorCount> _sector {};
    mutable std::mutex m_executiveMutex;
    ExecutiveProcess _executiveProcess;
};
