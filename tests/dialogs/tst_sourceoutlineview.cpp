// kv-test: labels=gui timeout=60

// The check-box outline: a press in the check column toggles the row once through the model and
// keeps the selection; other columns select as usual; the header toggles all, alternating.

#include "shell/dialogs/ISourceOutlineView.h"

#include <QtTest>
#include <QtWidgets>

class TestSourceOutlineView : public QObject
{
    Q_OBJECT
private slots:
    void checkColumnPresses();
};

void TestSourceOutlineView::checkColumnPresses()
{
    QStandardItemModel model(3, 2);
    for (int r = 0; r < 3; ++r) {
        auto* check = new QStandardItem;
        check->setCheckable(true);
        check->setCheckState(Qt::Checked);
        model.setItem(r, 0, check);
        model.setItem(r, 1, new QStandardItem(QStringLiteral("row %1").arg(r)));
    }
    int writes = 0;
    connect(&model, &QStandardItemModel::dataChanged, this, [&] { ++writes; });
    ISourceOutlineView view;
    view.setModel(&model);
    view.setCheckColumn(0);
    view.resize(400, 200);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));

    view.setCurrentIndex(model.index(2, 1));
    const QRect box = view.visualRect(model.index(0, 0));
    QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, box.center());
    QCOMPARE(model.item(0, 0)->checkState(), Qt::Unchecked);
    QCOMPARE(writes, 1); // one toggle, not a second one by the delegate on release
    QCOMPARE(view.currentIndex().row(), 2); // the selection stays
    QCOMPARE(view.lastClickedIndex().row(), 0);
    QCOMPARE(view.lastClickedColumn(), 0);
    QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, box.center());
    QCOMPARE(model.item(0, 0)->checkState(), Qt::Checked);

    // Another column selects.
    QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, view.visualRect(model.index(1, 1)).center());
    QCOMPARE(view.currentIndex().row(), 1);
    QCOMPARE(model.item(1, 0)->checkState(), Qt::Checked);

    // The header: uncheck all, then check all.
    QSignalSpy toggles(&view, &ISourceOutlineView::checkAllToggled);
    const int x = view.header()->sectionViewportPosition(0) + 5;
    QTest::mouseClick(view.header()->viewport(), Qt::LeftButton, {}, QPoint(x, 5));
    QTest::mouseClick(view.header()->viewport(), Qt::LeftButton, {}, QPoint(x, 5));
    QCOMPARE(toggles.count(), 2);
    QCOMPARE(toggles.at(0).at(0).toBool(), false);
    QCOMPARE(toggles.at(1).at(0).toBool(), true);
}

QTEST_MAIN(TestSourceOutlineView)
#include "tst_sourceoutlineview.moc"
