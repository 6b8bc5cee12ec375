#include "snapshot/Backup3VersionList.h"

#include "platform/NameCodec.h"
#include "platform/PlistBridge.h"

#include <QRegularExpression>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

namespace {

std::string bytes(const QString& path)
{
    return NameCodec::encodeStd(path);
}

QString joined(const QString& folder, const QString& name)
{
    if (folder.endsWith(QLatin1Char('/')))
        return QString(folder + name);
    return QString(folder + QLatin1Char('/') + name);
}

bool exists(const QString& path)
{
    struct stat st;
    return ::lstat(bytes(path).c_str(), &st) == 0;
}

} // namespace

QString Backup3VersionList::fileName()
{
    return QStringLiteral("qv3info.plist");
}

QString Backup3VersionList::workFolderName()
{
    return QStringLiteral("QV3ProcessTemporaryFolder");
}

QString Backup3VersionList::versionFolderName(const QDateTime& date)
{
    return QStringLiteral("b3_") + date.toLocalTime().toString(QStringLiteral("yyyy-MM-dd_HH-mm-ss"));
}

bool Backup3VersionList::isVersionFolderName(const QString& name)
{
    static const QRegularExpression re(
        QStringLiteral("\\Ab3_[0-9]{4}-[0-9]{2}-[0-9]{2}_[0-9]{2}-[0-9]{2}-[0-9]{2}\\z"));
    return re.match(name).hasMatch();
}

QDateTime Backup3VersionList::dateFromVersionFolderName(const QString& name)
{
    if (!isVersionFolderName(name))
        return QDateTime();
    return QDateTime::fromString(name.mid(3), QStringLiteral("yyyy-MM-dd_HH-mm-ss"));
}

Backup3VersionList::ReadResult Backup3VersionList::read(const QString& projectFolder)
{
    return readFile(joined(projectFolder, fileName()));
}

Backup3VersionList::ReadResult Backup3VersionList::readFile(const QString& path)
{
    ReadResult result;
    struct stat st;
    if (::stat(bytes(path).c_str(), &st) != 0) {
        result.state = errno == ENOENT ? State::Missing : State::Unreadable;
        result.error = QString::fromLocal8Bit(std::strerror(errno));
        return result;
    }
    if (!S_ISREG(st.st_mode)) {
        result.state = State::Unreadable;
        result.error = QStringLiteral("not a file");
        return result;
    }
    if (st.st_size == 0) {
        result.state = State::Empty;
        return result;
    }
    const PlistBridge::ReadResult r = PlistBridge::readFile(path);
    switch (r.status) {
    case PlistBridge::ReadStatus::Ok:
        if (r.value.typeId() != QMetaType::QVariantMap) {
            result.state = State::Corrupt;
            result.error = QStringLiteral("not a dictionary");
        } else {
            result.dict = r.value.toMap();
            result.state = result.dict.isEmpty() ? State::Empty : State::Ok;
        }
        break;
    case PlistBridge::ReadStatus::Missing:
        result.state = State::Missing;
        break;
    case PlistBridge::ReadStatus::Unreadable:
        result.state = State::Unreadable;
        result.error = r.error;
        break;
    case PlistBridge::ReadStatus::Corrupt:
        result.state = State::Corrupt;
        result.error = r.error;
        break;
    }
    return result;
}

QVariantList Backup3VersionList::entries(const QVariantMap& dict)
{
    QVariantList out;
    for (const QVariant& v : PlistValue::array(dict, QStringLiteral("ProcessDataArray")))
        if (v.typeId() == QMetaType::QVariantMap)
            out.append(v);
    return out;
}

bool Backup3VersionList::write(const QString& projectFolder, const QVariantMap& dict, QString* error)
{
    return PlistBridge::writeFileAtomically(joined(projectFolder, fileName()), dict, error);
}

QString Backup3VersionList::moveAside(const QString& projectFolder, QString* error)
{
    const QString from = joined(projectFolder, fileName());
    QString name = QLatin1Char('~') + fileName();
    for (long n = 1; exists(joined(projectFolder, name)); ++n)
        name = QStringLiteral("~qv3info%1.plist").arg(n);
    // No replace: a name taken in the meantime is never overwritten.
    if (::renameat2(AT_FDCWD, bytes(from).c_str(), AT_FDCWD, bytes(joined(projectFolder, name)).c_str(),
            RENAME_NOREPLACE)
        != 0) {
        const int err = errno;
        if (err == EINVAL && !exists(joined(projectFolder, name))
            && ::link(bytes(from).c_str(), bytes(joined(projectFolder, name)).c_str()) == 0
            && ::unlink(bytes(from).c_str()) == 0)
            return name;
        if (error)
            *error = QString::fromLocal8Bit(std::strerror(err));
        return QString();
    }
    return name;
}

QStringList Backup3VersionList::versionFolders(const QString& projectFolder)
{
    QStringList names;
    DIR* dir = ::opendir(bytes(projectFolder).c_str());
    if (!dir)
        return names;
    while (dirent* e = ::readdir(dir)) {
        const QString name = NameCodec::decode(QByteArray(e->d_name));
        if (!isVersionFolderName(name))
            continue;
        struct stat st;
        if (::lstat(bytes(joined(projectFolder, name)).c_str(), &st) == 0 && S_ISDIR(st.st_mode))
            names.append(name);
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

QVariantMap Backup3VersionList::rebuildFromFolders(const QString& projectFolder, const QString& projectUUID)
{
    QVariantMap dict;
    if (!projectUUID.isEmpty())
        dict.insert(QStringLiteral("ProjectUUID"), projectUUID);
    QVariantList array;
    const QStringList folders = versionFolders(projectFolder);
    for (const QString& name : folders) {
        QVariantMap entry;
        entry.insert(QStringLiteral("Date"), dateFromVersionFolderName(name));
        entry.insert(QStringLiteral("Folder"), name);
        array.append(entry);
    }
    if (!folders.isEmpty()) {
        dict.insert(QStringLiteral("ProcessDataArray"), array);
        dict.insert(QStringLiteral("LastDate"), dateFromVersionFolderName(folders.last()));
        dict.insert(QStringLiteral("LastFolder"), folders.last());
    }
    return dict;
}
