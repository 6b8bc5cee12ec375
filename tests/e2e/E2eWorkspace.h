#pragma once

// Shared pieces of the end-to-end tests: a workspace with a hand-written project list, the
// headless driver run as a child process, and readers for what a run leaves on disk.

#include "KvTest.h"
#include "LoopImage.h"
#include "ScopedMount.h"
#include "TempTree.h"
#include "platform/MountInfo.h"
#include "platform/NameCodec.h"
#include "platform/PlistBridge.h"
#include "platform/ProcessTable.h"
#include "platform/Subprocess.h"

#include <QDir>
#include <QElapsedTimer>
#include <QList>
#include <QString>
#include <QStringList>
#include <QThread>
#include <QUuid>
#include <QVariantList>
#include <QVariantMap>
#include <algorithm>
#include <dirent.h>
#include <sys/stat.h>
#include <utility>

namespace E2e {

// The vectors of an --argv-out file and how many job ends it holds (a job end: an empty vector).
struct ArgvJobs
{
    QList<QStringList> vectors;
    int jobEnds = 0;
};
inline ArgvJobs readArgvJobs(const QByteArray& bytes)
{
    ArgvJobs jobs;
    QList<QByteArray> elements = bytes.split('\0');
    elements.removeLast(); // after the last NUL
    QStringList current;
    for (const QByteArray& e : elements) {
        if (!e.isEmpty())
            current << QString::fromUtf8(e);
        else if (!current.isEmpty())
            jobs.vectors << std::exchange(current, QStringList());
        else
            ++jobs.jobEnds;
    }
    return jobs;
}

inline QString driverPath()
{
    return KvTest::appContentsDir() + QStringLiteral("/MacOS/kv-run-project");
}

inline QString newUUID()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
}

// A stored location for a folder, bound by the mount point of its file system (as a user's choice
// of the folder is stored, without the volume UUID, which the binding does not need).
inline QVariantMap locationDict(const QString& path, qint64 tag = -1)
{
    const auto mount = MountInfo::mountForPath(path, MountInfo::read());
    QVariantMap d;
    const QString mp = mount ? mount->mountPoint : QStringLiteral("/");
    QString inner = path.mid(mp == QLatin1String("/") ? 1 : mp.size());
    d.insert(QStringLiteral("MountPoint"), mp);
    d.insert(QStringLiteral("PathFromMountPoint"), inner.isEmpty() ? QStringLiteral("-") : inner);
    d.insert(QStringLiteral("DeviceType"), qint64(0));
    if (tag >= 0)
        d.insert(QStringLiteral("Tag"), tag);
    return d;
}

// What a test project needs; the rest stays at the stored defaults.
struct ProjectPlan
{
    QString name = QStringLiteral("Docs");
    QString uuid = newUUID();
    QStringList sources; // full paths; tags 1, 2, ...
    QString destination; // full path
    QString destinationVolumeUUID; // stored with the destination when not empty
    bool admin = false;
    long keep = 0; // thinning by number when > 0
    QString excludePattern; // exclude-by-pattern when not empty
    QStringList excludePaths; // the project's excluded paths
    bool scheduled = false;
    int scheduleHH = 0;
    int scheduleMM = 0;
};

inline QVariantMap projectDict(const ProjectPlan& s)
{
    QVariantMap p;
    p.insert(QStringLiteral("Name"), s.name);
    p.insert(QStringLiteral("ProjectUUID"), s.uuid);
    p.insert(QStringLiteral("UseAdminPrivileges"), s.admin);
    QVariantList sources;
    for (qsizetype i = 0; i < s.sources.size(); ++i)
        sources.append(locationDict(s.sources.at(i), i + 1));
    p.insert(QStringLiteral("Sources"), sources);
    p.insert(QStringLiteral("TagForSrcLocations"), qint64(s.sources.size()));
    if (!s.destination.isEmpty()) {
        QVariantMap destination = locationDict(s.destination);
        if (!s.destinationVolumeUUID.isEmpty())
            destination.insert(QStringLiteral("VolumeUUID"), s.destinationVolumeUUID);
        p.insert(QStringLiteral("Destination"), destination);
    }
    QVariantMap schedule;
    schedule.insert(QStringLiteral("UseScheduled"), s.scheduled);
    if (s.scheduled) {
        schedule.insert(QStringLiteral("ScheduleIntervalType"), qint64(1)); // daily
        schedule.insert(QStringLiteral("TimeHH"), qint64(s.scheduleHH));
        schedule.insert(QStringLiteral("TimeMM"), qint64(s.scheduleMM));
    }
    p.insert(QStringLiteral("Schedule"), schedule);
    if (s.keep > 0) {
        p.insert(QStringLiteral("BackupCuttingType"), qint64(2));
        p.insert(QStringLiteral("BackupCuttingNumber"), qint64(s.keep));
    }
    if (!s.excludePattern.isEmpty()) {
        QVariantMap filters;
        filters.insert(QStringLiteral("ExcludeByPattern"), true);
        filters.insert(QStringLiteral("ExcludePattern"), s.excludePattern);
        p.insert(QStringLiteral("Filters"), filters);
    }
    if (!s.excludePaths.isEmpty())
        p.insert(QStringLiteral("ExcludePathList"), QVariant(s.excludePaths).toList());
    return p;
}

// A file in a test tree (parents made as needed).
inline bool put(TempTree& tree, const std::string& relative, const QByteArray& content, mode_t mode = 0644)
{
    return tree.writeFile(relative, content, mode);
}

inline QString listPath(const QString& workspace)
{
    return workspace + QStringLiteral("/Backups/Projects.plist");
}

inline bool writeWorkspace(const QString& workspace, const QList<QVariantMap>& projects,
    const QVariantList& archiveOrder = QVariantList())
{
    QVariantMap prefs;
    prefs.insert(QStringLiteral("Backup3PropertyScheme"), qint64(1));
    QVariantList list;
    for (const QVariantMap& p : projects)
        list.append(p);
    QVariantMap root;
    root.insert(QStringLiteral("Preferences"), prefs);
    root.insert(QStringLiteral("Backups3"), list);
    if (!archiveOrder.isEmpty())
        root.insert(QStringLiteral("ArchiveOrderList"), archiveOrder);
    if (!QDir().mkpath(workspace + QStringLiteral("/Backups")))
        return false;
    return PlistBridge::writeFileAtomically(listPath(workspace), root);
}

// One finished driver run.
struct DriverRun
{
    bool started = false;
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
    QString lastLine;
    QString version; // "-" when none
    QString status;
    QByteArray log; // standard output, then standard error
};

inline DriverRun finish(const Subprocess::Result& r)
{
    DriverRun d;
    d.started = r.started;
    d.exitCode = r.signal ? 128 + r.signal : r.exitCode;
    d.out = r.out;
    d.err = r.err;
    d.log = r.out + r.err;
    QList<QByteArray> lines = r.out.trimmed().split('\n');
    d.lastLine = lines.isEmpty() ? QString() : NameCodec::decode(lines.last());
    const QStringList parts = d.lastLine.split(QLatin1Char(' '));
    if (parts.size() >= 3) {
        d.version = parts.at(1);
        d.status = QStringList(parts.mid(2)).join(QLatin1Char(' '));
    }
    return d;
}

inline Subprocess::Options driverOptions(const QStringList& args, const QByteArray& input = QByteArray())
{
    Subprocess::Options o;
    o.program = driverPath();
    o.arguments = args;
    o.standardInput = input;
    return o;
}

inline DriverRun runDriver(
    const QStringList& args, int timeoutMs = 120000, const QByteArray& input = QByteArray())
{
    return finish(Subprocess::run(driverOptions(args, input), timeoutMs));
}

inline DriverRun runProject(const QString& workspace, const QString& name, const QStringList& extra = {})
{
    return runDriver(
        QStringList { QStringLiteral("--workspace"), workspace, QStringLiteral("--project"), name } + extra);
}

// The project folder a project gets on a fresh destination.
inline QString projectFolder(const QString& destination, const QString& name, const QString& uuid)
{
    return destination + QLatin1Char('/') + name + QLatin1Char('_') + uuid;
}

inline QString projectFolder(const ProjectPlan& s)
{
    return projectFolder(s.destination, s.name, s.uuid);
}

// Names in a folder starting with prefix, sorted.
inline QStringList entries(const QString& folder, const QString& prefix = QString())
{
    QStringList names;
    const QByteArray raw = NameCodec::encode(folder);
    if (DIR* d = ::opendir(raw.constData())) {
        while (dirent* e = ::readdir(d)) {
            const QString n = NameCodec::decode(QByteArray(e->d_name));
            if (n != QLatin1String(".") && n != QLatin1String("..") && n.startsWith(prefix))
                names << n;
        }
        ::closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

inline QStringList versionFolders(const QString& projectFolder)
{
    return entries(projectFolder, QStringLiteral("b3_"));
}

inline QVariantMap readInfo(const QString& projectFolder)
{
    return PlistBridge::readFile(projectFolder + QStringLiteral("/qv3info.plist")).value.toMap();
}

inline QStringList infoFolders(const QString& projectFolder)
{
    QStringList out;
    for (const QVariant& e : readInfo(projectFolder).value(QStringLiteral("ProcessDataArray")).toList())
        out << e.toMap().value(QStringLiteral("Folder")).toString();
    return out;
}

inline bool statPath(const QString& path, struct stat* st)
{
    return ::lstat(NameCodec::encode(path).constData(), st) == 0;
}

// The first descendant of pid whose process name is name; 0 when none (yet).
inline pid_t descendantNamed(pid_t pid, const QString& name)
{
    for (const ProcessEntry& e : ProcessTable::descendants(pid))
        if (e.name == name && !e.isEnded())
            return e.pid;
    return 0;
}

// A loop-mounted test volume at /mnt/qvtest-XXXXXX, released even after a failed test.
class TestVolume
{
public:
    ~TestVolume()
    {
        m_mount.unmount();
        m_image.release();
    }
    bool make(LoopImage::FsType type, qint64 sizeMiB = 0)
    {
        if (!m_image.createImage(type, sizeMiB) || !m_image.attach())
            return false;
        char templ[] = "/mnt/qvtest-XXXXXX";
        if (!::mkdtemp(templ))
            return false;
        return m_mount.mount(
            { QStringLiteral("-t"), m_image.fsTypeName(), m_image.device() }, QString::fromLatin1(templ));
    }
    QString path() const { return m_mount.dir(); }
    QString error() const { return m_image.errorString() + m_mount.errorString(); }
    bool unmount() { return m_mount.unmount(); }
    QString device() const { return m_image.device(); }

private:
    LoopImage m_image;
    ScopedMount m_mount;
};

} // namespace E2e
