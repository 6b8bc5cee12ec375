// archive_outline DIR: the archive pane's outline over a project holding DIR (a flat folder of
// many files), offscreen. Prints the seconds of: opening the folder in the outline, the header's
// check-all and uncheck-all, opening the restore view, and the largest gap of a 10 ms probe
// timer while the outline is paged through; then the same listing done bare
// (find DIR -mindepth 1 -maxdepth 1 -printf '%f\n' | sort -f) and the ratio.
#include "archive/ArchiveProjectCreate.h"
#include "archive/CBackup.h"
#include "archive/CBackupContainer.h"
#include "panes/archive/ArchiveContentModel.h"
#include "panes/archive/ArchivePane.h"
#include "panes/archive/ArchiveProjectList.h"
#include "panes/archive/ArchiveRestoreView.h"
#include "platform/AppPaths.h"
#include "shell/dialogs/IDDOutlineView.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>

namespace {

double seconds(QElapsedTimer& t)
{
    return double(t.nsecsElapsed()) / 1e9;
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: archive_outline DIR\n");
        return 2;
    }
    const QString dir = QString::fromLocal8Bit(argv[1]);
    QTemporaryDir ws;
    AppPaths::setWorkspacePathOverride(ws.path());
    QDir().mkpath(ws.path() + "/Backups");

    CBackupContainer container;
    ArchivePane pane(&container);
    pane.resize(1000, 700);
    pane.show();
    QApplication::processEvents();
    CBackup* b = ArchiveProjectCreate::createBackup(container, { dir });
    pane.projectList()->append(b);
    pane.selectRow(0);
    ArchiveContentModel* model = pane.contentModel();
    IDDOutlineView* view = pane.outlineView();

    QElapsedTimer t;
    t.start();
    view->expand(model->index(0, 0));
    QApplication::processEvents();
    const double expand = seconds(t);
    const int rows = model->rowCount(model->index(0, 0));

    t.restart();
    model->setAllIncluded(true);
    QApplication::processEvents();
    const double checkAll = seconds(t);
    t.restart();
    model->setAllIncluded(false);
    QApplication::processEvents();
    const double uncheckAll = seconds(t);
    model->setAllIncluded(true);

    // Paging through with a probe timer: the largest gap between its ticks.
    QElapsedTimer probe;
    probe.start();
    qint64 last = 0, gap = 0;
    QTimer timer;
    timer.setInterval(10);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        const qint64 now = probe.elapsed();
        gap = std::max(gap, now - last);
        last = now;
    });
    timer.start();
    QScrollBar* bar = view->verticalScrollBar();
    const int steps = 200;
    qint64 slowest = 0;
    int slowestStep = -1;
    for (int i = 0; i <= steps; ++i) {
        const qint64 before = probe.elapsed();
        bar->setValue(bar->maximum() * i / steps);
        QElapsedTimer slice;
        slice.start();
        while (slice.elapsed() < 5)
            QApplication::processEvents();
        if (probe.elapsed() - before > slowest) {
            slowest = probe.elapsed() - before;
            slowestStep = i;
        }
    }
    timer.stop();

    t.restart();
    {
        ArchiveRestoreView restore(&container, b, &pane);
        restore.show();
        QApplication::processEvents();
    }
    const double restoreView = seconds(t);

    t.restart();
    QProcess bare;
    bare.start("/bin/sh", { "-c", "find \"$1\" -mindepth 1 -maxdepth 1 -printf '%f\\n' | sort -f > /dev/null", "x", dir });
    bare.waitForFinished(-1);
    const double bareList = seconds(t);

    std::printf("rows %d\nexpand %.3f s\nbare find|sort -f %.3f s\nexpand/bare %.2f\ncheck-all %.3f s\n"
                "uncheck-all %.3f s\nrestore view %.3f s\nlargest probe gap while paging %lld ms (slowest step %d: %lld ms)\n",
        rows, expand, bareList, expand / bareList, checkAll, uncheckAll, restoreView, (long long)gap, slowestStep, (long long)slowest);
    return 0;
}
