// archive_tree_walk TREE LIST WORKSPACE: one pass of the archive selection tree over TREE, for
// bench/archive-tree-bench. A project with TREE as its only top-level item is refreshed from
// disk and writes its build list to LIST; then it is saved into WORKSPACE/Backups and loaded
// again by a fresh project. Prints "refresh+list <s> save <s> load <s> items <n> lines <n>".
#include "archive/CBackup.h"
#include "archive/CBackupItem.h"
#include "platform/AppPaths.h"

#include <QCoreApplication>
#include <QDir>
#include <chrono>
#include <cstdio>

namespace {

double since(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

quint64 countItems(const CBackupItemsContainer& c)
{
    quint64 n = quint64(c.count());
    for (int i = 0; i < c.count(); ++i)
        n += countItems(*c.itemAt(i));
    return n;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 4) {
        std::fprintf(stderr, "usage: archive_tree_walk TREE LIST WORKSPACE\n");
        return 2;
    }
    const QString tree = QString::fromLocal8Bit(argv[1]);
    const QString workspace = QString::fromLocal8Bit(argv[3]);
    QDir().mkpath(workspace + QStringLiteral("/Backups"));
    AppPaths::setWorkspacePathOverride(workspace);

    auto start = std::chrono::steady_clock::now();
    CBackup project(QStringLiteral("Bench"));
    project.addItemFromDisk(tree);
    project.refreshFromDisk(&project, true, false, false);
    FILE* list = std::fopen(argv[2], "w");
    if (!list)
        return 1;
    double total = 0;
    const int lines = project.collectIncludedFilesToStream(list, false, total);
    std::fclose(list);
    const double walk = since(start);

    const QString bif = workspace + QStringLiteral("/Backups/bench.bif");
    start = std::chrono::steady_clock::now();
    if (!project.saveTo(bif, true))
        return 1;
    const double save = since(start);

    start = std::chrono::steady_clock::now();
    CBackup fresh(QStringLiteral("x"));
    if (!fresh.load(bif, false))
        return 1;
    const double load = since(start);
    std::printf("refresh+list %.3f save %.3f load %.3f items %llu lines %d\n", walk, save, load,
        static_cast<unsigned long long>(countItems(fresh)), lines);
    return 0;
}
