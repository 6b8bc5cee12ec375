#include "TempTree.h"

#include "KvTest.h"
#include "platform/NameCodec.h"
#include "platform/WholeFile.h"

#include <QDebug>
#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

bool makeParents(const std::string& path)
{
    const fs::path parent = fs::path(path).parent_path();
    std::error_code ec;
    fs::create_directories(parent, ec);
    return !ec;
}

// Folders a test made unwritable or unreadable would stop remove_all; open them up first.
void openUp(const std::string& root)
{
    struct stat st
    {
    };
    if (::lstat(root.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        return;
    ::chmod(root.c_str(), 0700);
    DIR* d = ::opendir(root.c_str());
    if (!d)
        return;
    std::vector<std::string> children;
    while (dirent* e = ::readdir(d)) {
        const std::string name = e->d_name;
        if (name != "." && name != "..")
            children.push_back(root + "/" + name);
    }
    ::closedir(d);
    for (const auto& c : children)
        openUp(c);
}

} // namespace

QString TempTree::baseDir()
{
    return KvTest::buildDir() + QStringLiteral("/tests/tmp");
}

TempTree::TempTree(const QString& label)
{
    const std::string base = NameCodec::encodeStd(baseDir());
    std::error_code ec;
    fs::create_directories(base, ec);
    std::string tmpl = base + "/" + NameCodec::encodeStd(label) + "-XXXXXX";
    if (::mkdtemp(tmpl.data()))
        m_path = tmpl;
    else
        qWarning() << "TempTree: cannot make a folder under" << baseDir() << ::strerror(errno);
}

TempTree::~TempTree()
{
    if (m_path.empty() || m_keep)
        return;
    std::error_code ec;
    fs::remove_all(m_path, ec);
    if (ec) {
        openUp(m_path);
        fs::remove_all(m_path, ec);
    }
}

QString TempTree::path() const
{
    return NameCodec::decode(m_path);
}

std::string TempTree::filePathStd(const std::string& relative) const
{
    return relative.empty() ? m_path : m_path + "/" + relative;
}

QString TempTree::filePath(const std::string& relative) const
{
    return NameCodec::decode(filePathStd(relative));
}

QString TempTree::filePath(const QString& relative) const
{
    return filePath(NameCodec::encodeStd(relative));
}

bool TempTree::mkdir(const std::string& relative, mode_t mode)
{
    const std::string p = filePathStd(relative);
    if (!makeParents(p))
        return false;
    return ::mkdir(p.c_str(), mode) == 0 || errno == EEXIST;
}

bool TempTree::writeFile(const std::string& relative, const QByteArray& content, mode_t mode)
{
    const std::string p = filePathStd(relative);
    if (!makeParents(p))
        return false;
    const int fd = ::open(p.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    if (fd < 0)
        return false;
    const char* data = content.constData();
    size_t left = size_t(content.size());
    while (left > 0) {
        const ssize_t n = ::write(fd, data, left);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            ::close(fd);
            return false;
        }
        data += n;
        left -= size_t(n);
    }
    ::fchmod(fd, mode); // exactly this mode, whatever the umask
    return ::close(fd) == 0;
}

bool TempTree::writeFile(const QString& relative, const QByteArray& content, mode_t mode)
{
    return writeFile(NameCodec::encodeStd(relative), content, mode);
}

bool TempTree::symlink(const std::string& target, const std::string& relative)
{
    const std::string p = filePathStd(relative);
    return makeParents(p) && ::symlink(target.c_str(), p.c_str()) == 0;
}

bool TempTree::hardlink(const std::string& existingRelative, const std::string& relative)
{
    const std::string p = filePathStd(relative);
    return makeParents(p) && ::link(filePathStd(existingRelative).c_str(), p.c_str()) == 0;
}

QByteArray TempTree::readFile(const std::string& relative) const
{
    return WholeFile::read(filePathStd(relative));
}

bool TempTree::exists(const std::string& relative) const
{
    struct stat st
    {
    };
    return ::lstat(filePathStd(relative).c_str(), &st) == 0;
}

std::vector<std::string> TempTree::list(const std::string& relative) const
{
    std::vector<std::string> names;
    DIR* d = ::opendir(filePathStd(relative).c_str());
    if (!d)
        return names;
    while (dirent* e = ::readdir(d)) {
        const std::string name = e->d_name;
        if (name != "." && name != "..")
            names.push_back(name);
    }
    ::closedir(d);
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::string> TempTree::oddNames()
{
    std::string utf8Long;
    while (utf8Long.size() + 2 <= 254)
        utf8Long += "\xC3\xA9"; // é, so a cut in the middle of a character would show
    utf8Long += "x";
    return {
        "with space",
        "trailing blank ",
        "single'quote",
        "double\"quote",
        "$(touch pwned)",
        "`touch pwned`",
        "new\nline",
        "tab\there",
        "-leading-dash",
        "--option=like",
        "back\\slash",
        "glob*?[ab]",
        "semi;colon&amp|pipe>",
        "not-utf8-\xFF\xFE-\xC3\x28",
        "latin1-caf\xE9",
        "\xC3\xBC"
        "mlaut-\xE2\x82\xAC-\xF0\x9F\x98\x80",
        std::string(255, 'n'),
        utf8Long,
    };
}

std::vector<std::string> TempTree::makeOddFiles(const std::string& folder)
{
    std::vector<std::string> made;
    mkdir(folder);
    for (const std::string& name : oddNames()) {
        const std::string rel = folder.empty() ? name : folder + "/" + name;
        if (writeFile(rel, QByteArray(name.data(), qsizetype(name.size()))))
            made.push_back(name);
        else
            qWarning() << "TempTree: cannot make odd name" << QByteArray::fromStdString(name).toHex();
    }
    return made;
}
