#include "TempFolder.h"

#include "FileOps.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The private folders this process made, by base folder.
struct Registry
{
    std::mutex mutex;
    std::map<std::string, std::string> folders;
    pid_t owner = 0;
    bool exitHookInstalled = false;
};

Registry& registry()
{
    static Registry* r = new Registry; // outlives every static destructor and the exit hook
    return *r;
}

const char kOwnerFile[] = ".owner";

std::string normalizedBase(const std::string& base)
{
    std::string b = base;
    while (b.size() > 1 && b.back() == '/')
        b.pop_back();
    return b;
}

void setError(std::string* error, const std::string& text)
{
    if (error)
        *error = text;
}

std::string errnoText(const std::string& what, const std::string& path, int err)
{
    return what + " \"" + path + "\": " + std::strerror(err);
}

// Field 22 of /proc/PID/stat: the start time in clock ticks since boot. Together with the pid it
// names one process, so a reused pid is not taken for the process that made a folder.
std::string processStartTime(pid_t pid)
{
    const std::string path = "/proc/" + std::to_string(pid) + "/stat";
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return {};
    char buffer[4096];
    const ssize_t n = ::read(fd, buffer, sizeof buffer - 1);
    ::close(fd);
    if (n <= 0)
        return {};
    buffer[n] = 0;
    const char* p = std::strrchr(buffer, ')'); // the command name may hold blanks and parentheses
    if (!p)
        return {};
    ++p;
    // After ')' come field 3 (state) .. field 22 (starttime).
    std::string state;
    int field = 2;
    const char* cursor = p;
    while (*cursor) {
        while (*cursor == ' ')
            ++cursor;
        const char* start = cursor;
        while (*cursor && *cursor != ' ')
            ++cursor;
        ++field;
        const std::string word(start, cursor);
        if (field == 3)
            state = word;
        if (field == 22)
            return (state == "Z" || state == "X") ? std::string() : word;
    }
    return {};
}

std::string ownerRecord(pid_t pid)
{
    return std::to_string(pid) + " " + processStartTime(pid) + "\n";
}

// Whether the process recorded in folder/.owner still runs.
bool ownerAlive(const std::string& folder, const struct stat& folderStat)
{
    const std::string path = folder + "/" + kOwnerFile;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) {
        // A folder without its record is either being made right now or was left by a crash
        // between mkdtemp and the record: give a starting process a minute.
        return ::time(nullptr) - folderStat.st_mtime < 60;
    }
    char buffer[128] = {};
    const ssize_t n = ::read(fd, buffer, sizeof buffer - 1);
    ::close(fd);
    if (n <= 0)
        return false;
    const std::string record(buffer, static_cast<size_t>(n));
    const auto blank = record.find(' ');
    if (blank == std::string::npos)
        return false;
    const pid_t pid = static_cast<pid_t>(std::strtol(record.c_str(), nullptr, 10));
    if (pid <= 0)
        return false;
    std::string start = record.substr(blank + 1);
    while (!start.empty() && (start.back() == '\n' || start.back() == ' '))
        start.pop_back();
    const std::string now = processStartTime(pid);
    return !now.empty() && now == start;
}

void removeAllAtExit()
{
    TempFolder::removeAll();
}

int removeStaleLocked(Registry& r, const std::string& base);

// The private folder under base; the registry's mutex is held.
std::string privateFolderLocked(Registry& r, const std::string& base, std::string* error)
{
    const pid_t self = ::getpid();
    if (r.owner != self) {
        // A forked child must not take over (or later remove) its parent's folders.
        r.folders.clear();
        r.owner = self;
    }
    const auto found = r.folders.find(base);
    if (found != r.folders.end()) {
        struct stat st;
        if (::lstat(found->second.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid())
            return found->second;
        r.folders.erase(found); // removed behind our back: make a new one
    }
    struct stat baseStat;
    if (::stat(base.c_str(), &baseStat) != 0) {
        setError(error, errnoText("Temporary folder", base, errno));
        return {};
    }
    if (!S_ISDIR(baseStat.st_mode)) {
        setError(error, errnoText("Temporary folder", base, ENOTDIR));
        return {};
    }
    removeStaleLocked(r, base);

    std::string templ = (base == "/" ? std::string() : base) + "/" + TempFolder::folderPrefix() + "XXXXXX";
    if (!::mkdtemp(templ.data())) {
        setError(error, errnoText("Can not create a private folder in", base, errno));
        return {};
    }
    const std::string ownerPath = templ + "/" + kOwnerFile;
    const int fd = ::open(ownerPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd >= 0) {
        const std::string record = ownerRecord(self);
        const ssize_t written = ::write(fd, record.data(), record.size());
        (void)written;
        ::close(fd);
    }
    r.folders[base] = templ;
    if (!r.exitHookInstalled) {
        r.exitHookInstalled = true;
        std::atexit(removeAllAtExit);
    }
    return templ;
}

} // namespace

std::string TempFolder::defaultBase()
{
    const char* tmpdir = std::getenv("TMPDIR");
    if (tmpdir && *tmpdir) {
        struct stat st;
        if (::stat(tmpdir, &st) == 0 && S_ISDIR(st.st_mode))
            return normalizedBase(tmpdir);
    }
    return "/tmp";
}

std::string TempFolder::folderPrefix()
{
    return "kelvane-" + std::to_string(::geteuid()) + ".";
}

std::string TempFolder::privateFolder(const std::string& base, std::string* error)
{
    if (base.empty()) {
        setError(error, "No temporary folder given");
        return {};
    }
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    return privateFolderLocked(r, normalizedBase(base), error);
}

std::string TempFolder::createFile(const std::string& base, std::string* error)
{
    const std::string folder = privateFolder(base, error);
    if (folder.empty())
        return {};
    std::string templ = folder + "/tmp.XXXXXX";
    const int fd = ::mkstemp(templ.data());
    if (fd < 0) {
        setError(error, errnoText("Can not create a temporary file in", folder, errno));
        return {};
    }
    ::close(fd);
    return templ;
}

std::string TempFolder::createFolder(const std::string& base, std::string* error)
{
    const std::string folder = privateFolder(base, error);
    if (folder.empty())
        return {};
    std::string templ = folder + "/tmp.XXXXXX";
    if (!::mkdtemp(templ.data())) {
        setError(error, errnoText("Can not create a temporary folder in", folder, errno));
        return {};
    }
    return templ;
}

std::string TempFolder::bareName(const std::string& base, std::string* error)
{
    // mkstemp picks a name no one else holds; unlinking it leaves the name free in a folder that
    // only this user can write to.
    const std::string path = createFile(base, error);
    if (path.empty())
        return {};
    ::unlink(path.c_str());
    return path;
}

int TempFolder::removeStale(const std::string& base)
{
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    return removeStaleLocked(r, normalizedBase(base));
}

namespace {
int removeStaleLocked(Registry& r, const std::string& base)
{
    DIR* dir = ::opendir(base.c_str());
    if (!dir)
        return 0;
    const std::string prefix = TempFolder::folderPrefix();
    const uid_t uid = ::geteuid();
    int removed = 0;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name.size() != prefix.size() + 6 || name.compare(0, prefix.size(), prefix) != 0)
            continue;
        const std::string path = (base == "/" ? std::string() : base) + "/" + name;
        struct stat st;
        // Only our own real 0700 folders; never follow a link someone planted under that name.
        if (::lstat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != uid
            || (st.st_mode & 0777) != 0700)
            continue;
        bool mine = false;
        for (const auto& [b, folder] : r.folders)
            mine = mine || folder == path;
        if (mine)
            continue;
        if (ownerAlive(path, st))
            continue;
        if (FileOps::removeTree(path))
            ++removed;
    }
    ::closedir(dir);
    return removed;
}
} // namespace

void TempFolder::removeAll()
{
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    if (r.owner != ::getpid())
        return;
    for (const auto& [base, folder] : r.folders)
        FileOps::removeTree(folder);
    r.folders.clear();
}
