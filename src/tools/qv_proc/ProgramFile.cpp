#include "ProgramFile.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

bool parseUid(const char* text, uid_t* uid)
{
    if (!text || !*text)
        return false;
    char* end = nullptr;
    errno = 0;
    const unsigned long v = std::strtoul(text, &end, 10);
    if (errno != 0 || *end != '\0')
        return false;
    *uid = uid_t(v);
    return true;
}

bool ownerAccepted(uid_t owner)
{
    return owner == 0 || owner == ProgramFile::invokingUid();
}

std::string folderOf(const std::string& path)
{
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return path.substr(0, slash);
}

} // namespace

ProgramFile::~ProgramFile()
{
    if (m_root)
        cJSON_Delete(m_root);
}

uid_t ProgramFile::invokingUid()
{
    uid_t uid = ::getuid();
    if (::geteuid() == 0 && uid == 0) {
        uid_t v = 0;
        if (parseUid(std::getenv("SUDO_UID"), &v) || parseUid(std::getenv("PKEXEC_UID"), &v))
            uid = v;
    }
    return uid;
}

bool ProgramFile::load(const std::string& path, std::string* error)
{
    auto fail = [&](const std::string& why) {
        if (error)
            *error = "Program file " + path + ": " + why;
        return false;
    };
    if (path.empty())
        return fail("no path given");

    struct stat dir
    {
    };
    const std::string folder = folderOf(path);
    if (::stat(folder.c_str(), &dir) != 0)
        return fail(std::string("folder not readable: ") + std::strerror(errno));
    if (!ownerAccepted(dir.st_uid) || (dir.st_mode & (S_IWGRP | S_IWOTH)))
        return fail("its folder may be written by others");

    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return fail(errno == ELOOP ? std::string("is a symbolic link") : std::strerror(errno));
    struct stat st
    {
    };
    if (::fstat(fd, &st) != 0) {
        const int e = errno;
        ::close(fd);
        return fail(std::strerror(e));
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        return fail("not a regular file");
    }
    if (!ownerAccepted(st.st_uid)) {
        ::close(fd);
        return fail("owned by another user");
    }
    if (st.st_mode & (S_IWGRP | S_IWOTH)) {
        ::close(fd);
        return fail("writable by others");
    }
    if (st.st_size > MaxSize) {
        ::close(fd);
        return fail("too large");
    }
    std::vector<char> text(size_t(st.st_size) + 1, '\0');
    size_t got = 0;
    while (got < size_t(st.st_size)) {
        const ssize_t n = ::read(fd, text.data() + got, size_t(st.st_size) - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        got += size_t(n);
    }
    ::close(fd);
    text[got] = '\0';
    m_root = cJSON_Parse(text.data());
    if (!m_root || !cJSON_IsObject(m_root))
        return fail("not a JSON object");
    return true;
}
