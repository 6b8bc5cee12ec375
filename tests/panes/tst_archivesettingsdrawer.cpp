// kv-test: labels=gui timeout=60 env=DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent/kv-no-bus

// The settings side panel over the archive settings sheet's own pages: the switcher selects the
// page, opening lends the pages and closing gives them back (the coordinator answering from the
// panel), the widths kept between min and max with the controls placed for each, and the sheet's
// end reported once.

#include "../utilities/WorkspaceFixture.h"
#include "RecordingShellServices.h"
#include "Screenshot.h"
#include "ScriptedUiPrompts.h"
#include "archive/CBackup.h"
#include "archive/CBackupContainer.h"
#include "panes/archive/ArchiveCoordinator.h"
#include "panes/archive/IBSettingsViewController.h"
#include "panes/archive/ISettingsDrawerController.h"
#include "utilities/IPathUtil.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QFrame>
#include <QLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QStackedWidget>
#include <QTabWidget>
#include <QtTest>

namespace {

// One project in a container, its settings sheet filled, and a panel over the sheet.
struct DrawerSetup
{
    WorkspaceFixture home;
    RecordingShellServices shell;
    ShellServicesScope scope { &shell };
    ScriptedUiPrompts prompts;
    CBackupContainer container;
    ArchiveCoordinator coordinator { &container };
    CBackup* backup = nullptr;
    std::unique_ptr<IBSettingsViewController> sheet;

    DrawerSetup()
    {
        QDir().mkpath(IPathUtil::getBackupsPath());
        backup = container.addNewBackup("Photos");
        backup->createUUID();
        sheet = std::make_unique<IBSettingsViewController>(&container, &coordinator);
        sheet->updateControls(backup);
    }
};

} // namespace

class TestArchiveSettingsDrawer : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { Screenshot::fixConditions(); }
    void lendsPagesAndSwitches();
    void widthsAndLayout();
    void sheetEndsOnce();
};

void TestArchiveSettingsDrawer::lendsPagesAndSwitches()
{
    DrawerSetup s;
    QTabWidget* tabs = s.sheet->tabs();
    QList<QWidget*> pages;
    QStringList titles;
    for (int i = 0; i < tabs->count(); ++i) {
        pages << tabs->widget(i);
        titles << tabs->tabText(i);
    }
    QVERIFY(pages.size() >= 5);
    tabs->setCurrentIndex(2);

    auto drawer = std::make_unique<ISettingsDrawerController>(s.sheet.get(), &s.coordinator);
    QCOMPARE(drawer->drawerState(), ISettingsDrawerController::Closed);
    QVERIFY(!s.coordinator.isSettingsDrawerOpened());
    QCOMPARE(drawer->optionSwitcher()->buttons().size(), pages.size());

    drawer->toggle();
    QCOMPARE(drawer->drawerState(), ISettingsDrawerController::Open);
    QVERIFY(s.coordinator.isSettingsDrawerOpened());
    QCOMPARE(tabs->count(), 0);
    QCOMPARE(drawer->tabView()->count(), pages.size());
    // The sheet does not run without its pages.
    QVERIFY(!s.sheet->showWindowForBackup(s.backup));
    // Each segment, clicked, shows the sheet's page of the same index; the page is the sheet's
    // own widget, still filled from the project.
    for (int i = pages.size() - 1; i >= 0; --i) {
        QAbstractButton* segment = drawer->optionSwitcher()->button(i);
        QCOMPARE(segment->text(), titles.at(i));
        segment->click();
        QCOMPARE(drawer->tabView()->currentWidget(), pages.at(i));
    }
    QVERIFY(pages.first()->isAncestorOf(s.sheet->nameField()));
    QCOMPARE(s.sheet->nameField()->text(), QStringLiteral("Photos"));

    drawer->toggle();
    QCOMPARE(drawer->drawerState(), ISettingsDrawerController::Closed);
    QVERIFY(!s.coordinator.isSettingsDrawerOpened());
    QCOMPARE(drawer->tabView()->count(), 0);
    QCOMPARE(tabs->count(), pages.size());
    for (int i = 0; i < pages.size(); ++i) {
        QCOMPARE(tabs->widget(i), pages.at(i));
        QCOMPARE(tabs->tabText(i), titles.at(i));
    }
    QCOMPARE(tabs->currentIndex(), 2);
    QCOMPARE(s.sheet->chooseFolderButton()->text(), QStringLiteral("Choose..."));
    QCOMPARE(s.sheet->folderField()->maximumWidth(), QWIDGETSIZE_MAX);
    QCOMPARE(s.sheet->chooseFolderButton()->maximumWidth(), QWIDGETSIZE_MAX);

    // A panel destroyed while open gives the pages back; the coordinator answers NO without one.
    drawer->toggle();
    drawer.reset();
    QCOMPARE(tabs->count(), pages.size());
    QVERIFY(!s.coordinator.settingsDrawer());
    QVERIFY(!s.coordinator.isSettingsDrawerOpened());

    // A coordinator that goes first leaves the panel working on its own.
    auto coordinator = std::make_unique<ArchiveCoordinator>(&s.container);
    ISettingsDrawerController alone(s.sheet.get(), coordinator.get());
    QCOMPARE(coordinator->settingsDrawer(), &alone);
    coordinator.reset();
    alone.toggle();
    QCOMPARE(alone.drawerState(), ISettingsDrawerController::Open);
}

void TestArchiveSettingsDrawer::widthsAndLayout()
{
    DrawerSetup s;
    QWidget parent;
    parent.resize(900, 700);
    parent.show();
    QVERIFY(QTest::qWaitForWindowExposed(&parent));
    ISettingsDrawerController drawer(s.sheet.get(), &s.coordinator);
    drawer.showWindowForParentWindow(&parent, [](int) {});
    QVERIFY(QTest::qWaitForWindowExposed(&drawer));

    struct Case
    {
        int min, max, content, expected;
    };
    const Case cases[] = {
        { 460, 700, 300, 460 }, // below the minimum
        { 460, 700, 900, 700 }, // above the maximum
        { 460, 700, 560, 560 },
        { 600, 500, 550, 600 }, // a maximum below the minimum is the minimum
    };
    for (const Case& c : cases) {
        const QByteArray tag = QByteArray::number(c.content);
        drawer.setSizeMax(c.max, c.min, c.content, 6, 10);
        QTRY_COMPARE_WITH_TIMEOUT(drawer.drawer()->width(), c.expected, 2000);
        QCOMPARE(drawer.contentWidth(), c.expected);
        const int W = c.expected;
        const int H = drawer.drawer()->height();
        QCOMPARE(drawer.drawer()->y(), drawer.layout()->contentsMargins().top() + 6);

        const QRect bar = drawer.switcherBar()->geometry();
        QVERIFY2(qAbs(bar.left() - (W - bar.right() - 1)) <= 1, tag);
        const QRect pages = drawer.tabView()->geometry();
        QCOMPARE(pages, QRect(5, bar.bottom() + 9, W - 10, drawer.pagesHeight()));
        QVERIFY(pages.height() >= 193);
        const QRect scroll = drawer.scrollView()->geometry();
        QVERIFY2(scroll.top() > pages.bottom() && scroll.bottom() < H, tag);
        QCOMPARE(scroll.left(), 5);
        QCOMPARE(scroll.width(), W - 10);
        QVERIFY2(scroll.height() >= 60, tag);

        // The folder field ends 35 px before W, and its choose button stays inside the pages.
        drawer.optionSwitcher()->button(0)->click();
        QLineEdit* folder = s.sheet->folderField();
        QCOMPARE(folder->mapTo(drawer.drawer(), QPoint(folder->width(), 0)).x(), W - 35);
        QPushButton* choose = s.sheet->chooseFolderButton();
        QVERIFY2(choose->mapTo(drawer.drawer(), QPoint(choose->width(), 0)).x() <= W - 5, tag);
    }

    drawer.setSizeMax(700, 460, 600, 0, 0);
    drawer.optionSwitcher()->button(0)->click();
    QTest::qWait(50);
    QVERIFY(!Screenshot::save(&drawer, QStringLiteral("archive"), QStringLiteral("settings-drawer"),
        QStringLiteral("The archive settings pages in the side panel of their sheet")).isEmpty());
    drawer.closeButton();
}

void TestArchiveSettingsDrawer::sheetEndsOnce()
{
    DrawerSetup s;
    QWidget parent;
    parent.resize(700, 600);
    parent.show();
    QVERIFY(QTest::qWaitForWindowExposed(&parent));
    ISettingsDrawerController drawer(s.sheet.get(), &s.coordinator);
    int ends = 0;
    drawer.showWindowForParentWindow(&parent, [&](int code) {
        ++ends;
        QCOMPARE(code, int(QDialog::Accepted));
    });
    QVERIFY(QTest::qWaitForWindowExposed(&drawer));
    QVERIFY(drawer.isWindow());
    QCOMPARE(drawer.windowModality(), Qt::WindowModal);
    QCOMPARE(drawer.parentWidget(), &parent);
    QCOMPARE(drawer.drawerState(), ISettingsDrawerController::Open);
    QVERIFY(s.coordinator.isSettingsDrawerOpened());

    // The panel can be collapsed inside the open sheet.
    QTest::mouseClick(drawer.togglePushButton(), Qt::LeftButton);
    QCOMPARE(drawer.drawerState(), ISettingsDrawerController::Closed);
    QVERIFY(!drawer.drawer()->isVisible());
    QTest::mouseClick(drawer.togglePushButton(), Qt::LeftButton);
    QVERIFY(drawer.drawer()->isVisible());

    QTest::mouseClick(drawer.closePushButton(), Qt::LeftButton);
    QCOMPARE(ends, 1);
    QVERIFY(!drawer.isVisible());
    QCOMPARE(drawer.drawerState(), ISettingsDrawerController::Closed);
    QCOMPARE(s.sheet->tabs()->count(), drawer.optionSwitcher()->buttons().size());
    drawer.closeButton();
    QCOMPARE(ends, 1);

    // Escape ends it as well, and a second showing reports its own end.
    drawer.showWindowForParentWindow(&parent, [&](int) { ++ends; });
    QVERIFY(QTest::qWaitForWindowExposed(&drawer));
    QTest::keyClick(&drawer, Qt::Key_Escape);
    QCOMPARE(ends, 2);
    QVERIFY(!drawer.isVisible());
}

QTEST_MAIN(TestArchiveSettingsDrawer)
#include "tst_archivesettingsdrawer.moc"
