// pane-bench: the content outlines of the project panes over one flat folder of many files, on
// the offscreen platform, beside the bare listing of the same folder. See README.md here.
// Usage: pane-bench --outline snapshot|archive [--dir DIR] [--files N]
//
// Each outline is one entry of the table in outlines(): it makes its model and view over a
// folder and knows how to toggle a row and all rows. Further panes add their entry there.
#include "archive/ArchiveProjectCreate.h"
#include "archive/CBackup.h"
#include "archive/CBackupContainer.h"
#include "panes/archive/ArchiveContentModel.h"
#include "panes/archive/ArchivePane.h"
#include "panes/archive/ArchiveProjectList.h"
#include "panes/archive/ArchiveRestoreView.h"
#include "platform/AppPaths.h"
#include "panes/sync/AnalyzeOutlineModel.h"
#include "panes/sync/IQVSyncAnalyzeView.h"
#include "projects/ExcludeToggler.h"
#include "projects/OutlineLister.h"
#include "projects/SourceOutlineModel.h"
#include "shell/dialogs/IDDOutlineView.h"
#include "shell/dialogs/ISourceOutlineView.h"
#include "sync/ISynchron.h"
#include "utilities/IVolumeBase.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QHeaderView>
#include <QProcess>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QTreeView>
#include <cstdio>
#include <fcntl.h>
#include <functional>
#include <map>
#include <memory>
#include <unistd.h>

namespace {

// One outline under test.
struct Outline
{
    QAbstractItemModel* model = nullptr;
    QTreeView* view = nullptr;
    int checkColumn = 0;
    std::function<void(bool)> setAll; // the header's check-all / uncheck-all
    std::function<void()> openRestore; // opens and closes the pane's restore view, when it has one
    std::shared_ptr<void> keep; // what the model and view need to live
};

using OutlineMaker = std::function<Outline(const QString& folder)>;

// The snapshot-backup pane's source outline: one source, the folder.
Outline snapshotOutline(const QString& folder)
{
    struct Parts
    {
        DirOutlineLister lister;
        StringExcludeList excludes;
        std::unique_ptr<SourceOutlineModel> model;
        std::unique_ptr<ISourceOutlineView> view;
    };
    auto parts = std::make_shared<Parts>();
    parts->model = std::make_unique<SourceOutlineModel>(&parts->lister, &parts->excludes);
    parts->view = std::make_unique<ISourceOutlineView>();
    parts->view->setModel(parts->model.get());
    parts->view->setCheckColumn(SourceOutlineModel::ColIncluded);
    parts->view->setTreePosition(SourceOutlineModel::ColName);
    parts->model->setSources({ { folder, 0 } });
    SourceOutlineModel* model = parts->model.get();
    Outline o;
    o.model = model;
    o.view = parts->view.get();
    o.checkColumn = SourceOutlineModel::ColIncluded;
    o.setAll = [model](bool on) { model->setAllIncluded(on); };
    o.keep = parts;
    return o;
}

// The archive pane's content outline: a project made of the folder as if it had been dropped,
// in a workspace of its own.
Outline archiveOutline(const QString& folder)
{
    struct Parts
    {
        QTemporaryDir workspace;
        std::unique_ptr<CBackupContainer> container;
        std::unique_ptr<ArchivePane> pane;
    };
    auto parts = std::make_shared<Parts>();
    AppPaths::setWorkspacePathOverride(parts->workspace.path());
    QDir().mkpath(parts->workspace.path() + QStringLiteral("/Backups"));
    parts->container = std::make_unique<CBackupContainer>();
    parts->pane = std::make_unique<ArchivePane>(parts->container.get());
    // The outline lives inside the pane: the pane is shown so that its rows are painted.
    parts->pane->resize(1000, 700);
    parts->pane->show();
    CBackup* b = ArchiveProjectCreate::createBackup(*parts->container, { folder });
    parts->pane->projectList()->append(b);
    parts->pane->selectRow(0);
    ArchiveContentModel* model = parts->pane->contentModel();
    Outline o;
    o.model = model;
    o.view = parts->pane->outlineView();
    o.checkColumn = ArchiveContentModel::ColIncluded;
    o.setAll = [model](bool on) { model->setAllIncluded(on); };
    ArchivePane* pane = parts->pane.get();
    CBackupContainer* container = parts->container.get();
    o.openRestore = [pane, container, b] {
        ArchiveRestoreView restore(container, b, pane);
        restore.show();
        QCoreApplication::processEvents();
    };
    o.keep = parts;
    return o;
}

// The clone pane's content outline: the same model over the source volume, with the project's
// exclude list and the container's hidden defaults (none here).
Outline cloneOutline(const QString& folder)
{
    return snapshotOutline(folder);
}

// The synchronization pane's analysis outline over a pair of folders: the left one holds the
// folder, the right one a hard-linked copy of it (no data blocks), removed at the end.
Outline analysisOutline(const QString& folder)
{
    struct Parts
    {
        std::unique_ptr<QTemporaryDir> right;
        std::shared_ptr<ISynchron> project;
        std::unique_ptr<AnalyzeOutlineModel> model;
        std::unique_ptr<IQVSyncAnalyzeView> view;
    };
    auto parts = std::make_shared<Parts>();
    const QFileInfo info(folder);
    parts->right = std::make_unique<QTemporaryDir>(info.absolutePath() + QStringLiteral("-right-XXXXXX"));
    const QString copy = parts->right->path() + QLatin1Char('/') + info.fileName();
    if (QProcess::execute(QStringLiteral("cp"), { QStringLiteral("-al"), folder, copy }) != 0)
        std::fprintf(stderr, "pane-bench: cannot link %s to %s; the right side is empty\n", qPrintable(folder),
            qPrintable(copy));
    IVolumeBase::shared().fill();
    parts->project = std::make_shared<ISynchron>();
    parts->project->setName(QStringLiteral("Bench"));
    parts->project->setFirstFolder(info.absolutePath());
    parts->project->setSecondFolder(parts->right->path());
    parts->model = std::make_unique<AnalyzeOutlineModel>();
    parts->view = std::make_unique<IQVSyncAnalyzeView>();
    parts->view->setAnalyzeModel(parts->model.get());
    parts->model->setProject(parts->project);
    AnalyzeOutlineModel* model = parts->model.get();
    Outline o;
    o.model = model;
    o.view = parts->view.get();
    o.checkColumn = AnalyzeOutlineModel::ColIncluded;
    o.setAll = [model](bool on) {
        if (on)
            model->checkAll();
        else
            model->uncheckAll();
    };
    o.keep = parts;
    return o;
}

const std::map<QString, OutlineMaker>& outlines()
{
    static const std::map<QString, OutlineMaker> table { { QStringLiteral("snapshot"), snapshotOutline },
        { QStringLiteral("archive"), archiveOutline }, { QStringLiteral("clone"), cloneOutline },
        { QStringLiteral("analysis"), analysisOutline } };
    return table;
}

double ms(const QElapsedTimer& t)
{
    return double(t.nsecsElapsed()) / 1e6;
}

bool makeFlatFolder(const QString& dir, int files)
{
    if (!QDir().mkpath(dir))
        return false;
    for (int i = 0; i < files; ++i) {
        const QByteArray path = QFile::encodeName(dir) + "/file-" + QByteArray::number(i) + ".txt";
        const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0)
            return false;
        const QByteArray body = QByteArray::number(i);
        const bool ok = ::write(fd, body.constData(), size_t(body.size())) == body.size();
        ::close(fd);
        if (!ok)
            return false;
    }
    return true;
}

// find DIR -mindepth 1 -maxdepth 1 -printf '%y %s %T@ %f\n' | sort -f, as two processes.
double bareListing(const QString& dir)
{
    QElapsedTimer t;
    t.start();
    QProcess find, sort;
    find.setStandardOutputProcess(&sort);
    sort.setStandardOutputFile(QProcess::nullDevice());
    find.start(QStringLiteral("find"),
        { dir, QStringLiteral("-mindepth"), QStringLiteral("1"), QStringLiteral("-maxdepth"), QStringLiteral("1"),
            QStringLiteral("-printf"), QStringLiteral("%y %s %T@ %f\n") });
    sort.start(QStringLiteral("sort"), { QStringLiteral("-f") });
    find.waitForFinished(-1);
    sort.closeWriteChannel();
    sort.waitForFinished(-1);
    return ms(t);
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QString kind, dir;
    int files = 100000;
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        if (args.at(i) == QLatin1String("--outline") && i + 1 < args.size())
            kind = args.at(++i);
        else if (args.at(i) == QLatin1String("--dir") && i + 1 < args.size())
            dir = args.at(++i);
        else if (args.at(i) == QLatin1String("--files") && i + 1 < args.size())
            files = args.at(++i).toInt();
        else {
            std::fprintf(stderr, "usage: pane-bench --outline NAME [--dir DIR] [--files N]\n");
            return 2;
        }
    }
    const auto maker = outlines().find(kind);
    if (maker == outlines().end()) {
        std::fprintf(stderr, "pane-bench: unknown outline \"%s\"; known:", qPrintable(kind));
        for (const auto& [name, make] : outlines())
            std::fprintf(stderr, " %s", qPrintable(name));
        std::fprintf(stderr, "\n");
        return 2;
    }
    std::unique_ptr<QTemporaryDir> temp;
    if (dir.isEmpty()) {
        temp = std::make_unique<QTemporaryDir>(QDir::currentPath() + QStringLiteral("/pane-bench-XXXXXX"));
        dir = temp->path() + QStringLiteral("/flat");
        std::printf("making %d files in %s\n", files, qPrintable(dir));
        if (!makeFlatFolder(dir, files)) {
            std::fprintf(stderr, "pane-bench: cannot write %s\n", qPrintable(dir));
            return 1;
        }
    }
    bareListing(dir); // warm the cache
    const double bare = bareListing(dir);

    Outline o = maker->second(dir);
    o.view->resize(900, 700);
    o.view->show();
    QCoreApplication::processEvents();

    // Expand the folder until its rows are painted.
    QElapsedTimer t;
    t.start();
    const QModelIndex top = o.model->index(0, 0);
    o.view->expand(top);
    QCoreApplication::processEvents();
    o.view->viewport()->repaint();
    const double expand = ms(t);
    const int rows = o.model->rowCount(top);

    // Uncheck and check the folder with every child read.
    const QModelIndex check = o.model->index(0, o.checkColumn);
    t.restart();
    o.model->setData(check, Qt::Unchecked, Qt::CheckStateRole);
    o.view->viewport()->repaint();
    const double uncheck = ms(t);
    t.restart();
    o.model->setData(check, Qt::Checked, Qt::CheckStateRole);
    o.view->viewport()->repaint();
    const double recheck = ms(t);

    // The header: uncheck all, check all.
    t.restart();
    o.setAll(false);
    o.view->viewport()->repaint();
    const double uncheckAll = ms(t);
    t.restart();
    o.setAll(true);
    o.view->viewport()->repaint();
    const double checkAll = ms(t);

    double restoreView = -1;
    if (o.openRestore) {
        t.restart();
        o.openRestore();
        restoreView = ms(t);
    }

    // Page from the top row to the last with a 10 ms probe timer running.
    QScrollBar* bar = o.view->verticalScrollBar();
    bar->setValue(0);
    QElapsedTimer probeClock;
    probeClock.start();
    qint64 lastTick = 0, maxGap = 0;
    QTimer probe;
    probe.setInterval(10);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        const qint64 now = probeClock.elapsed();
        maxGap = qMax(maxGap, now - lastTick);
        lastTick = now;
    });
    int pages = 0;
    QTimer pager;
    pager.setInterval(0);
    QObject::connect(&pager, &QTimer::timeout, [&] {
        bar->setValue(bar->value() + qMax(1, bar->pageStep()));
        o.view->viewport()->repaint();
        ++pages;
        if (bar->value() >= bar->maximum()) {
            pager.stop();
            QTimer::singleShot(30, &app, &QCoreApplication::quit);
        }
    });
    lastTick = probeClock.elapsed();
    probe.start();
    pager.start();
    t.restart();
    app.exec();
    const double paging = ms(t);

    std::printf("outline: %s, rows: %d, cores: %d, Qt %s\n", qPrintable(kind), rows, QThread::idealThreadCount(),
        qVersion());
    std::printf("bare find | sort -f: %.1f ms\n", bare);
    std::printf("expand until painted: %.1f ms, ratio %.2f (goal <= 1.5 and < 1000 ms)\n", expand, expand / bare);
    std::printf("uncheck folder: %.1f ms, check folder: %.1f ms (goal <= 300 ms each)\n", uncheck, recheck);
    std::printf("header uncheck-all: %.1f ms, check-all: %.1f ms (goal <= 1000 ms each)\n", uncheckAll, checkAll);
    if (restoreView >= 0)
        std::printf("restore view opened: %.1f ms (goal < 1000 ms)\n", restoreView);
    std::printf("paging %d pages in %.1f ms, largest probe gap %lld ms (goal <= 100 ms)\n", pages, paging,
        qint64(maxGap));
    return 0;
}
