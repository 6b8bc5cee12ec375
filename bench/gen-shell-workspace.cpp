// gen-shell-workspace WS N: a workspace with N projects in each of the four kits, for the
// application's start-up benchmark. The projects have no sources: loading them is the cost.
#include "FakeBackup3Engine.h"
#include "FakeSyncRunController.h"
#include "archive/CBackupContainer.h"
#include "platform/AppPaths.h"
#include "snapshot/IBackup3Container.h"
#include "sync/ISynchronContainer.h"
#include "utilities/IPathUtil.h"

#include <QCoreApplication>
#include <QDir>
#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: gen-shell-workspace WS N\n");
        return 2;
    }
    const QString ws = QDir(QString::fromLocal8Bit(argv[1])).absolutePath();
    const int n = QString::fromLatin1(argv[2]).toInt();
    if (n <= 0 || !QDir().mkpath(ws + QStringLiteral("/Backups"))) {
        std::fprintf(stderr, "gen-shell-workspace: bad count or workspace\n");
        return 2;
    }
    AppPaths::setWorkspacePathOverride(ws);
    IPathUtil::shared().setWorkspacePath(ws);
    {
        IBackup3Container backups(
            std::make_unique<FakeBackup3Engine>(), ws + QStringLiteral("/Backups/Projects.plist"));
        ISynchronContainer synchrons(std::make_unique<FakeSyncRunController>(), ws);
        for (int i = 0; i < n; ++i) {
            backups.createNewBackup3(QStringLiteral("Backup %1").arg(i));
            synchrons.createNewSynchron(QStringLiteral("Sync %1").arg(i), 0);
            synchrons.createNewSynchron(QStringLiteral("Clone %1").arg(i), 1);
        }
        if (!backups.save() || !synchrons.save()) {
            std::fprintf(stderr, "gen-shell-workspace: the snapshot or synchronization list was not saved\n");
            return 1;
        }
    }
    CBackupContainer& archives = CBackupContainer::shared();
    for (int i = 0; i < n; ++i)
        archives.addNewBackup(QStringLiteral("Archive %1").arg(i));
    archives.saveAllBackups();
    CBackupContainer::resetShared();
    std::printf("%d projects per kit in %s\n", n, qPrintable(ws));
    return 0;
}
