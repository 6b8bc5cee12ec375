// The destination side of a snapshot-backup run: the project folder, its version list and work
// folder, and the rename of the work folder into a version folder.

#include "platform/NameCodec.h"
#include "platform/NameSanitizer.h"
#include "platform/PlistBridge.h"
#include "platform/RootProcess.h"
#include "projects/ILocation.h"
#include "snapshot/Backup3VersionList.h"
#include "snapshot/IBackup3.h"
#include "snapshot/IBackup3Controller.h"
#include "snapshot/IBackup3Processor.h"
#include "utilities/CommonFunctions.h"
#include "utilities/IPathUtil.h"
#include "utilities/IProcController.h"
#include "utilities/LogOptions.h"
#include "utilities/TempFolder.h"
#include "utilities/UiPrompts.h"

#include <QCoreApplication>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString loc(const char* text)
{
    return QCoreApplication::translate("Localizable", text);
}

std::string bytes(const QString& path)
{
    return NameCodec::encodeStd(path);
}

QString joined(const QString& folder, const QString& name)
{
    if (folder.endsWith(QLatin1Char('/')))
        return folder + name;
    return folder + QLatin1Char('/') + name;
}

bool exists(const QString& path)
{
    struct stat st;
    return !path.isEmpty() && ::lstat(bytes(path).c_str(), &st) == 0;
}

// A real folder (a symbolic link to one does not count).
bool isRealFolder(const QString& path)
{
    struct stat st;
    return !path.isEmpty() && ::lstat(bytes(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

QString lastComponent(const QString& path)
{
    QString p = path;
    while (p.size() > 1 && p.endsWith(QLatin1Char('/')))
        p.chop(1);
    return p.mid(p.lastIndexOf(QLatin1Char('/')) + 1);
}

QString errnoText(int e)
{
    return QString::fromLocal8Bit(std::strerror(e));
}

constexpr quint64 kWorkMessageWord = LogOption::String | LogOption::Window | LogOption::RunLog
    | LogOption::Time | LogOption::ProjectName | LogOption::RunTag;

} // namespace

bool IBackup3Processor::prepareDestBackupFolders(IBackup3& project)
{
    const bool A = m_admin;
    const bool S = project.isProcessingBySchedule();
    std::shared_ptr<ILocation> L = project.destLocation();

    // An image destination is opened first; its content then serves as the project folder.
    if (project.useBDI()) {
        if (!project.openBDI())
            return false;
    } else {
        // The destination's volume must be mounted: an empty mount point on the root file
        // system is never written to.
        const bool noLocation = !L || (L->deviceType() == -1 && L->volumeUUID().isEmpty());
        if (noLocation) {
            auto chosen = std::shared_ptr<ILocation>(ILocation::create());
            if (S || !IBackup3Controller::shared().chooseDestPathByUser(chosen.get())) {
                workMessage(WorkMessageNotChosen, QString());
                return false;
            }
            project.setDestLocation(chosen);
            L = chosen;
        }
        // A scheduled run never waits; a user start waits for the volume as long as the user
        // wants it to (each wait at most 30 s), and goes on once it is mounted.
        while (!L->isActiveForce()) {
            int waited = 0;
            if (!S) {
                UiPrompts::VolumeWaitRequest request;
                request.volumeName = L->displayName();
                request.timeoutSeconds = 30;
                request.isActive = [L] { return L->isActiveForce(); };
                waited = UiPrompts::shared().waitForVolume(request);
            }
            if (waited <= 0) {
                workMessage(WorkMessageVolumeNotActive, L->displayName());
                return false;
            }
        }
        if (L->getUnverifiedFullPath().isEmpty()) {
            workMessage(WorkMessageFolderNotFound, L->getPathFromMountPoint());
            return false;
        }
        if (L->getUnverifiedFullPath() == QLatin1String("/") && !A) {
            workMessage(WorkMessageFolderNotFound, L->getPathFromMountPoint());
            return false;
        }
    }

    const QString F = project.destinationFullPath();
    // The project keeps the folder an earlier run made for it while that folder exists (its list
    // is checked below); otherwise it starts from its file name. Starting from the file name every
    // time would make a new folder, and a full copy, on every run when that name is taken.
    const QString recorded = project.projectBackupFolderField();
    bool keepRecorded = false;
    if (!project.useBDI() && !recorded.isEmpty() && recorded != project.fileName()
        && NameSanitizer::sanitize(recorded) == recorded)
        keepRecorded = isRealFolder(joined(F, recorded));
    if (!keepRecorded)
        project.setProjectBackupFolder(NameSanitizer::sanitize(project.fileName()));

    QString B;
    QString P;
    QString V;
    if (project.isBDICurrentlyActivated()) {
        B = project.getBDIContentPath();
        P = B;
        V = B;
    } else {
        B = F;
        P = joined(F, project.projectBackupFolder());
        V = F;
    }

    QString comment;
    const bool hardLinks = IProcController::isFolderSupportHardLinks(V, A, &comment);
    if (A && !hardLinks && IProcController::lastProcessResult() == 6)
        return false;
    setHardlinkTest(hardLinks);

    auto makeNewProjectFolder = [&]() -> bool {
        project.clearLastProcessData();
        const QString name = generateProjectFolderNameInDestLocation(project);
        if (name.isEmpty()) {
            workMessage(WorkMessageProjectFolderError, P);
            return false;
        }
        P = joined(B, name);
        QString why;
        if (!createProjectFolder(P, project, &why)) {
            workMessage(WorkMessageProjectFolderError, P);
            if (!why.isEmpty())
                message(why, LogWord::WindowPrefixedNow);
            return false;
        }
        return true;
    };

    bool isDir = false;
    const bool present = IProcController::fileExistsAtPath(P, &isDir, A) && isDir && isRealFolder(P);
    if (!present) {
        if (!makeNewProjectFolder())
            return false;
    } else if (isFullProjectFolder(P, project)) {
        const QString last = project.lastProcessFolder();
        if (!last.isEmpty() && !isRealFolder(joined(P, last)))
            project.clearLastProcessData();
    } else {
        if (!makeNewProjectFolder())
            return false;
    }

    const QString W = joined(P, Backup3VersionList::workFolderName());
    bool workIsDir = false;
    if (!(IProcController::fileExistsAtPath(W, &workIsDir, A) && workIsDir)) {
        QString why;
        if (!IProcController::makeDir(W, A, &why)) {
            workMessage(WorkMessageWorkFolderError, W);
            if (!why.isEmpty())
                message(why, LogWord::WindowPrefixedNow);
            return false;
        }
    }
    setCurrentWorkFolderPath(W);
    return true;
}

QString IBackup3Processor::generateProjectFolderNameInDestLocation(IBackup3& project)
{
    if (project.fileName().isEmpty())
        return QString();
    const QString F = project.useBDI() ? project.getBDIContentPath() : project.destinationFullPath();
    // Names from the project become one path component inside the destination, never more.
    bool refused = false;
    const QString N0 = NameSanitizer::sanitize(project.fileName(), &refused);
    if (!refused && !N0.isEmpty() && !exists(joined(F, N0)))
        return N0;
    QString base = NameSanitizer::sanitize(project.name(), &refused);
    if (refused || base.isEmpty())
        base = QStringLiteral("Backup");
    for (int n = 1; n < 100000; ++n) {
        const QString name = NameSanitizer::sanitize(base + QString::number(n));
        if (!exists(joined(F, name)))
            return name;
    }
    return QString();
}

bool IBackup3Processor::createProjectFolder(const QString& path, IBackup3& project, QString* comment)
{
    if (!IProcController::makeDir(path, m_admin, comment))
        return false;
    project.setProjectBackupFolder(lastComponent(path));
    return saveLastProcessData(project, true, comment);
}

bool IBackup3Processor::isFullProjectFolder(const QString& folder, IBackup3& project)
{
    const Backup3VersionList::ReadResult list = Backup3VersionList::read(folder);
    using State = Backup3VersionList::State;
    if (list.state == State::Missing)
        return true;
    if (list.state == State::Ok && list.dict.value(QStringLiteral("ProjectUUID")).toString() == project.UUID()
        && !project.UUID().isEmpty())
        return true;
    // A list of another project, or one that cannot be read, is never overwritten: it is moved
    // aside. A damaged list of this folder is then rebuilt from the version folders.
    const bool damaged = list.state != State::Ok;
    QString error;
    const QString aside = Backup3VersionList::moveAside(folder, &error);
    if (aside.isNull()) {
        workMessage(WorkMessageProjectFileError, QString());
        if (!error.isEmpty())
            message(error, LogWord::WindowPrefixedNow);
        return false;
    }
    IPathUtil::setUsedAdminPrivileges(m_admin);
    IPathUtil::fixOwnerForFile(joined(folder, aside));
    if (damaged) {
        message(
            loc("The version list of \"%1\" could not be read; it was kept as \"%2\" and rebuilt from the "
                "version folders.")
                .arg(folder, aside),
            LogWord::WindowPrefixedNow);
        const QVariantMap rebuilt = Backup3VersionList::rebuildFromFolders(folder, project.UUID());
        QString writeError;
        if (!writeVersionList(folder, rebuilt, &writeError)) {
            message(writeError, LogWord::WindowPrefixedNow);
            return false;
        }
        IPathUtil::fixOwnerForFile(joined(folder, Backup3VersionList::fileName()));
    }
    return true;
}

bool IBackup3Processor::saveLastProcessData(IBackup3& project, bool UUIDOnly, QString* error)
{
    if (project.projectBackupFolder().isEmpty())
        return true;
    const QString G = project.projectFolderPath();
    if (G.isEmpty() || !isRealFolder(G))
        return true;
    const Backup3VersionList::ReadResult list = Backup3VersionList::read(G);
    QVariantMap dict;
    switch (list.state) {
    case Backup3VersionList::State::Ok:
        dict = list.dict;
        break;
    case Backup3VersionList::State::Missing:
    case Backup3VersionList::State::Empty:
        break;
    default:
        // Never written over: the list in place does not read.
        if (error)
            *error = loc("The version list \"%1\" cannot be read: %2")
                         .arg(joined(G, Backup3VersionList::fileName()), list.error);
        return false;
    }
    if (!project.UUID().isEmpty()) {
        const QString uuid = dict.value(QStringLiteral("ProjectUUID")).toString();
        if (uuid.isEmpty()) {
            dict.insert(QStringLiteral("ProjectUUID"), project.UUID());
        } else if (uuid != project.UUID()) {
            if (error)
                *error = loc("The version list \"%1\" belongs to another project.")
                             .arg(joined(G, Backup3VersionList::fileName()));
            return false;
        }
    }
    if (!UUIDOnly) {
        QVariantMap entry;
        if (project.lastProcessDate().isValid()) {
            dict.insert(QStringLiteral("LastDate"), project.lastProcessDate());
            entry.insert(QStringLiteral("Date"), project.lastProcessDate());
        }
        if (!project.lastProcessFolder().isEmpty()) {
            dict.insert(QStringLiteral("LastFolder"), project.lastProcessFolder());
            entry.insert(QStringLiteral("Folder"), project.lastProcessFolder());
        }
        QVariantList locations;
        const auto& sources = project.srcLocations();
        for (qsizetype i = 0; i < sources.size(); ++i) {
            if (!sources[i])
                continue;
            QVariantMap d = ILocation::dictFromLocation(*sources[i]);
            const QString wrapper
                = lastComponent(project.destFolderPathForPass(long(i), QStringLiteral("/")));
            if (!wrapper.isEmpty() && wrapper != QLatin1String("/"))
                d.insert(QStringLiteral("ArchiveName"), wrapper);
            struct stat st;
            const QString path = sources[i]->getUnverifiedFullPath();
            d.insert(QStringLiteral("IsFolder"),
                !path.isEmpty() && ::stat(bytes(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode));
            locations.append(d);
        }
        if (!locations.isEmpty())
            entry.insert(QStringLiteral("Locations"), locations);
        QVariantList array = dict.value(QStringLiteral("ProcessDataArray")).toList();
        array.append(entry);
        dict.insert(QStringLiteral("ProcessDataArray"), array);
    }
    IPathUtil::setUsedAdminPrivileges(m_admin);
    QString writeError;
    if (!writeVersionList(G, dict, &writeError)) {
        if (error)
            *error = writeError;
        return false;
    }
    IPathUtil::fixOwnerForFile(joined(G, Backup3VersionList::fileName()));
    return true;
}

bool IBackup3Processor::writeVersionList(const QString& folder, const QVariantMap& dict, QString* error)
{
    QString writeError;
    if (Backup3VersionList::write(folder, dict, &writeError))
        return true;
    if (!m_admin || ::geteuid() == 0) {
        if (error)
            *error = writeError;
        return false;
    }
    // The project folder belongs to root: the list is written in this process's private folder
    // and put in place as root, by a rename inside the project folder.
    std::string tmpError;
    const std::string tmp = TempFolder::createFile(TempFolder::defaultBase(), &tmpError);
    const QString staged = NameCodec::decode(tmp);
    bool ok = !tmp.empty() && PlistBridge::writeFileAtomically(staged, dict, &writeError);
    const QString next = joined(folder, QStringLiteral(".qv3info.plist.new"));
    QString out;
    ok = ok
        && IProcController::runRootedToolWithArgsArray(
            { QStringLiteral("cp"), QStringLiteral("--"), staged, next }, &out)
        && IProcController::runRootedToolWithArgsArray(
            { QStringLiteral("mv"), QStringLiteral("-T"), QStringLiteral("--"), next,
                joined(folder, Backup3VersionList::fileName()) },
            &out);
    if (!tmp.empty())
        ::unlink(tmp.c_str());
    if (!ok && error)
        *error = out.trimmed().isEmpty() ? writeError : out.trimmed();
    return ok;
}

int IBackup3Processor::renameWorkFolder(
    const QString& workFolder, const QString& versionFolder, bool admin, QString* error)
{
    const std::string W = bytes(workFolder);
    const std::string V = bytes(versionFolder);
    auto checked = [&]() -> int {
        struct stat st;
        if (::lstat(W.c_str(), &st) == 0 || ::lstat(V.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
            if (error)
                *error = loc("The work folder was not moved to \"%1\".").arg(versionFolder);
            return EIO;
        }
        return 0;
    };
    const bool viaRoot = admin && ::geteuid() != 0;
    if (viaRoot) {
        // The version folder is claimed by creating it; only then the work folder moves onto it.
        QString out;
        if (!IProcController::runRootedToolWithArgsArray(
                { QStringLiteral("mkdir"), QStringLiteral("--"), versionFolder }, &out)) {
            if (exists(versionFolder)) {
                if (error)
                    *error = errnoText(EEXIST);
                return EEXIST;
            }
            if (error)
                *error = out.trimmed();
            return EACCES;
        }
        if (!IProcController::runRootedToolWithArgsArray(
                { QStringLiteral("mv"), QStringLiteral("-T"), QStringLiteral("--"), workFolder,
                    versionFolder },
                &out)) {
            if (error)
                *error = out.trimmed();
            return EIO;
        }
        return checked();
    }
    if (!admin) {
        if (::renameat2(AT_FDCWD, W.c_str(), AT_FDCWD, V.c_str(), RENAME_NOREPLACE) == 0)
            return checked();
        const int e = errno;
        if (e != EINVAL) {
            if (error)
                *error = errnoText(e);
            return e;
        }
    }
    // No no-replace rename here (FUSE file systems), or a run as root: the name is claimed by
    // mkdir, then the work folder replaces that empty folder.
    if (::mkdir(V.c_str(), 0755) != 0) {
        const int e = errno;
        if (error)
            *error = errnoText(e);
        return e;
    }
    if (::rename(W.c_str(), V.c_str()) != 0) {
        const int e = errno;
        ::rmdir(V.c_str());
        if (error)
            *error = errnoText(e);
        return e;
    }
    return checked();
}
