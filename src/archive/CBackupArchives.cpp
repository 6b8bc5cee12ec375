#include "archive/ArchiveFiles.h"
#include "archive/ArchiveNames.h"
#include "archive/CBackup.h"
#include "archive/CBackupItem.h"
#include "archive/IBackup.h"
#include "platform/Clock.h"
#include "platform/NameCodec.h"
#include "platform/NameSanitizer.h"
#include "projects/ILocation.h"
#include "utilities/LogOptions.h"
#include "utilities/MainPreferences.h"
#include "utilities/UiPrompts.h"

#include <QCoreApplication>
#include <QThread>
#include <algorithm>
#include <dirent.h>
#include <map>

namespace {

bool isMainThreadNow()
{
    return !QCoreApplication::instance()
        || QThread::currentThread() == QCoreApplication::instance()->thread();
}

const char* methodPrefix(quint32 method)
{
    switch (method) {
    case 0:
        return "full";
    case 1:
        return "incr";
    case 2:
        return "vers";
    default:
        return nullptr;
    }
}

bool isVolumeSuffix(const QString& ext)
{
    if (ext.size() != 3)
        return false;
    for (const QChar c : ext)
        if (c < QLatin1Char('a') || c > QLatin1Char('z'))
            return false;
    return true;
}

int volumeNumber(const QString& ext)
{
    return (ext.at(0).unicode() - 'a') * 676 + (ext.at(1).unicode() - 'a') * 26 + (ext.at(2).unicode() - 'a');
}

} // namespace

QString CBackup::getNewArchiveName() const
{
    const QString date = Clock::current().now().toString(QStringLiteral("yyyy-MM-dd_HH-mm-ss"));
    QString name = m_name;
    name.replace(QLatin1Char(' '), QLatin1Char('_'));
    // The name part is one path component: a "/" never makes a sub-folder.
    bool refused = false;
    name = NameSanitizer::sanitize(name, &refused);
    if (refused || name.isEmpty())
        name = QStringLiteral("_");
    const char* prefix = methodPrefix(m_backupMethod);
    QString result = QStringLiteral("%1_%2_%3_lp.%4")
                         .arg(QLatin1String(prefix ? prefix : "full"), name, date,
                             m_useCompression ? QLatin1String("tgz") : QLatin1String("tar"));
    if (m_cryptMethod != 0) {
        const QString ext = encryptionMethodToStr(m_cryptMethod, true);
        if (!ext.isEmpty())
            result += QLatin1Char('.') + ext;
    }
    return result;
}

void CBackup::addArchName(const QString& name)
{
    if (!name.isNull()) {
        CBArchivePath entry;
        entry.fileName = name;
        m_archives.push_back(entry);
    }
    m_iBackup->registerExternalChange(6);
}

int CBackup::addArchPath(const CBArchivePath& entry)
{
    m_archives.push_back(entry);
    return int(m_archives.size()) - 1;
}

void CBackup::addArchNameWithPattern(const QString& name)
{
    if (name.isEmpty() || !isSingleComponentName(name))
        return;
    const QString prefix = archiveFileNameParse(name).value(QStringLiteral("CBMethodPrefix")).toString();
    if (prefix == QLatin1String("vers") || prefix == QLatin1String("incr")) {
        addArchName(name);
    } else if (prefix == QLatin1String("full")) {
        addArchName(name);
        if (!m_loading)
            deleteOldFullArchives();
    }
}

void CBackup::addArchNameLoading(const QString& name)
{
    // Names read from a stored project: a name that could reach outside the project folder is
    // dropped, never listed or deleted.
    if (!isSingleComponentName(name)) {
        m_iBackup->processMessage(
            QStringLiteral("Archive name \"%1\" of project \"%2\" is not valid: ignored").arg(name, m_name),
            LogWord::UtilLog, m_iBackup.get());
        return;
    }
    const bool loading = m_loading;
    m_loading = true;
    addArchNameWithPattern(name);
    m_loading = loading;
}

int CBackup::fillArchivesArrayFromTargetFolder()
{
    const QString folder = archiveFolder();
    if (folder.isEmpty())
        return 0;
    struct Found
    {
        QDateTime date;
        QString name;
    };
    std::vector<Found> found;
    std::map<QString, std::vector<int>> volumes; // base name -> volume numbers present
    if (DIR* dir = ::opendir(NameCodec::encode(folder).constData())) {
        while (struct dirent* e = ::readdir(dir)) {
            const QString name = NameCodec::decode(e->d_name, qsizetype(std::strlen(e->d_name)));
            if (name == QLatin1String(".") || name == QLatin1String(".."))
                continue;
            const QVariantMap parsed = archiveFileNameParse(name);
            if (parsed.isEmpty())
                continue;
            const QString prefix = parsed.value(QStringLiteral("CBMethodPrefix")).toString();
            if (prefix != QLatin1String("full") && prefix != QLatin1String("incr")
                && prefix != QLatin1String("vers"))
                continue;
            const QString split = parsed.value(QStringLiteral("splitExt")).toString();
            if (split.isEmpty()) {
                found.push_back({ archiveNameDate(parsed), name });
            } else if (isVolumeSuffix(split)) {
                volumes[name.left(name.size() - 4)].push_back(volumeNumber(split));
            }
            // Anything else (a note beside an archive, a "cnt" name) is no archive file.
        }
        ::closedir(dir);
    }
    for (auto& [base, numbers] : volumes) {
        std::sort(numbers.begin(), numbers.end());
        int count = 0;
        while (count < int(numbers.size()) && numbers[size_t(count)] == count)
            ++count;
        if (count < int(numbers.size()))
            m_iBackup->processMessage(
                QStringLiteral("Split archive \"%1\": volumes after a missing one are not listed").arg(base),
                LogWord::UtilLog, m_iBackup.get());
        if (count == 0)
            continue;
        const QString name = base + QLatin1Char('.') + splittedArcCountToExt(count);
        found.push_back({ archiveNameDate(archiveFileNameParse(base)), name });
    }
    std::sort(found.begin(), found.end(), [](const Found& a, const Found& b) {
        if (a.date != b.date)
            return a.date < b.date;
        return a.name < b.name;
    });
    // Rebuilding a list never deletes: the names are only appended.
    const bool loading = m_loading;
    m_loading = true;
    const int before = int(m_archives.size());
    for (const Found& f : found)
        addArchNameWithPattern(f.name);
    m_loading = loading;
    return int(m_archives.size()) - before;
}

void CBackup::deleteOldFullArchives()
{
    if (isLocationDeviceCDRWType() || m_backupMethod != BackupMethodFull || m_archives.size() < 2)
        return;
    const size_t at = m_archives.size() - 2;
    const QString name = m_archives[at].fileName;
    if (!name.isEmpty()) {
        if (archiveFileNameParse(name).value(QStringLiteral("CBMethodPrefix")).toString()
            != QLatin1String("full"))
            return;
        if (!isSingleComponentName(name))
            return;
        // Only this archive's own file, or its own volumes: exact names.
        const QString folder = archiveFolder();
        if (!folder.isEmpty())
            deleteArcFiles(folder + QLatin1Char('/') + name);
    }
    m_archives.erase(m_archives.begin() + qsizetype(at));
    removeHistoryDataForBackupArchive(int(at));
}

void CBackup::removeArchName(const QString& name)
{
    for (auto it = m_archives.begin(); it != m_archives.end(); ++it) {
        if (!name.isNull() && it->fileName.compare(name, Qt::CaseInsensitive) == 0) {
            m_archives.erase(it);
            break;
        }
    }
    m_iBackup->registerExternalChange(6);
}

void CBackup::removeArchNameByIndex(int index)
{
    if (index >= 0 && size_t(index) < m_archives.size())
        m_archives.erase(m_archives.begin() + index);
}

void CBackup::removeLastBackupArchive()
{
    const char* prefix = methodPrefix(m_backupMethod);
    if (!prefix)
        return;
    // The archive just built: the newest entry of the method.
    for (qsizetype i = qsizetype(m_archives.size()) - 1; i >= 0; --i) {
        const QString& name = m_archives[size_t(i)].fileName;
        if (name.isEmpty() || name.startsWith(QLatin1String(prefix))) {
            m_archives.erase(m_archives.begin() + i);
            removeHistoryDataForBackupArchive(int(i));
            break;
        }
    }
    m_iBackup->registerExternalChange(6);
}

void CBackup::removeAllArchNames()
{
    m_archives.clear();
    if (isMainThreadNow())
        m_iBackup->registerExternalChange(6);
}

int CBackup::findArchiveName(const QString& name) const
{
    if (name.isNull())
        return -1;
    for (size_t i = 0; i < m_archives.size(); ++i)
        if (m_archives[i].fileName.compare(name, Qt::CaseInsensitive) == 0)
            return int(i);
    return -1;
}

int CBackup::getArchIndexByDate(const QDateTime& date) const
{
    if (m_archives.empty())
        return -2;
    // The newest archive built at or before the date, by the build time each name carries.
    const QDateTime local = date.toLocalTime();
    for (qsizetype i = qsizetype(m_archives.size()) - 1; i >= 0; --i) {
        const QDateTime built = archiveNameDate(archiveFileNameParse(m_archives[size_t(i)].fileName));
        if (built.isValid() && built <= local)
            return int(i);
    }
    return -1;
}

void CBackup::setSelectedArchiveIndex(int index)
{
    if (index >= int(m_archives.size()))
        return;
    m_selectedIndex = index;
    setSelectedArchive(index < 0 ? QString() : m_archives[size_t(index)].fileName);
    findIndexOfFirstSomeTypeArch();
}

bool CBackup::findIndexOfFirstSomeTypeArch()
{
    if (m_selectedIndex < 0) {
        m_chainStart = m_selectedIndex;
        return false;
    }
    if (m_selectedIndex == 0 || m_selectedArchive.isEmpty()) {
        m_chainStart = 0;
        return false;
    }
    const QChar first = m_selectedArchive.at(0);
    for (int i = m_selectedIndex - 1; i >= 0; --i) {
        const QString& name = m_archives[size_t(i)].fileName;
        if (name.isEmpty() || name.at(0) != first) {
            m_chainStart = i;
            return true;
        }
    }
    m_chainStart = 0;
    return false;
}

bool CBackup::checkIfArchiveNameConformToMultiVol(const QString& path, int limit) const
{
    const int length = int(path.toUtf8().size());
    if (length <= limit)
        return true;
    UiPrompts::Alert alert;
    alert.style = UiPrompts::AlertStyle::Critical;
    alert.title = QCoreApplication::translate("Localizable", "Path \"%1\" is too long - %2 symbols!")
                      .arg(path)
                      .arg(length);
    alert.text
        = QCoreApplication::translate("Localizable",
            "The total archive path can't be longer then %1 symbols if you use multi-volume (archive size "
            "limit) option.\n%2\r%3")
              .arg(limit)
              .arg(QCoreApplication::translate("Localizable",
                  "You may decrease the path by changing: backup name and/or destination folder."))
              .arg(QCoreApplication::translate("Localizable",
                  "Also, you may use a custom temporary folder (choose it in the Preferences dialog)."));
    alert.buttons << QCoreApplication::translate("Localizable", "OK");
    UiPrompts::shared().showAlert(alert);
    return false;
}

bool CBackup::isTimeToBackup(const QDateTime& now)
{
    if (!now.isValid() || !m_useSchedule)
        return false;
    const auto next = [this, &now]() {
        return ::nextProcessDate(now, CBSchedIntervalType(m_schedIntervalType), m_schedMonthDay,
            m_schedWeekDays, m_schedHH, m_schedMM, m_schedMinutes);
    };
    if (!m_nextDate.isValid())
        m_nextDate = next();
    if (!m_nextDate.isValid())
        return false;
    if (m_startLate)
        return now > m_nextDate;
    const qint64 m = m_nextDate.secsTo(now) / 60;
    if (m > 0 && m < 10)
        return true;
    if (m >= 10)
        m_nextDate = next();
    return false;
}
