// kv-test: labels=gui timeout=120
// kv-test: asan=src/shell/dialogs/IQVProcessIndicatorView.cpp

#include "Screenshot.h"
#include "shell/dialogs/IQVProcessIndicatorView.h"
#include "utilities/IColorUtil.h"

#include <QtTest>
#include <QtWidgets>
#include <thread>

namespace {

struct RecordingOwner : IMainButtonOwner
{
    QList<int> clicks; // the button state at each click
    void mainButtonClickedOn(IProcessIndicator* indicator) override
    {
        clicks.append(indicator->buttonState());
    }
};

// A parent that records the presses its child passes on.
struct Parent : QWidget
{
    int presses = 0;
    void mousePressEvent(QMouseEvent*) override { ++presses; }
};

bool near(QColor a, QColor b)
{
    return qAbs(a.red() - b.red()) <= 8 && qAbs(a.green() - b.green()) <= 8 && qAbs(a.blue() - b.blue()) <= 8;
}

const QColor kFull(0x2f, 0x8c, 0xf0);
const QColor kEmpty(0xf0, 0xf0, 0xf0);
const QColor kDisabled(0xf7, 0xf7, 0xf7);

} // namespace

class TestProcessIndicator : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        Screenshot::fixConditions();
        // the screen every window test draws on
        QCOMPARE(QGuiApplication::primaryScreen()->size(), QSize(1440, 900));
        QCOMPARE(QGuiApplication::primaryScreen()->logicalDotsPerInch(), 96.0);
    }

    void stateSequences_data()
    {
        QTest::addColumn<QList<QPointF>>("calls"); // (state, percentage)
        QTest::addColumn<int>("state");
        QTest::addColumn<double>("percentage");
        QTest::newRow("above 100 is 100") << QList<QPointF> { { 2, 150 } } << 2 << 100.0;
        QTest::newRow("start state empties the bar") << QList<QPointF> { { 1, 70 } } << 1 << 0.0;
        QTest::newRow("no step back while running") << QList<QPointF> { { 2, 50 }, { 2, 30 } } << 2 << 50.0;
        QTest::newRow("0 resets") << QList<QPointF> { { 2, 50 }, { 2, 30 }, { 2, 0 } } << 2 << 0.0;
        QTest::newRow("from 100 a new run starts lower")
            << QList<QPointF> { { 2, 100 }, { 2, 30 } } << 2 << 30.0;
    }
    void stateSequences()
    {
        QFETCH(QList<QPointF>, calls);
        IQVProcessIndicatorView view;
        for (const QPointF& c : calls)
            view.setStateButton(int(c.x()), c.y());
        QTEST(view.buttonState(), "state");
        QTEST(view.percentage(), "percentage");
    }

    void samePairTwiceDoesNothing()
    {
        IQVProcessIndicatorView view;
        view.setStateButton(2, 40);
        QCOMPARE(view.updateRequests(), 1);
        QCOMPARE(view.eventPasses(), 1);
        view.setStateButton(2, 40);
        QCOMPARE(view.updateRequests(), 1);
        QCOMPARE(view.eventPasses(), 1);
        view.setStateButton(1, 40);
        QCOMPARE(view.updateRequests(), 2);
        QCOMPARE(view.indicatorState(), 0);
    }

    void fill_data()
    {
        QTest::addColumn<int>("state");
        QTest::addColumn<double>("percentage");
        QTest::newRow("1 %") << 2 << 1.0;
        QTest::newRow("50 %") << 2 << 50.0;
        QTest::newRow("99 %") << 2 << 99.0;
        QTest::newRow("100 %") << 2 << 100.0;
        QTest::newRow("disabled") << 0 << 0.0;
    }
    void fill()
    {
        QFETCH(int, state);
        QFETCH(double, percentage);
        IQVProcessIndicatorView view;
        view.resize(300, IQVProcessIndicatorView::kButtonSize);
        view.setStateButton(state, percentage);
        const QImage image = view.grab().toImage();
        const int y = 6; // above the text, inside the bar
        const int left = IQVProcessIndicatorView::kButtonSize + 8;
        const int middle = left + IQVProcessIndicatorView::kCapWidth;
        const int m = view.middleSpan();
        const int right = view.width() - 8;
        const int filled = view.filledWidth();
        QCOMPARE(filled, state == 0 ? 0 : int(std::trunc((percentage - 1) * m / 99)));
        if (state == 0) {
            QVERIFY(near(image.pixelColor(middle + m / 4, y), kDisabled));
            QVERIFY(near(image.pixelColor(left + 5, y), kDisabled));
            return;
        }
        QVERIFY(near(image.pixelColor(left + 5, y), kFull)); // the filled left cap
        if (filled > 0)
            QVERIFY(near(image.pixelColor(middle + filled - 1, y), kFull));
        if (filled < m - 1)
            QVERIFY(near(image.pixelColor(middle + filled + 1, y), kEmpty));
        QCOMPARE(near(image.pixelColor(right - 5, y), kFull), percentage >= 100);
    }

    void textColour()
    {
        IQVProcessIndicatorView view;
        view.setStateButton(2, 49);
        QCOMPARE(view.textColor(), QColor(Qt::black));
        view.setStateButton(2, 50);
        QCOMPARE(view.textColor(), QColor(Qt::white));
        view.setStateButton(2, 0);
        Screenshot::setDarkPalette(true);
        QCOMPARE(IColorUtil::currentColorMode(), int(IColorUtil::ModeDark));
        QCOMPARE(view.textColor(), QColor(Qt::white));
        Screenshot::setDarkPalette(false);
        QCOMPARE(view.textColor(), QColor(Qt::black));
    }

    void clicks_data()
    {
        QTest::addColumn<int>("state");
        QTest::addColumn<QPoint>("press");
        QTest::addColumn<QPoint>("release");
        QTest::addColumn<int>("ownerClicks");
        QTest::addColumn<int>("parentPresses");
        const QPoint centre(14, 14), bar(150, 14), corner(1, 1);
        QTest::newRow("disabled: the parent gets it") << 0 << centre << centre << 0 << 1;
        QTest::newRow("start click") << 1 << centre << centre << 1 << 0;
        QTest::newRow("stop click") << 2 << centre << centre << 1 << 0;
        QTest::newRow("released outside") << 1 << centre << bar << 0 << 0;
        QTest::newRow("corner outside the circle") << 1 << corner << corner << 0 << 1;
        QTest::newRow("on the bar") << 2 << bar << bar << 0 << 1;
    }
    void clicks()
    {
        QFETCH(int, state);
        QFETCH(QPoint, press);
        QFETCH(QPoint, release);
        Parent parent;
        auto* view = new IQVProcessIndicatorView(&parent);
        view->resize(300, IQVProcessIndicatorView::kButtonSize);
        parent.resize(300, IQVProcessIndicatorView::kButtonSize);
        parent.show();
        QVERIFY(QTest::qWaitForWindowExposed(&parent));
        RecordingOwner owner;
        view->setOwner(&owner);
        view->setStateButton(state, 10);
        view->repaint();
        QTest::mousePress(view, Qt::LeftButton, {}, press);
        QTest::mouseRelease(view, Qt::LeftButton, {}, release);
        QTEST(int(owner.clicks.size()), "ownerClicks");
        QTEST(parent.presses, "parentPresses");
        if (!owner.clicks.isEmpty())
            QCOMPARE(owner.clicks.first(), state);
    }

    void ownerGone()
    {
        IQVProcessIndicatorView view;
        view.resize(300, IQVProcessIndicatorView::kButtonSize);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        {
            RecordingOwner owner;
            view.setOwner(&owner);
            QCOMPARE(view.owner(), &owner);
        }
        QCOMPARE(view.owner(), nullptr);
        view.setStateButton(1, 0);
        QTest::mouseClick(&view, Qt::LeftButton, {}, QPoint(14, 14)); // reaches nobody, no crash
    }

    // A run's reader thread hammers the control while the main loop paints it.
    void readerThread()
    {
        auto* view = new IQVProcessIndicatorView;
        view->resize(300, IQVProcessIndicatorView::kButtonSize);
        view->show();
        QVERIFY(QTest::qWaitForWindowExposed(view));
        const int count = 100000;
        std::atomic<bool> done { false };
        std::thread reader([&] {
            for (int i = 1; i <= count; ++i)
                view->setStateButton(2, 73.5 * i / count);
            done = true;
        });
        while (!done)
            QTest::qWait(5);
        reader.join();
        QCOMPARE(view->percentage(), 73.5);
        QTest::qWait(20);
        const QImage image = view->grab().toImage();
        const int middle = IQVProcessIndicatorView::kButtonSize + 8 + IQVProcessIndicatorView::kCapWidth;
        QVERIFY(near(image.pixelColor(middle + view->filledWidth() - 1, 6), kFull));
        QVERIFY(near(image.pixelColor(middle + view->filledWidth() + 1, 6), kEmpty));
        // updates still queued for a control that is gone do nothing
        std::thread late([&] {
            for (int i = 0; i < 1000; ++i)
                view->setStateButton(i % 2 ? 1 : 2, 50);
        });
        late.join();
        delete view;
        QTest::qWait(20);
    }

    void picture()
    {
        QWidget panel;
        panel.setWindowTitle(QStringLiteral("Indicator states"));
        auto* grid = new QGridLayout(&panel);
        const QList<QPair<int, double>> rows { { 0, 0 }, { 1, 0 }, { 2, 1 }, { 2, 50 }, { 2, 99 },
            { 2, 100 } };
        int row = 0;
        for (const auto& r : rows) {
            grid->addWidget(new QLabel(QStringLiteral("state %1, %2 %").arg(r.first).arg(r.second)), row, 0);
            auto* view = new IQVProcessIndicatorView;
            view->setMinimumSize(320, IQVProcessIndicatorView::kButtonSize);
            view->setStateButton(r.first, r.second);
            grid->addWidget(view, row++, 1);
        }
        panel.show();
        QVERIFY(QTest::qWaitForWindowExposed(&panel));
        QVERIFY(!Screenshot::save(&panel, QStringLiteral("controls"), QStringLiteral("indicator-states"),
            QStringLiteral("The start/stop control in states 0, 1 and 2 at 1, 50, 99 and 100 %"))
                     .isEmpty());
        QVERIFY(!Screenshot::save(&panel, QStringLiteral("controls"), QStringLiteral("indicator-states-dark"),
            QStringLiteral("The same in the dark appearance"))
                     .isEmpty());
    }
};

QTEST_MAIN(TestProcessIndicator)
#include "tst_processindicator.moc"
