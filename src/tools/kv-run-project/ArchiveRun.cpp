#include "ArchiveRun.h"

#include "ArgvOutFile.h"
#include "DriverShellServices.h"
#include "DriverText.h"
#include "DriverUiPrompts.h"
#include "ProjectRun.h"
#include "archive/CBackup.h"
#include "archive/IBackup.h"
#include "platform/AppPaths.h"
#include "platform/DistributedNotificationCenter.h"
#include "platform/NameCodec.h"
#include "projects/IAgentTool.h"
#include "projects/ILocation.h"
#include "utilities/IVolumeBase.h"
#include "utilities/MainPreferences.h"
#include "utilities/TempFolder.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusReply>
#include <QEventLoop>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <dirent.h>
#include <iostream>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

void err(const QString& text)
{
    const QByteArray bytes = NameCodec::encode(text) + '\n';
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    std::fflush(stderr);
}

using DriverText::oneLine;

struct StoredProject
{
    QString file; // the .bif file name
    QString name;
    QString uuid;
};

std::vector<StoredProject> storedProjects(const QString& backups)
{
    const std::vector<QByteArray> files = DriverText::bifFiles(backups);
    std::vector<StoredProject> out;
    for (const QByteArray& f : files) {
        const QString file = NameCodec::decode(f);
        CBackup probe(file.left(file.size() - 4));
        if (probe.loadTopContentLevel(backups + QLatin1Char('/') + file, false))
            out.push_back({ file, probe.name(), probe.getUUID() });
    }
    return out;
}

quint32 cipherMethod(const QString& cipher)
{
    if (cipher == QLatin1String("bf"))
        return CBCryptBlowfish;
    if (cipher == QLatin1String("des3"))
        return CBCrypt3DES;
    if (cipher == QLatin1String("aes128"))
        return CBCryptAES128;
    if (cipher == QLatin1String("aes256"))
        return CBCryptAES256;
    return CBCryptNone;
}

// Services of a program without a user interface, registered while the run lives.
struct DriverServices
{
    DriverShellServices shell;
    DriverUiPrompts prompts;
    DriverServices()
    {
        IShellServices::setShared(&shell);
        UiPrompts::setShared(&prompts);
    }
    ~DriverServices()
    {
        UiPrompts::setShared(nullptr);
        IShellServices::setShared(nullptr);
    }
};

} // namespace

ArchiveRun::ArchiveRun(const RunOptions& options)
    : m_options(options)
{ }

int ArchiveRun::notStarted(const QString& why)
{
    err(QStringLiteral("kv-run-project: ") + why);
    m_last = QStringLiteral("2 - ") + oneLine(why);
    return 2;
}

int ArchiveRun::exec()
{
    struct stat st = {};
    const QByteArray ws = NameCodec::encode(m_options.workspace);
    if (::stat(ws.constData(), &st) != 0 || !S_ISDIR(st.st_mode)
        || ::access(ws.constData(), R_OK | X_OK) != 0)
        return notStarted(
            QStringLiteral("the workspace \"%1\" is not a readable folder").arg(m_options.workspace));
    AppPaths::setWorkspacePathOverride(m_options.workspace);
    IVolumeBase::shared().fill();
    const int code = m_options.newName.isNull() ? runProject() : createProject();
    TempFolder::removeAll();
    return code;
}

int ArchiveRun::createProject()
{
    DriverServices services;
    for (const QString& source : m_options.sources)
        if (!QFileInfo::exists(source) && !QFileInfo(source).isSymLink())
            return notStarted(QStringLiteral("the source \"%1\" does not exist").arg(source));
    if (!m_options.destDisc && !QFileInfo(m_options.dest).isDir())
        return notStarted(QStringLiteral("the destination \"%1\" is not a folder").arg(m_options.dest));

    const QString backups = m_options.workspace + QStringLiteral("/Backups");
    QStringList names;
    for (const StoredProject& p : storedProjects(backups))
        names << p.name;
    QString name = m_options.newName;
    for (int n = 1; names.contains(name, Qt::CaseInsensitive); ++n)
        name = m_options.newName + QString::number(n);

    auto project = std::make_unique<CBackup>(name);
    std::unique_ptr<ILocation> location(ILocation::create());
    if (m_options.destDisc) {
        // An optical disc: the archives are built in a work folder and burned from there.
        location->setDeviceType(ILocation::DeviceCD);
        location->setDisplayName(QStringLiteral("CD/DVD(RW)"));
        location->setEmpty(false);
    } else if (!location->setupWithPath(m_options.dest)) {
        return notStarted(
            QStringLiteral("the destination \"%1\" is on no usable volume").arg(m_options.dest));
    }
    project->setLocation(*location, true);
    project->setBackupMethod(m_options.method == QLatin1String("full") ? BackupMethodFull
            : m_options.method == QLatin1String("incr")                ? BackupMethodIncremental
                                                                       : BackupMethodVersions);
    project->setUseCompression(m_options.compress);
    project->setCryptMethod(cipherMethod(m_options.cipher));
    project->setBackupSizeLimit(quint64(m_options.splitKb));
    project->setUseAdminPrivileges(m_options.admin);
    for (const QString& source : m_options.sources)
        if (!project->addItemFromDisk(source))
            return notStarted(QStringLiteral("the source \"%1\" cannot be added").arg(source));
    if (!project->save())
        return notStarted(QStringLiteral("the project cannot be saved: %1").arg(project->lastFileError()));
    m_last = QStringLiteral("0 %1.bif Project \"%2\" created").arg(project->fileName(), name);
    return 0;
}

int ArchiveRun::runProject()
{
    DriverServices services;
    // With both, the administrator line comes first.
    if (m_options.adminPasswordStdin) {
        std::string line;
        if (!std::getline(std::cin, line))
            return notStarted(QStringLiteral("--admin-password-stdin: no password on standard input"));
        services.prompts.setAdminPassword(QByteArray::fromStdString(line));
    }
    if (m_options.passwordStdin) {
        std::string line;
        if (!std::getline(std::cin, line))
            return notStarted(QStringLiteral("--password-stdin: no password on standard input"));
        services.prompts.setProjectPassword(QByteArray::fromStdString(line));
    }
    ArgvOutFile argvOut;
    if (!m_options.argvOut.isNull()) {
        QString error;
        if (!argvOut.open(m_options.argvOut, &error))
            return notStarted(QStringLiteral("--argv-out: ") + error);
    }

    const QString backups = m_options.workspace + QStringLiteral("/Backups");
    QString file;
    int matches = 0;
    for (const StoredProject& p : storedProjects(backups)) {
        const bool hit = m_options.projectName.isNull() ? p.uuid == m_options.projectUUID
                                                        : p.name == m_options.projectName;
        if (hit) {
            ++matches;
            file = p.file;
        }
    }
    if (matches == 0)
        return notStarted(QStringLiteral("the workspace has no such project"));
    if (matches > 1)
        return notStarted(QStringLiteral("the workspace has %1 such projects").arg(matches));
    CBackup project(file.left(file.size() - 4));
    if (!project.load(backups + QLatin1Char('/') + file, false))
        return notStarted(
            QStringLiteral("the project \"%1\" does not load: %2").arg(file, project.lastFileError()));
    IBackup* face = project.getIBackup();

    QEventLoop loop;
    bool ended = false;
    face->onRunEnded = [&] {
        ended = true;
        loop.quit();
    };
    face->onJobStarted = [&](qint64 pgid, const QList<QStringList>& stages) {
        err(QStringLiteral("pgid: %1").arg(pgid));
        if (argvOut.isOpen()) {
            for (const QStringList& stage : stages)
                argvOut.append(stage);
            argvOut.append(QStringList());
        }
    };
    QString stopWhy;
    auto stop = [&](const QString& why) {
        if (stopWhy.isEmpty())
            stopWhy = why;
        err(QStringLiteral("kv-run-project: stop requested (%1)").arg(why));
        face->stopByUser();
    };
    std::unique_ptr<QSocketNotifier> stopNotifier;
    if (ProjectRun::stopSignalFd() >= 0) {
        stopNotifier = std::make_unique<QSocketNotifier>(ProjectRun::stopSignalFd(), QSocketNotifier::Read);
        QObject::connect(stopNotifier.get(), &QSocketNotifier::activated, [&] {
            char byte = 0;
            if (::read(ProjectRun::stopSignalFd(), &byte, 1) == 1)
                stop(byte == SIGINT ? QStringLiteral("SIGINT") : QStringLiteral("SIGTERM"));
        });
    }
    QTimer timeout;
    if (m_options.timeoutSeconds > 0) {
        timeout.setSingleShot(true);
        QObject::connect(&timeout, &QTimer::timeout,
            [&] { stop(QStringLiteral("timeout of %1 s").arg(m_options.timeoutSeconds)); });
        timeout.start(int(m_options.timeoutSeconds * 1000));
    }

    project.setProcessingBySchedule(m_options.scheduled);
    QString object = QStringLiteral("-");
    if (m_options.restore) {
        int index = int(project.archives().size()) - 1;
        if (!m_options.restoreArchive.isNull()) {
            index = project.findArchiveName(m_options.restoreArchive);
            if (index < 0)
                return notStarted(
                    QStringLiteral("the project has no archive \"%1\"").arg(m_options.restoreArchive));
        }
        if (index < 0)
            return notStarted(QStringLiteral("the project has no archive to restore"));
        project.setSelectedArchiveIndex(index);
        object = project.archives()[size_t(index)].fileName;
        // Split archives reach tar through the cat tool, which asks this process for each volume
        // on the user's bus under the application's name.
        bool split = false;
        for (int i = m_options.single ? index : std::min(index, std::max(0, project.chainStartIndex()));
             i <= index; ++i)
            split = split
                || QFileInfo(project.archives()[size_t(i)].fileName)
                       .suffix()
                       .startsWith(QLatin1String("cnt"));
        if (split) {
            QDBusConnection bus = DistributedNotificationCenter::shared().connection();
            if (!bus.isConnected() || !bus.interface())
                return notStarted(QStringLiteral("no session bus can be reached: split archives are restored "
                                                 "through it"));
            const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> claimed
                = bus.interface()->registerService(QString::fromLatin1(IAgentTool::mainAppBundleIdentifier),
                    QDBusConnectionInterface::DontQueueService,
                    QDBusConnectionInterface::DontAllowReplacement);
            if (!claimed.isValid() || claimed.value() != QDBusConnectionInterface::ServiceRegistered)
                return notStarted(
                    QStringLiteral("the bus name %1 is owned by another process (the application "
                                   "runs): split archives cannot be restored beside it")
                        .arg(QString::fromLatin1(IAgentTool::mainAppBundleIdentifier)));
            IAgentTool::shared().setConnectMessageReceiver();
        }
        services.shell.setArchiveInProcess(face);
        services.prompts.setVolumeDirs(m_options.volumeDirs, m_options.skipMissing);
        if (m_options.inPlace && m_options.restoreTo.isNull())
            DriverUiPrompts::logPrompt(QStringLiteral("Restore in place"), QStringLiteral("Continue"));
        const int jobs
            = project.restoreBegining(m_options.restoreTo, m_options.restoreItems, m_options.single);
        if (jobs > 0 && !ended)
            loop.exec();
    } else {
        const int entries = project.build();
        if (entries > 0 && !ended)
            loop.exec();
    }

    const quint8 status = project.lastEndStatus();
    const QString text = oneLine(face->lastStatusString());
    int code = 0;
    if (!stopWhy.isEmpty() || (status & 0x4) || face->archivePromptRefused() || face->authorizationRefused())
        code = 4;
    else if (!m_options.restore && text.startsWith(QLatin1String("Files to")))
        code = 5;
    else if (m_options.restore ? text.contains(QLatin1String("has failed"))
                || text.startsWith(QLatin1String("Failed")) || text.startsWith(QLatin1String("Nothing"))
                               : project.lastBuiltArchive().isEmpty())
        code = 1;
    else if (status & 0x1)
        code = 3;
    if (!m_options.restore && code != 1 && code != 4 && code != 5 && !project.lastBuiltArchive().isEmpty())
        object = project.lastBuiltArchive();
    else if (!m_options.restore)
        object = QStringLiteral("-");
    if (code == 4 && text.isEmpty())
        m_last = QStringLiteral("4 %1 Terminated by user").arg(object);
    else
        m_last
            = QStringLiteral("%1 %2 %3").arg(code).arg(object, text.isEmpty() ? QStringLiteral("-") : text);
    return code;
}
