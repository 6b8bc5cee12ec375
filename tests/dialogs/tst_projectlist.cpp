// kv-test: labels=gui timeout=120

#include "RecordingShellServices.h"
#include "Screenshot.h"
#include "shell/dialogs/IQV3ProjectCell.h"
#include "shell/dialogs/IQV3ProjectListView.h"
#include "shell/dialogs/ProjectListModel.h"
#include "shell/dialogs/QV3ProcessIndicator.h"
#include "utilities/IColorUtil.h"

#include <QAbstractItemModelTester>
#include <QtTest>
#include <QtWidgets>

namespace {

// A list over a vector, as a pane's list over its container.
class VectorModel : public ProjectListModel
{
public:
    QList<ProjectListRow> rows;
    bool refuseMoves = false;
    int saves = 0;

    int projectCount() const override { return int(rows.size()); }
    ProjectListRow projectRow(int row) const override { return rows.value(row); }
    bool moveProject(int from, int to) override
    {
        if (refuseMoves)
            return false;
        const ProjectListRow r = rows.takeAt(from);
        rows.insert(to > from ? to - 1 : to, r);
        ++saves;
        return true;
    }
    QStringList names() const
    {
        QStringList n;
        for (const ProjectListRow& r : rows)
            n << r.name;
        return n;
    }
};

ProjectListRow row(const QString& name, bool inProcess = false, bool inQueue = false, bool scheduled = false)
{
    ProjectListRow r;
    r.name = name;
    r.status = QStringLiteral("Never done");
    r.image = QIcon(QStringLiteral(":/icons/archive_norm.svg"));
    r.inProcess = inProcess;
    r.inQueue = inQueue;
    r.scheduled = scheduled;
    return r;
}

struct Pane : QObject, IProjectListAddAction, IProjectListPropertiesAction, IProjectListColorAction
{
    QStringList calls;
    void actAddProject(QObject*) override { calls << QStringLiteral("add"); }
    void actShowProjectProperties(QObject*) override { calls << QStringLiteral("properties"); }
    void menuColorLabelSelect(int tag) override { calls << QStringLiteral("color:%1").arg(tag); }
};

// A pane that only shows properties.
struct PropertiesOnlyPane : QObject, IProjectListPropertiesAction
{
    int shown = 0;
    void actShowProjectProperties(QObject*) override { ++shown; }
};

bool sameImage(const QImage& a, const QImage& b)
{
    return a.convertToFormat(QImage::Format_RGB32) == b.convertToFormat(QImage::Format_RGB32);
}

// Whether any pixel of the rectangle differs from the colour.
bool paintedIn(const QImage& image, const QRect& rect, const QColor& background)
{
    const QRect r = rect.intersected(image.rect());
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x)
            if (image.pixelColor(x, y).rgb() != background.rgb())
                return true;
    return false;
}

QMimeData* dragOf(VectorModel& model, int r)
{
    return model.mimeData({ model.index(r, ProjectListModel::NameColumn) });
}

} // namespace

class TestProjectList : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { Screenshot::fixConditions(); }

    void stateMarks_data()
    {
        QTest::addColumn<bool>("inProcess");
        QTest::addColumn<bool>("inQueue");
        QTest::addColumn<bool>("scheduled");
        QTest::addColumn<int>("mark");
        using M = IQV3ProjectCell::StateMark;
        QTest::newRow("idle") << false << false << false << int(M::None);
        QTest::newRow("scheduled") << false << false << true << int(M::Schedule);
        QTest::newRow("queue flag alone") << false << true << false << int(M::None);
        QTest::newRow("running") << true << false << true << int(M::Wheel);
        QTest::newRow("running and queued") << true << true << true << int(M::Queue);
    }
    void stateMarks()
    {
        QFETCH(bool, inProcess);
        QFETCH(bool, inQueue);
        QFETCH(bool, scheduled);
        QFETCH(int, mark);
        QCOMPARE(int(IQV3ProjectCell::stateMark(inProcess, inQueue, scheduled)), mark);
    }

    void modelRolesAndDrops()
    {
        VectorModel model;
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        model.rows = { row("A"), row("B", true), row("C", true, true), row("D") };
        model.rows[0].color = QColor(Qt::red);
        model.reloadProjects();
        QCOMPARE(model.rowCount(), 4);
        QCOMPARE(model.data(model.index(0, 0), ProjectListModel::ColorRole).value<QColor>(), QColor(Qt::red));
        QVERIFY(!model.data(model.index(1, 0), ProjectListModel::ColorRole).isValid());
        QCOMPARE(model.data(model.index(1, 2), ProjectListModel::SpinnerRole).toBool(), true);
        QCOMPARE(model.data(model.index(2, 2), ProjectListModel::SpinnerRole).toBool(), false);
        QCOMPARE(model.spinnerRows(), QList<int>({ 1 }));
        QCOMPARE(model.data(model.index(0, 2), ProjectListModel::CellModeRole).toInt(), 2);
        QVERIFY(!(model.flags(model.index(0, 1)) & Qt::ItemIsEditable)); // renaming is the pane's choice

        // Down by two: A dropped before D.
        std::unique_ptr<QMimeData> mime(dragOf(model, 0));
        QVERIFY(mime->hasFormat(QStringLiteral("IQV3ProjectListDataType")));
        QVERIFY(
            !model.dropMimeData(mime.get(), Qt::MoveAction, 3, 0, QModelIndex())); // the view removes nothing
        QCOMPARE(model.names(), QStringList({ "B", "C", "A", "D" }));
        QCOMPARE(model.saves, 1);
        // Below the last row: to the end.
        mime.reset(dragOf(model, 0));
        model.dropMimeData(mime.get(), Qt::MoveAction, -1, -1, QModelIndex());
        QCOMPARE(model.names(), QStringList({ "C", "A", "D", "B" }));
        // Onto a row, onto itself, as a copy: nothing moves.
        mime.reset(dragOf(model, 0));
        QVERIFY(!model.canDropMimeData(mime.get(), Qt::MoveAction, -1, -1, model.index(2, 1)));
        QVERIFY(!model.canDropMimeData(mime.get(), Qt::CopyAction, 2, 0, QModelIndex()));
        model.dropMimeData(mime.get(), Qt::MoveAction, 1, 0, QModelIndex());
        QCOMPARE(model.names(), QStringList({ "C", "A", "D", "B" }));
        QCOMPARE(model.saves, 2);

        // Another process's row, or data that is not a row.
        QByteArray bytes;
        QDataStream out(&bytes, QIODevice::WriteOnly);
        out << qint64(QCoreApplication::applicationPid() + 1) << qint32(0);
        QMimeData foreign;
        foreign.setData(ProjectListModel::kMimeType, bytes);
        QVERIFY(!model.canDropMimeData(&foreign, Qt::MoveAction, 2, 0, QModelIndex()));
        QMimeData garbage;
        garbage.setData(ProjectListModel::kMimeType, "x");
        QVERIFY(!model.canDropMimeData(&garbage, Qt::MoveAction, 2, 0, QModelIndex()));

        // The container refuses: the list shows the order it keeps.
        model.refuseMoves = true;
        QSignalSpy resets(&model, &QAbstractItemModel::modelReset);
        QVERIFY(!model.moveRowTo(0, 3));
        QCOMPARE(model.names(), QStringList({ "C", "A", "D", "B" }));
        QCOMPARE(resets.count(), 1);
    }

    void emptyHintAndClosing()
    {
        RecordingShellServices shell;
        ShellServicesScope scope(&shell);
        VectorModel model;
        IQV3ProjectListView view;
        view.setModel(&model);
        view.resize(300, 320);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        const QColor background = *IColorUtil::colorForTarget(1);

        QImage image = view.viewport()->grab().toImage();
        QVERIFY(paintedIn(image, view.emptyHintRect(), background));
        // Nothing of the hint outside its rectangle.
        QVERIFY(!paintedIn(image, QRect(0, 0, 300, view.emptyHintRect().top() - 1), background));
        Screenshot::save(&view, QStringLiteral("shell"), QStringLiteral("list-empty"),
            QStringLiteral("An empty project list with its hint"));

        model.rows = { row(QStringLiteral("Documents")) };
        model.reloadProjects();
        image = view.viewport()->grab().toImage();
        QVERIFY(!paintedIn(image, QRect(0, 60, 300, 260), background));
        QVERIFY(paintedIn(image, QRect(0, 0, 300, 54), background)); // the row itself

        // While closing, the list paints nothing of its own.
        shell.closing = true;
        const QImage closingImage = view.viewport()->grab().toImage();
        model.rows.clear();
        model.reloadProjects();
        QVERIFY(sameImage(view.viewport()->grab().toImage(), closingImage));
        QVERIFY(!paintedIn(closingImage, closingImage.rect(), closingImage.pixelColor(0, 0)));
    }

    void mouseAndMenu()
    {
        VectorModel model;
        model.rows = { row("A"), row("B"), row("C") };
        model.rows[1].color = QColor(Qt::red);
        IQV3ProjectListView view;
        view.setModel(&model);
        view.resize(300, 300);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        QVERIFY(!view.isLastClickMuvable());
        Pane pane;
        view.setDelegate(&pane);

        const QPoint onB = view.visualRect(model.index(1, 1)).center();
        const QPoint below(150, 250);
        QTest::mouseDClick(view.viewport(), Qt::LeftButton, {}, below);
        QTest::mouseDClick(view.viewport(), Qt::LeftButton, {}, onB);
        QCOMPARE(pane.calls, QStringList({ "add", "properties" }));
        QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, onB);
        QVERIFY(view.isLastClickMuvable());
        PropertiesOnlyPane propertiesOnly;
        view.setDelegate(&propertiesOnly);
        QTest::mouseDClick(view.viewport(), Qt::LeftButton, {}, below); // no add: nothing
        QCOMPARE(propertiesOnly.shown, 0);
        view.setDelegate(&pane);

        // The colour strip: the label, or the window background without one.
        const QImage image = view.viewport()->grab().toImage();
        QCOMPARE(image.pixelColor(view.visualRect(model.index(1, 0)).center()), QColor(Qt::red));
        QCOMPARE(image.pixelColor(view.visualRect(model.index(2, 0)).center()),
            view.palette().color(QPalette::Window));

        QMenu menu;
        menu.addAction(QStringLiteral("Properties"));
        view.setMenu(&menu);
        view.upgradeMenu();
        view.upgradeMenu();
        int colourItems = 0;
        for (QAction* a : menu.actions())
            colourItems += a->data().toInt() == IQV3ProjectListView::kColorMenuTag ? 1 : 0;
        QCOMPARE(colourItems, 1);
        QAction* colourItem = menu.actions().first();
        QCOMPARE(colourItem->text(), QStringLiteral("Color label"));
        QCOMPARE(colourItem->menu()->actions().size(), 9);
        colourItem->menu()->actions().at(4)->trigger();
        QCOMPARE(pane.calls.last(), QStringLiteral("color:4"));

        // Right click: a row not selected becomes the only selection; below the rows it stays.
        view.selectRowByCode(0);
        QContextMenuEvent onRow(QContextMenuEvent::Mouse, view.visualRect(model.index(2, 1)).center(),
            view.viewport()->mapToGlobal(view.visualRect(model.index(2, 1)).center()));
        QApplication::sendEvent(view.viewport(), &onRow);
        menu.hide();
        QCOMPARE(view.selectionModel()->selectedRows().size(), 1);
        QCOMPARE(view.selectionModel()->selectedRows().first().row(), 2);
        QContextMenuEvent belowRows(QContextMenuEvent::Mouse, below, view.viewport()->mapToGlobal(below));
        QApplication::sendEvent(view.viewport(), &belowRows);
        menu.hide();
        QCOMPARE(view.selectionModel()->selectedRows().first().row(), 2);

        // A selection made by code is not announced.
        QSignalSpy changed(view.selectionModel(), &QItemSelectionModel::selectionChanged);
        view.selectRowByCode(1);
        QCOMPARE(changed.count(), 0);
        QCOMPARE(view.selectionModel()->selectedRows().first().row(), 1);
    }

    void wheelTurnsOnlyInRunningRows()
    {
        VectorModel model;
        model.rows = { row(QStringLiteral("Running home"), true),
            row(QStringLiteral("Waiting photos"), true, true),
            row(QStringLiteral("Scheduled mail"), false, false, true), row(QStringLiteral("Idle music")) };
        model.rows[0].status = QStringLiteral("Backing up 12 %");
        model.rows[2].color = QColor(84, 168, 255);
        IQV3ProjectListView view;
        view.setModel(&model);
        view.resize(360, 260);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        QV3ProcessIndicator& wheel = QV3ProcessIndicator::shared();
        QVERIFY(wheel.isTurning());
        QCOMPARE(view.spinnerRows(), QList<int>({ 0 }));

        const auto stateCell = [&](int r) {
            return view.viewport()
                ->grab(view.visualRect(model.index(r, ProjectListModel::StateColumn)))
                .toImage();
        };
        const QImage running = stateCell(0), queued = stateCell(1), scheduled = stateCell(2),
                     idle = stateCell(3);
        const QColor background = *IColorUtil::colorForTarget(1);
        QVERIFY(paintedIn(queued, queued.rect(), background));
        QVERIFY(paintedIn(scheduled, scheduled.rect(), background));
        QVERIFY(!sameImage(queued, scheduled)); // two different marks
        QVERIFY(!paintedIn(idle, idle.rect().adjusted(0, 0, 0, -2), background));

        wheel.advance();
        wheel.advance();
        QVERIFY(!sameImage(stateCell(0), running));
        QVERIFY(sameImage(stateCell(1), queued));
        QVERIFY(sameImage(stateCell(2), scheduled));
        Screenshot::save(&view, QStringLiteral("shell"), QStringLiteral("list-rows"),
            QStringLiteral("Running, queued, scheduled and idle projects; the third has a blue label"));

        // The timer stops with the last running row.
        model.rows[0].inProcess = false;
        model.projectChanged(0);
        QVERIFY(!wheel.isTurning());
        QCOMPARE(wheel.ownerCount(), 0);
    }
};

QTEST_MAIN(TestProjectList)
#include "tst_projectlist.moc"
