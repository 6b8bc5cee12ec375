#include "FileOps.h"

#include <cerrno>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

namespace FileOps {

namespace {
// nftw has no user pointer; one walk runs per thread at a time.
thread_local std::string t_failedPath;
thread_local int t_error = 0;

int removeEntry(const char* path, const struct stat*, int typeflag, struct FTW*)
{
    int rc = 0;
    switch (typeflag) {
    case FTW_DNR: // a folder we could not read: its entries stay, so report it
        t_failedPath = path;
        t_error = EACCES;
        return 1;
    case FTW_NS:
        if (errno == ENOENT)
            return 0;
        t_failedPath = path;
        t_error = errno;
        return 1;
    case FTW_DP:
        rc = ::rmdir(path);
        break;
    default:
        rc = ::unlink(path);
        break;
    }
    if (rc != 0 && errno != ENOENT) {
        t_failedPath = path;
        t_error = errno;
        return 1;
    }
    return 0;
}
} // namespace

bool removeTree(const std::string& path, std::string* failedPath, int* errorNumber)
{
    struct stat st;
    if (path.empty() || ::lstat(path.c_str(), &st) != 0) {
        if (!path.empty() && errno == ENOENT)
            return true;
        if (failedPath)
            *failedPath = path;
        if (errorNumber)
            *errorNumber = path.empty() ? EINVAL : errno;
        return false;
    }
    t_failedPath.clear();
    t_error = 0;
    const int rc = ::nftw(path.c_str(), removeEntry, 32, FTW_DEPTH | FTW_PHYS);
    if (rc == 0)
        return true;
    if (rc == -1 && t_error == 0) {
        t_failedPath = path;
        t_error = errno;
    }
    if (failedPath)
        *failedPath = t_failedPath;
    if (errorNumber)
        *errorNumber = t_error;
    return false;
}

bool exists(const std::string& path)
{
    struct stat st;
    return !path.empty() && ::lstat(path.c_str(), &st) == 0;
}

bool isDirectory(const std::string& path)
{
    struct stat st;
    return !path.empty() && ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

} // namespace FileOps
