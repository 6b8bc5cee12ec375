#pragma once

#include <QString>
#include <QStringList>
#include <atomic>
#include <functional>
#include <mutex>

class Subprocess;

// The window a copy is shown in: the application registers its own at start-up; programs
// without one copy windowless.
class IFileCopierWindow
{
public:
    virtual ~IFileCopierWindow() = default;
    static IFileCopierWindow* shared(); // nullptr without a window
    static void setShared(IFileCopierWindow* window);
    // Copies source to target in the window; true only for a finished copy confirmed with OK.
    virtual bool copyInWindow(
        const QString& source, const QString& target, const QString& title, const QString& prompt)
        = 0;
};

// Copies one file or folder to another place with the application's rsync ("rsync3"), keeping
// holes in sparse files (-S), so a disk image never grows to its apparent size on the way. An
// existing target is first moved aside to "<name>.qv_saved.<ext>". The copy counts as done only
// when rsync was reaped with exit status 0; stop() ends rsync's whole process group. The window
// around it belongs to the interface; this class only runs the copy and reports progress.
class IFileCopier
{
public:
    IFileCopier();
    ~IFileCopier();
    IFileCopier(const IFileCopier&) = delete;
    IFileCopier& operator=(const IFileCopier&) = delete;

    // Called on a reader thread: the percentage done (0..100, -1 when unknown) and the file line.
    using ProgressHandler = std::function<void(double percent, const QString& fileLine)>;
    void setProgressHandler(ProgressHandler handler) { m_progress = std::move(handler); }

    // The copy entry of the interface: both lists given, of equal length, not empty (only the
    // first pair is copied); rsync present; enough free space (else an alert). The copy runs in
    // the registered window, or windowless without one. sizes are the callers' and unused.
    static bool copyFilesWithSources(const QStringList& sources, const QList<quint64>& sizes,
        const QStringList& targets, const QString& title, const QString& prompt, QString* comment = nullptr);

    // Copies source to target and waits, keeping the event loop running (under the modal depth
    // counter). False with *comment when rsync is missing, the target cannot be moved aside,
    // rsync failed or the copy was stopped.
    bool copy(const QString& source, const QString& target, QString* comment = nullptr);
    // Stops a running copy; callable from any thread or from inside copy()'s event loop.
    // rsync's group gets SIGTERM (it then removes its temporary file), SIGKILL after kStopGraceMs.
    void stop();
    static constexpr int kStopGraceMs = 3000;
    bool wasStopped() const { return m_stopped.load(); }

    // The arguments given to rsync for a copy ("-W -a -S --no-inc-recursive --progress -v",
    // source, target); relative paths are refused by copy(). An
    // existing folder as source gets a trailing "/" so its content goes into target.
    static QStringList arguments(const QString& source, const QString& target);
    // The program: Resources/rsync3; null when it is not an executable.
    static QString toolPath();

    // Apparent size of a file, or the sum over a folder's files; 0 when missing.
    static quint64 fastSizeOfFile(const QString& path);
    // The space a file or folder really takes (st_blocks x 512), holes left out.
    static quint64 allocatedSizeOfFile(const QString& path);
    // True when the volume holding target has more than 1.1 times the source's allocated size free.
    static bool isSpaceForSource(const QString& source, const QString& target);
    // Moves an existing target aside; true when there was nothing to move or the move worked.
    static bool renameOldVersionsOfSource(
        const QString& source, const QString& target, QString* comment = nullptr);

    // "<base>.qv_saved.<ext>", then "<base>.qv_saved-1.<ext>", ...: the first name not in folder.
    static QString savedNameForFile(const QString& name, const QString& folderPath);

    // Reads one line of rsync's --progress output: the percentage from "(xfr#N, to-chk=R/T)"
    // lines, -1 for other lines. *isFileLine tells whether the line names a file.
    static double progressOfLine(const QString& line, bool* isFileLine = nullptr);

private:
    void consume(const char* data, size_t size);

    ProgressHandler m_progress;
    std::mutex m_mutex;
    Subprocess* m_process = nullptr; // while copy() runs; guarded by m_mutex
    std::atomic<bool> m_stopped { false };
    QByteArray m_partial; // reader thread only
};
