#include "snapshot/IBackupCutUtil.h"

#include "platform/Clock.h"
#include "platform/NameCodec.h"
#include "platform/PlistBridge.h"
#include "snapshot/Backup3VersionList.h"
#include "utilities/IProcController.h"
#include "utilities/LogOptions.h"

#include <QCoreApplication>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <filesystem>
#include <sys/stat.h>

namespace {

QString tr(const char* text)
{
    return QCoreApplication::translate("Localizable", text);
}

QString joined(const QString& folder, const QString& name)
{
    if (folder.endsWith(QLatin1Char('/')))
        return QString(folder + name);
    return QString(folder + QLatin1Char('/') + name);
}

// Gives every folder of the tree u+rwx (files are left alone: they are hard-linked into other
// versions and share their mode), so that the owner can delete it. Links are never followed.
void makeFoldersWritable(const std::string& path)
{
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        return;
    if ((st.st_mode & S_IRWXU) != S_IRWXU)
        ::chmod(path.c_str(), (st.st_mode & 07777) | S_IRWXU);
    DIR* dir = ::opendir(path.c_str());
    if (!dir)
        return;
    while (dirent* e = ::readdir(dir)) {
        if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0)
            continue;
        if (e->d_type == DT_DIR || e->d_type == DT_UNKNOWN)
            makeFoldersWritable(path + '/' + e->d_name);
    }
    ::closedir(dir);
}

} // namespace

IBackupCutUtil& IBackupCutUtil::shared()
{
    static IBackupCutUtil instance;
    return instance;
}

bool IBackupCutUtil::cutBackup(const Request& request)
{
    auto log = [&](const QString& text, quint64 options) {
        if (request.log)
            request.log(text, options);
    };
    if (!request.hasLastProcessDate || request.cuttingType == CutOff)
        return true;
    // An age of no units, or in a unit we do not know, means thinning off.
    if (request.cuttingType != CutByNumber
        && (request.cuttingCount <= 0
            || (request.cuttingCountItem != UnitDays && request.cuttingCountItem != UnitWeeks
                && request.cuttingCountItem != UnitMonths)))
        return true;
    if (request.projectFolder.isEmpty())
        return false;
    const QString g = request.projectFolder;
    log(tr("Backup project location \"%1\"").arg(g), LogWord::RunLogPrefixed);
    struct stat st;
    if (::stat(NameCodec::encodeStd(g).c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        log(tr("Unable to access folder with old backup version \"%1\"").arg(g), LogWord::BothPrefixed);
        return false;
    }
    const QString info = joined(g, Backup3VersionList::fileName());
    if (::stat(NameCodec::encodeStd(info).c_str(), &st) != 0 || S_ISDIR(st.st_mode))
        return false;

    std::optional<QStringList> list;
    if (request.cuttingType == CutByNumber) {
        list = createRemovingListForQV3InfoPathFromNumber(info, request.cuttingCount);
    } else {
        const QDateTime now = Clock::current().now();
        long days = request.cuttingCount;
        if (request.cuttingCountItem == UnitMonths)
            days = dayCountByRemoveFromNowMonths(request.cuttingCount, 0, 0, now);
        else if (request.cuttingCountItem == UnitWeeks)
            days = dayCountByRemoveFromNowMonths(0, request.cuttingCount, 0, now);
        list = createRemovingListForQV3InfoPathFromDayCount(info, days, now);
    }
    if (!list)
        return false;
    const QString done
        = tr("Older backup versions have been deleted for \"%1\" Backup project").arg(request.projectName);
    if (!list->isEmpty()) {
        removeFolders(*list, g, request);
        if (!correctingQV3InfoPath(info, *list))
            return false;
    }
    log(done, LogWord::StatusAndWindow);
    return true;
}

std::optional<QStringList> IBackupCutUtil::createRemovingListForQV3InfoPathFromNumber(
    const QString& infoPath, long n)
{
    const auto r = Backup3VersionList::readFile(infoPath);
    if (r.state != Backup3VersionList::State::Ok && r.state != Backup3VersionList::State::Empty)
        return std::nullopt;
    const QVariantList entries = Backup3VersionList::entries(r.dict);
    const long keep = std::max(n, 1L); // the newest version always stays
    QStringList out;
    if (entries.size() <= keep)
        return out;
    for (qsizetype i = 0; i < entries.size() - keep; ++i)
        out.append(PlistValue::string(entries.at(i).toMap(), QStringLiteral("Folder")));
    return out;
}

std::optional<QStringList> IBackupCutUtil::createRemovingListForQV3InfoPathFromDayCount(
    const QString& infoPath, long k, const QDateTime& now)
{
    const auto r = Backup3VersionList::readFile(infoPath);
    if (r.state != Backup3VersionList::State::Ok && r.state != Backup3VersionList::State::Empty)
        return std::nullopt;
    const QVariantList entries = Backup3VersionList::entries(r.dict);
    QStringList out;
    for (qsizetype i = 0; i + 1 < entries.size(); ++i) {
        const QVariantMap e = entries.at(i).toMap();
        const QDateTime date = PlistValue::date(e, QStringLiteral("Date"));
        if (!date.isValid())
            continue;
        const qint64 age = date.secsTo(now) / 86400; // whole days, cut toward zero
        if (age >= k)
            out.append(PlistValue::string(e, QStringLiteral("Folder")));
    }
    return out;
}

long IBackupCutUtil::dayCountByRemoveFromNowMonths(long months, long weeks, long days, const QDateTime& now)
{
    const QDate today = now.toLocalTime().date();
    const QDate from = today.addMonths(-months).addDays(-7 * weeks - days);
    return long(from.daysTo(today));
}

bool IBackupCutUtil::removeFolders(QStringList& names, const QString& folder, const Request& request)
{
    if (names.isEmpty())
        return false;
    bool all = true;
    for (qsizetype i = 0; i < names.size();) {
        const QString& name = names.at(i);
        const QString path = joined(folder, name);
        QString comment;
        bool ok = false;
        if (!Backup3VersionList::isVersionFolderName(name)) {
            comment = tr("\"%1\" is no backup version folder").arg(name);
        } else {
            struct stat st;
            if (::lstat(NameCodec::encodeStd(path).c_str(), &st) != 0)
                comment = QStringLiteral("%1: %2").arg(path, QString::fromLocal8Bit(std::strerror(errno)));
            else if (!S_ISDIR(st.st_mode))
                comment = tr("\"%1\" is no folder").arg(path);
            else
                ok = removeVersionFolder(path, request.admin, &comment);
        }
        if (ok) {
            if (request.log)
                request.log(tr("Deleting \"%1\" ").arg(path), LogWord::RunLogPrefixed);
            ++i;
        } else {
            all = false;
            if (request.log)
                request.log(
                    tr("Problem with deleting old backup files: \"%1\"").arg(comment), LogWord::BothPrefixed);
            names.removeAt(i);
        }
    }
    return all;
}

bool IBackupCutUtil::correctingQV3InfoPath(const QString& infoPath, const QStringList& removedFolders)
{
    const auto r = Backup3VersionList::readFile(infoPath);
    if (r.state != Backup3VersionList::State::Ok)
        return false;
    QVariantMap dict = r.dict;
    QVariantList kept;
    for (const QVariant& v : PlistValue::array(dict, QStringLiteral("ProcessDataArray"))) {
        const QString folder = PlistValue::string(v.toMap(), QStringLiteral("Folder"));
        if (v.typeId() == QMetaType::QVariantMap && removedFolders.contains(folder))
            continue;
        kept.append(v);
    }
    dict.insert(QStringLiteral("ProcessDataArray"), kept);
    return PlistBridge::writeFileAtomically(infoPath, dict);
}

bool IBackupCutUtil::removeVersionFolder(const QString& path, bool admin, QString* comment)
{
    if (admin) {
        QString output;
        if (IProcController::runRootedToolWithArgsArray(
                { QStringLiteral("/bin/rm"), QStringLiteral("-rf"), QStringLiteral("--"), path }, &output))
            return true;
        if (comment)
            *comment = output.trimmed().isEmpty() ? path : output.trimmed();
        return false;
    }
    const std::string p = NameCodec::encodeStd(path);
    makeFoldersWritable(p);
    std::error_code ec;
    std::filesystem::remove_all(p, ec);
    if (ec) {
        if (comment)
            *comment = QStringLiteral("%1: %2").arg(path, QString::fromStdString(ec.message()));
        return false;
    }
    return true;
}
