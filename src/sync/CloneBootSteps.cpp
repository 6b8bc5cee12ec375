#include "sync/CloneBootSteps.h"

#include "platform/AppPaths.h"
#include "utilities/IDiskUtil.h"
#include "utilities/IProcController.h"
#include "utilities/LogOptions.h"
#include "utilities/RsyncPassRun.h"
#include "platform/MainThread.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QPointer>
#include <QTimer>
#include <QVariantMap>
#include <mutex>

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace {

QString tr(const char* text)
{
    return QCoreApplication::translate("CloneBootSteps", text);
}

QString commandLine(const QStringList& argv)
{
    return QStringLiteral("command line: sudo ") + argv.join(QLatin1Char(' '));
}

} // namespace

CloneBootTools::Outcome CloneBootTools::run(const QStringList& argv)
{
    // The output a step keeps: enough for every line a tool of these steps prints, bounded
    // against one that prints without end.
    constexpr qsizetype kMaxOutput = 1 << 20;
    struct Shared
    {
        std::mutex mutex;
        QByteArray output;
        bool ended = false;
        int exitCode = -1;
        int exitSignal = 0;
    };
    auto shared = std::make_shared<Shared>();
    Outcome o;
    RsyncPassRun step;
    if (!step.startAsRoot(argv, [shared](const char* data, size_t size, bool) {
            std::lock_guard lock(shared->mutex);
            if (shared->output.size() < kMaxOutput)
                shared->output.append(data, qsizetype(std::min<size_t>(size, kMaxOutput - shared->output.size())));
        }))
        return o;
    o.started = true;
    if (onRun)
        onRun(argv, step.processGroup());
    QEventLoop loop;
    QPointer<QEventLoop> loopGuard(&loop);
    step.watch([shared, loopGuard](int code, int sig, bool) {
        {
            std::lock_guard lock(shared->mutex);
            shared->exitCode = code;
            shared->exitSignal = sig;
            shared->ended = true;
        }
        runOnMain([loopGuard] {
            if (loopGuard)
                loopGuard->quit();
        });
    });
    // A stop lets the step finish (a half-prepared destination is worse), within a grace time.
    QElapsedTimer stopSeen;
    QTimer poll;
    poll.setInterval(100);
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (!stopWanted || !stopWanted() || step.isStopRequested())
            return;
        if (!stopSeen.isValid())
            stopSeen.start();
        else if (stopSeen.elapsed() >= stopGraceMs)
            step.requestStop();
    });
    poll.start();
    bool ended = false;
    {
        std::lock_guard lock(shared->mutex);
        ended = shared->ended;
    }
    if (!ended) {
        ModalDepthGuard depth;
        loop.exec();
    }
    step.join();
    std::lock_guard lock(shared->mutex);
    o.exitCode = shared->exitSignal != 0 ? 128 + shared->exitSignal : shared->exitCode;
    o.output = shared->output;
    return o;
}

bool CloneBootTools::keepsOwners(const QString& destination)
{
    QVariantMap facts;
    return IDiskUtil::shared().loadAdvancedDiskInfoToDictionary(facts, destination)
        && facts.value(QStringLiteral("Owners")).toBool();
}

bool CloneBootTools::bothBtrfs(const QString& source, const QString& destination)
{
    IDiskUtil& disk = IDiskUtil::shared();
    if (!disk.getDiskInfo(source) || !disk.isAPFS())
        return false;
    return disk.getDiskInfo(destination) && disk.isAPFS();
}

QString CloneBootTools::preparerPath()
{
    const QString path = AppPaths::resourcePath(QStringLiteral("qv3_apfs_preparer"));
    const QFileInfo info(path);
    return info.isFile() && info.isExecutable() ? path : QString();
}

bool CloneBootTools::bless(const QString&)
{
    return false;
}

qint64 CloneBootTools::destinationSystemVersion(const QString& destination)
{
    return IDiskUtil::systemVersionForMountPoint(destination);
}

qint64 CloneBootTools::hostSystemVersion()
{
    return IDiskUtil::systemVersion();
}

bool CloneBootSteps::preparerLine(const QByteArray& line, const Message& message)
{
    if (line.size() < 9 || !line.startsWith("v3ap_"))
        return false;
    const QString text = QString::fromUtf8(line.mid(8)).trimmed();
    switch (line.at(5)) {
    case 'e':
        message(QStringLiteral("%1: Failed ").arg(text), LogOption::String | LogOption::RunLog | LogOption::Time
                | LogOption::ProjectName | LogOption::RunTag | LogOption::Status);
        return true;
    case 'o':
        if (text.endsWith(QLatin1String(": Not completed")))
            return true;
        message(QStringLiteral("%1: Succeeded ").arg(text), LogOption::String | LogOption::RunLog | LogOption::Time
                | LogOption::ProjectName | LogOption::RunTag | LogOption::Status);
        return false;
    case 'p':
        message(text, LogWord::StatusAndWindowUtf8);
        return false;
    default:
        return false;
    }
}

CloneBootSteps::Outcome CloneBootSteps::prepare(CloneBootTools& tools, const QString& source,
    const QString& destination, bool bootable, const Message& message)
{
    // A destination that is not a folder yet gets no preparation; a plain clone needs none.
    if (!bootable || !QFileInfo(destination).isDir())
        return Outcome::Bootable;
    bool notBootable = false;
    const QString preparer = tools.preparerPath();
    if (!preparer.isEmpty() && tools.bothBtrfs(source, destination)) {
        message(QStringLiteral("Start APFS_preparer, path = %1").arg(preparer), LogWord::RunLogPrefixed);
        const QStringList argv { preparer, source, destination };
        const CloneBootTools::Outcome o = tools.run(argv);
        // Nothing is copied onto a destination whose preparation could not even begin.
        if (!o.started) {
            message(tr("qv3_apfs_preparer starting error! "), LogWord::WindowPrefixedNow);
            return Outcome::StartFailed;
        }
        bool failed = o.exitCode != 0;
        for (const QByteArray& line : o.output.split('\n'))
            failed = CloneBootSteps::preparerLine(line.trimmed(), message) || failed;
        if (failed) {
            message(tr("Warning: Utility qv3_apfs_preparer failed. Clone will not be bootable."),
                LogWord::RunLogPrefixedNow);
            notBootable = true;
        }
    }
    if (!tools.keepsOwners(destination)) {
        message(tr("Warning: Utility vsdbutil couldn't start. Clone will not be bootable."), LogWord::RunLogPrefixedNow);
        notBootable = true;
    }
    const QString boot = QDir(destination).filePath(QStringLiteral("boot"));
    const QStringList mkdir { QStringLiteral("/bin/mkdir"), QStringLiteral("-p"), QStringLiteral("--"), boot };
    const CloneBootTools::Outcome made = tools.run(mkdir);
    if (made.started && made.exitCode == 0)
        message(commandLine(mkdir), LogWord::RunLogPrefixed);
    if (!QFileInfo(boot).isDir()) {
        message(tr("Warning: Folder \"%1\" could not be created. Clone will not be bootable.").arg(boot),
            LogWord::RunLogPrefixedNow);
        return Outcome::NotBootable;
    }
    if (!tools.bless(boot)) {
        message(tr("Warning: Utility bless couldn't start. Clone will not be bootable."), LogWord::RunLogPrefixedNow);
        notBootable = true;
    }
    return notBootable ? Outcome::NotBootable : Outcome::Bootable;
}

CloneBootSteps::Outcome CloneBootSteps::finish(
    CloneBootTools& tools, const QString& destination, const Message& message)
{
    if (tools.destinationSystemVersion(destination) < 101300 || tools.hostSystemVersion() < 101200)
        return Outcome::Bootable;
    message(tr("Dyld's shared cache updating..."), LogWord::StatusAndWindowUtf8);
    const QStringList argv { QStringLiteral("/sbin/ldconfig"), QStringLiteral("-r"), destination };
    const CloneBootTools::Outcome o = tools.run(argv);
    if (!o.started) {
        message(tr("update_dyld_shared_cache starting error! "), LogWord::WindowPrefixedNow);
        return Outcome::StartFailed;
    }
    for (const QByteArray& line : o.output.split('\n'))
        if (!line.trimmed().isEmpty())
            message(QString::fromUtf8(line), LogWord::RunLogPrefixedUtf8);
    message(commandLine(argv), LogWord::RunLogPrefixed);
    return Outcome::Bootable;
}
