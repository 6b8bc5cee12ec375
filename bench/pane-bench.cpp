// pane-bench: the content outlines of the project panes over one flat folder of many files, on
// the offscreen platform, beside the bare listing of the same folder. See README.md here.
// Usage: pane-bench --outline NAME [--dir DIR] [--files N]
//        pane-bench --outline analysis --analyze [--trees DIR] [--repetitions N] [--seed S]
//
// Each outline is one entry of the table in outlines(): it makes its model and view over a
// folder and knows how to toggle a row and all rows. Further panes add their entry there.
// --analyze also times an analysis in the synchronization pane over two generated trees beside
// the same dry rsync run bare (analyzeBench below).
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
#include "panes/sync/SynchronizePane.h"
#include "panes/sync/SynchronizePaneController.h"
#include "RecordingRunLog.h"
#include "RecordingShellServices.h"
#include "ScriptedUiPrompts.h"
#include "projects/ExcludeToggler.h"
#include "projects/OutlineLister.h"
#include "projects/SourceOutlineModel.h"
#include "shell/dialogs/IDDOutlineView.h"
#include "shell/dialogs/ISourceOutlineView.h"
#include "sync/ISynchron.h"
#include "sync/ISynchronContainer.h"
#include "sync/ISynchronProcController.h"
#include "sync/QVProcEngineRunner.h"
#include "utilities/IVolumeBase.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QEventLoop>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPushButton>
#include <QRegularExpression>
#include <QProcess>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QTreeView>
#include <algorithm>
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
    // Selects every row of the folder and checks or unchecks the selection, when the outline's
    // menu has "Check All Selected" and "Uncheck All Selected".
    std::function<void(const QModelIndex& folder, bool on)> setSelected;
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
    IQVSyncAnalyzeView* view = parts->view.get();
    o.setSelected = [model, view](const QModelIndex& folder, bool on) {
        const int n = model->rowCount(folder);
        if (n == 0)
            return;
        view->selectionModel()->select(
            QItemSelection(model->index(0, 0, folder), model->index(n - 1, model->columnCount(folder) - 1, folder)),
            QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        // As the menu's items do it.
        model->setSelectedIncluded(view->selectionModel()->selectedRows(), on);
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


// ---- The analysis in the synchronization pane ---------------------------------------------------

double median(QList<double> v)
{
    std::sort(v.begin(), v.end());
    const qsizetype n = v.size();
    return n == 0 ? 0 : n % 2 ? v.at(n / 2) : (v.at(n / 2 - 1) + v.at(n / 2)) / 2;
}

bool runTool(const QString& program, const QStringList& args)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p.setStandardOutputFile(QProcess::nullDevice());
    p.start(program, args);
    if (!p.waitForFinished(-1) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        std::fprintf(stderr, "pane-bench: %s %s failed\n", qPrintable(program), qPrintable(args.join(' ')));
        return false;
    }
    return true;
}

// L and R in the folder, as analyze-bench makes them: gen-tree SEED L, rsync -a L/ R/, change
// SEED R. Trees already there are used as they are.
bool makeTrees(const QString& folder, const QString& seed)
{
    const QString L = folder + QStringLiteral("/L"), R = folder + QStringLiteral("/R");
    if (QFileInfo(L).isDir() && QFileInfo(R).isDir()) {
        std::printf("trees: %s/{L,R} (already there, used as they are)\n", qPrintable(folder));
        return true;
    }
    const QString bench = QStringLiteral(KV_BENCH_SOURCE_DIR);
    std::printf("trees: making %s/{L,R}: gen-tree %s, rsync -a, change %s\n", qPrintable(folder), qPrintable(seed),
        qPrintable(seed));
    std::fflush(stdout);
    return QDir().mkpath(folder) && runTool(bench + QStringLiteral("/gen-tree"), { seed, L })
        && runTool(QStringLiteral("rsync"), { QStringLiteral("-a"), L + QLatin1Char('/'), R + QLatin1Char('/') })
        && runTool(bench + QStringLiteral("/change"), { seed, R });
}

// The dry rsync the engine ran, as analyze-bench builds it: "-n", the words of the program's
// "Params", its "exArgs" and its exclude files that still exist, "L/" and "R".
QStringList bareArgv(const QByteArray& program)
{
    const QJsonObject data = QJsonDocument::fromJson(program)
                                 .object()
                                 .value(QStringLiteral("Phases"))
                                 .toObject()
                                 .value(QStringLiteral("InitParams"))
                                 .toObject()
                                 .value(QStringLiteral("InterfaceDataList"))
                                 .toObject();
    if (data.isEmpty())
        return {};
    QStringList argv { data.value(QStringLiteral("toolPath")).toString(), QStringLiteral("-n") };
    argv += data.value(QStringLiteral("Params")).toString().split(QLatin1Char(' '), Qt::SkipEmptyParts);
    for (const QJsonValue& v : data.value(QStringLiteral("exArgs")).toArray())
        argv << v.toString();
    static const QRegularExpression member(QStringLiteral("--exclude-from=\"(.*)\""));
    for (const char* key : { "exFile1Path", "exFile2Path" }) {
        const QRegularExpressionMatch m = member.match(data.value(QLatin1String(key)).toString());
        if (m.hasMatch() && QFileInfo::exists(m.captured(1)))
            argv << QStringLiteral("--exclude-from=") + m.captured(1);
    }
    QString source = data.value(QStringLiteral("SourceFolder")).toObject().value(QStringLiteral("Path")).toString();
    while (source.endsWith(QLatin1Char('/')))
        source.chop(1);
    argv << source + QLatin1Char('/')
         << data.value(QStringLiteral("DestFolder")).toObject().value(QStringLiteral("Path")).toString();
    return argv;
}

// Wall time of the bare run, and its item lines (the counting and speed lines left out).
double runBare(const QStringList& argv, int* lines)
{
    QElapsedTimer t;
    t.start();
    QProcess p;
    p.start(argv.first(), argv.mid(1));
    QByteArray out;
    while (p.state() != QProcess::NotRunning || p.bytesAvailable() > 0) {
        p.waitForReadyRead(100);
        out += p.readAllStandardOutput();
        if (p.state() == QProcess::NotRunning && p.bytesAvailable() == 0)
            break;
    }
    p.waitForFinished(-1);
    const double wall = ms(t);
    if (p.exitStatus() != QProcess::NormalExit || !QList<int> { 0, 23, 24 }.contains(p.exitCode())) {
        std::fprintf(stderr, "pane-bench: bare rsync failed (exit %d): %s\n", p.exitCode(),
            p.readAllStandardError().right(2000).constData());
        return -1;
    }
    *lines = 0;
    for (const QByteArray& l : out.split('\n'))
        if (!l.isEmpty() && !l.endsWith("files to consider") && !l.endsWith("(DRY RUN)") && !l.endsWith("bytes/sec")
            && !l.startsWith("building"))
            ++*lines;
    return wall;
}

// One analysis from the click on "Analyze" until its results are painted.
struct OursRun
{
    bool ok = false;
    double wall = 0; // click .. painted
    double finalAt = -1; // click .. the tree's finalAnalyze
    qint64 maxGap = 0; // the largest gap of the 10 ms probe timer meanwhile
    int nodes = 0;
};

OursRun runOurs(SynchronizePane& pane, SynchronizePaneController& controller)
{
    AnalyzeOutlineModel* model = controller.analyzeModel();
    OursRun r;
    QElapsedTimer t;
    // finalAnalyze turns the arrows on and announces the whole tree as changed.
    auto noteFinal = [&] {
        if (r.finalAt < 0 && model->showArrowsAndColors())
            r.finalAt = ms(t);
    };
    const QMetaObject::Connection c1 = QObject::connect(model, &QAbstractItemModel::dataChanged, noteFinal);
    const QMetaObject::Connection c2 = QObject::connect(model, &QAbstractItemModel::modelReset, noteFinal);
    QEventLoop loop;
    bool finished = false;
    const QMetaObject::Connection c3 = QObject::connect(model, &AnalyzeOutlineModel::analyzeFinished, [&] {
        finished = true;
        loop.quit();
    });
    // A failed or stopped analysis ends without analyzeFinished.
    QTimer watch;
    watch.setInterval(50);
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (!model->isAnalyzing() && !controller.isSyncAnalyzeProcess())
            loop.quit();
    });
    QElapsedTimer probeClock;
    qint64 lastTick = 0;
    QTimer probe;
    probe.setInterval(10);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        const qint64 now = probeClock.elapsed();
        r.maxGap = qMax(r.maxGap, now - lastTick);
        lastTick = now;
    });

    probeClock.start();
    probe.start();
    t.start();
    pane.analyzeButton()->click();
    watch.start();
    if (model->isAnalyzing() || controller.isSyncAnalyzeProcess())
        loop.exec();
    watch.stop();
    QCoreApplication::processEvents();
    pane.analyzeView()->viewport()->repaint();
    r.wall = ms(t);
    r.maxGap = qMax(r.maxGap, probeClock.elapsed() - lastTick);
    probe.stop();
    QObject::disconnect(c1);
    QObject::disconnect(c2);
    QObject::disconnect(c3);
    r.ok = finished && r.finalAt >= 0;
    r.nodes = model->treeRoot() ? model->treeRoot()->resultCount() : 0;
    return r;
}

// An analysis of two generated trees in the real synchronization pane beside the same dry rsync
// run bare, repetitions times, alternating which goes first. Returns the process exit code.
int analyzeBench(const QString& treesOption, int repetitions, const QString& seed)
{
    std::unique_ptr<QTemporaryDir> tempTrees;
    QString trees = treesOption;
    if (trees.isEmpty()) {
        tempTrees = std::make_unique<QTemporaryDir>(QDir::currentPath() + QStringLiteral("/pane-bench-trees-XXXXXX"));
        trees = tempTrees->path();
    }
    trees = QFileInfo(trees).absoluteFilePath();
    if (!makeTrees(trees, seed))
        return 1;
    const QString L = trees + QStringLiteral("/L"), R = trees + QStringLiteral("/R");
    // One untimed walk of both trees, as analyze-bench walks them.
    runTool(QStringLiteral("find"), { L, R, QStringLiteral("-printf"), QStringLiteral("%s %T@\n") });

    if (qEnvironmentVariableIsEmpty("KV_APP_CONTENTS"))
        AppPaths::setContentsDirOverride(QStringLiteral(KV_BENCH_BUILD_DIR "/Kelvane Pro 3.app/Contents"));
    QTemporaryDir workspace(QDir::currentPath() + QStringLiteral("/pane-bench-ws-XXXXXX"));
    AppPaths::setWorkspacePathOverride(workspace.path());
    RecordingShellServices shell;
    ScriptedUiPrompts prompts;
    RecordingRunLog runLog;
    IShellServices::setShared(&shell);
    UiPrompts::setShared(&prompts);
    IRunLog::setShared(&runLog);
    IVolumeBase::shared().fill();
    QVProcEngineRunner::install();

    int code = 0;
    {
        ISynchronContainer container(std::make_unique<ISynchronProcController>(), workspace.path());
        SynchronizePaneController controller(&container);
        ISynchronizeController::setShared(&controller);
        container.reInit();
        container.setCurrentSyncType(0);
        // As analyze-bench's project: L to R, direction 0, deletion on, no administrator rights.
        const std::shared_ptr<ISynchron> P = container.createNewSynchron(QStringLiteral("Bench"), 0);
        P->setUseAdminPrivileges(false);
        P->setDirection(0);
        P->setOptionDelete(true);
        P->setOptionConsiderModDate(false);

        SynchronizePane pane(&controller, 0);
        pane.resize(1000, 700);
        pane.show();
        QCoreApplication::processEvents();
        controller.setFolder(0, L);
        controller.setFolder(1, R);
        QCoreApplication::processEvents();
        AnalyzeOutlineModel* model = controller.analyzeModel();
        QByteArray program;
        model->setProgramObserver([&program](const QByteArray& text) { program = text; });
        if (!pane.analyzeButton()->isEnabled()) {
            std::fprintf(stderr, "pane-bench: the pane does not offer Analyze for %s and %s\n", qPrintable(L),
                qPrintable(R));
            code = 1;
        }

        QList<double> ratios, oursWalls, bareWalls, paints;
        QList<qint64> gaps;
        QStringList argv;
        for (int i = 0; code == 0 && i < repetitions; ++i) {
            const bool oursFirst = i % 2 == 0;
            OursRun ours;
            double bare = -1;
            int lines = 0;
            if (oursFirst || argv.isEmpty()) {
                ours = runOurs(pane, controller);
                argv = bareArgv(program);
                if (!argv.isEmpty())
                    bare = runBare(argv, &lines);
            } else {
                bare = runBare(argv, &lines);
                ours = runOurs(pane, controller);
            }
            if (!ours.ok || bare < 0 || argv.isEmpty()) {
                std::fprintf(stderr, "pane-bench: repetition %d failed (analysis %s, bare %s); pane: %s\n", i + 1,
                    ours.ok ? "completed" : "did not complete", bare < 0 ? "failed" : "ran",
                    qPrintable(controller.analyzeLabel()));
                code = 1;
                break;
            }
            const double paint = ours.wall - ours.finalAt;
            ratios << ours.wall / bare;
            oursWalls << ours.wall;
            bareWalls << bare;
            std::printf("repetition %d (%s): ours %.3f s, bare %.3f s, ratio %.3f; finalAnalyze at %.3f s, painted"
                        " %.3f s after it; largest probe gap %lld ms; result nodes %d, bare item lines %d\n",
                i + 1, oursFirst ? "ours first" : "bare first", ours.wall / 1000, bare / 1000, ours.wall / bare,
                ours.finalAt / 1000, paint / 1000, qint64(ours.maxGap), ours.nodes, lines);
            std::fflush(stdout);
            paints << paint;
            gaps << ours.maxGap;
            if (i + 1 == repetitions) {
                const double med = median(ratios);
                std::printf("  bare argv: %s\n", qPrintable(argv.join(QLatin1Char(' '))));
                std::printf("median ours/bare = %.3f; median wall ours %.3f s, bare %.3f s\n", med,
                    median(oursWalls) / 1000, median(bareWalls) / 1000);
                std::printf("goal median <= 1.15: %s; goal painted <= 0.5 s after finalAnalyze in every run: %s;"
                            " goal largest probe gap <= 100 ms in every run: %s\n",
                    med <= 1.15 ? "met" : "NOT met",
                    std::all_of(paints.begin(), paints.end(), [](double p) { return p <= 500; }) ? "met" : "NOT met",
                    std::all_of(gaps.begin(), gaps.end(), [](qint64 g) { return g <= 100; }) ? "met" : "NOT met");
            }
        }
        ISynchronizeController::setShared(nullptr);
    }
    IShellServices::setShared(nullptr);
    UiPrompts::setShared(nullptr);
    IRunLog::setShared(nullptr);
    return code;
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QString kind, dir, trees, seed = QStringLiteral("1");
    int files = 100000, repetitions = 3;
    bool analyze = false;
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        if (args.at(i) == QLatin1String("--outline") && i + 1 < args.size())
            kind = args.at(++i);
        else if (args.at(i) == QLatin1String("--dir") && i + 1 < args.size())
            dir = args.at(++i);
        else if (args.at(i) == QLatin1String("--files") && i + 1 < args.size())
            files = args.at(++i).toInt();
        else if (args.at(i) == QLatin1String("--analyze"))
            analyze = true;
        else if (args.at(i) == QLatin1String("--trees") && i + 1 < args.size())
            trees = args.at(++i);
        else if (args.at(i) == QLatin1String("--repetitions") && i + 1 < args.size())
            repetitions = qMax(1, args.at(++i).toInt());
        else if (args.at(i) == QLatin1String("--seed") && i + 1 < args.size())
            seed = args.at(++i);
        else {
            std::fprintf(stderr,
                "usage: pane-bench --outline NAME [--dir DIR] [--files N]\n"
                "       pane-bench --outline analysis --analyze [--trees DIR] [--repetitions N] [--seed S]\n");
            return 2;
        }
    }
    if (analyze && kind != QLatin1String("analysis")) {
        std::fprintf(stderr, "pane-bench: --analyze goes with --outline analysis\n");
        return 2;
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

    // The menu over every row of the folder selected: uncheck, then check the selection.
    double uncheckSelected = -1, checkSelected = -1;
    if (o.setSelected) {
        t.restart();
        o.setSelected(top, false);
        o.view->viewport()->repaint();
        uncheckSelected = ms(t);
        t.restart();
        o.setSelected(top, true);
        o.view->viewport()->repaint();
        checkSelected = ms(t);
    }

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
    if (uncheckSelected >= 0)
        std::printf("uncheck selected (%d rows): %.1f ms, check selected: %.1f ms (goal < 1000 ms each)\n", rows,
            uncheckSelected, checkSelected);
    if (restoreView >= 0)
        std::printf("restore view opened: %.1f ms (goal < 1000 ms)\n", restoreView);
    std::printf("paging %d pages in %.1f ms, largest probe gap %lld ms (goal <= 100 ms)\n", pages, paging,
        qint64(maxGap));
    std::fflush(stdout);
    if (!analyze)
        return 0;
    o.view->hide();
    std::printf("analysis in the synchronization pane (%d repetitions, seed %s)\n", repetitions, qPrintable(seed));
    return analyzeBench(trees, repetitions, seed);
}
