#include "utilities/IFolderUtil.h"

#include "platform/NameCodec.h"
#include "utilities/IShellServices.h"
#include "utilities/LogOptions.h"

#include <dirent.h>
#include <fcntl.h>
#include <pstreams/pstream.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

quint64 walk(const std::string& folder)
{
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return 0;
    quint64 total = 0;
    std::vector<std::string> subfolders;
    while (dirent* de = ::readdir(dir)) {
        const std::string name = de->d_name;
        if (name == "." || name == "..")
            continue;
        const std::string path = folder.back() == '/' ? folder + name : folder + "/" + name;
        struct stat st;
        if (::lstat(path.c_str(), &st) != 0)
            continue;
        if (S_ISREG(st.st_mode)) {
            total += quint64(st.st_size);
        } else if (S_ISDIR(st.st_mode)) {
            total += quint64(st.st_size);
            subfolders.push_back(path);
        }
    }
    ::closedir(dir);
    for (const std::string& sub : subfolders)
        total += walk(sub);
    return total;
}

void sizeLog(const QString& text)
{
    IShellServices::shared().processMessage(text, LogWord::UtilLog, nullptr);
}

} // namespace

IFolderUtil& IFolderUtil::shared()
{
    static IFolderUtil instance;
    return instance;
}

quint64 IFolderUtil::getFolderSize(const QString& path)
{
    if (path.isEmpty())
        return 0;
    return walk(NameCodec::encodeStd(path));
}

quint64 IFolderUtil::folderSize(const QString& path)
{
    return getFolderSize(path);
}

quint64 IFolderUtil::getSizeOnDisk(const QString& path)
{
    // du through PStreams in its argv form: no shell, the path one literal argument after "--",
    // the C locale so the number is plain; stdin is the parent's, du does not read it.
    const std::vector<std::string> argv
        = { "env", "LC_ALL=C.UTF-8", "du", "-sk", "--", NameCodec::encodeStd(path) };
    // Only standard output is read (its messages go to our standard error), so a long list of
    // unreadable folders can never fill an unread pipe.
    redi::ipstream du("env", argv, redi::pstreams::pstdout);
    std::string line;
    std::string first;
    if (du.out().good() && std::getline(du.out(), line))
        first = line;
    std::string rest;
    while (std::getline(du.out(), rest)) { }
    du.close();
    const int status = du.rdbuf()->status();
    const bool exitedZero = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    if (exitedZero && !first.empty()) {
        const quint64 kb = std::strtoull(first.c_str(), nullptr, 10);
        if (kb != 0)
            return kb * 1024;
        sizeLog(QStringLiteral("du error: %1").arg(QString::fromUtf8(first.c_str())));
    } else if (exitedZero) {
        sizeLog(QStringLiteral("du error: no output for folder size"));
    } else {
        sizeLog(QStringLiteral("du error: exit status %1 for folder size")
                    .arg(WIFEXITED(status) ? WEXITSTATUS(status) : -1));
    }
    return getFolderSize(path);
}

quint64 IFolderUtil::parseIntFromData(const QByteArray& data)
{
    quint64 value = 0;
    for (char c : data)
        value = (value << 8) | quint8(c);
    return value;
}

int IFolderUtil::func(const char* path, const struct stat*, int, struct FTW*)
{
    Q_UNUSED(path);
    shared().incCount();
    return 0;
}
