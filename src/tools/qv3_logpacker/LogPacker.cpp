#include "LogPacker.h"

#include "platform/NameCodec.h"
#include "platform/Subprocess.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

bool endsWith(const std::string& text, const std::string& tail)
{
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

void syncPath(const std::string& path, int flags)
{
    const int fd = ::open(path.c_str(), flags | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

} // namespace

LogPacker::LogPacker(std::string tarPath, std::string folder)
    : m_tarPath(std::move(tarPath))
    , m_folder(std::move(folder))
{
    while (m_folder.size() > 1 && m_folder.back() == '/')
        m_folder.pop_back();
}

bool LogPacker::isLogName(const std::string& name)
{
    return name.size() > 8 && name.compare(0, 4, "log_") == 0 && endsWith(name, ".txt");
}

int LogPacker::run()
{
    DIR* dir = ::opendir(m_folder.c_str());
    if (!dir) {
        std::printf("Error opening directory \"%s\"", m_folder.c_str());
        std::fflush(stdout);
        return 0;
    }
    // The names are taken first: packing adds entries to the folder while it is read.
    std::vector<std::string> names;
    while (const dirent* entry = ::readdir(dir)) {
        if (isLogName(entry->d_name))
            names.emplace_back(entry->d_name);
    }
    ::closedir(dir);

    for (const std::string& name : names) {
        if (!packFile(name)) {
            std::printf("Compressing error for \"%s/%s\"\n", m_folder.c_str(), name.c_str());
            std::fflush(stdout);
        }
    }
    return 0;
}

// Packs one log. The archive is written under a temporary name and takes its place only when tar
// reported success; the log is removed only after that, so a failed run loses nothing.
bool LogPacker::packFile(const std::string& name)
{
    const std::string path = m_folder + "/" + name;
    struct stat logStat = {};
    // Only plain files are logs: a folder or a link of that name is left alone.
    if (::lstat(path.c_str(), &logStat) != 0 || !S_ISREG(logStat.st_mode))
        return true;
    const std::string archive = path.substr(0, path.size() - 4) + ".tgz";

    std::string temporary = m_folder + "/.qv3_logpacker.XXXXXX";
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0)
        return false;
    ::fchmod(fd, logStat.st_mode & 0666);
    ::close(fd);

    Subprocess::Options options;
    options.program = NameCodec::decode(m_tarPath);
    options.arguments = { QStringLiteral("-zcf"), NameCodec::decode(temporary), QStringLiteral("-C"),
        NameCodec::decode(m_folder), NameCodec::decode(name) };
    const Subprocess::Result result = Subprocess::run(options);
    if (!result.err.isEmpty()) {
        std::fwrite(result.err.constData(), 1, static_cast<size_t>(result.err.size()), stderr);
        std::fflush(stderr);
    }

    struct stat archiveStat = {};
    const bool packed = result.started && result.signal == 0 && result.exitCode == 0
        && ::lstat(temporary.c_str(), &archiveStat) == 0 && S_ISREG(archiveStat.st_mode);
    if (packed)
        syncPath(temporary, O_RDONLY);
    if (!packed || ::rename(temporary.c_str(), archive.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return false;
    }
    syncPath(m_folder, O_RDONLY | O_DIRECTORY);

    if (::unlink(path.c_str()) != 0) {
        std::printf("%s\n", std::strerror(errno));
        return false;
    }
    return true;
}
