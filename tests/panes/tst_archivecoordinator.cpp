// kv-test: labels=unit timeout=120 env=DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent/kv-no-bus

// The archive kit's coordinator and project list without widgets: navigation, the name rules,
// the start/stop control, the end of the application, the stored order, moves, deletion with
// its alert, and opening project files from outside (names and UUIDs that become file names).

#include "../utilities/WorkspaceFixture.h"
#include "RecordingShellServices.h"
#include "RecordingSynchronizeController.h"
#include "ScriptedUiPrompts.h"
#include "TempTree.h"
#include "archive/ArchiveProjectCreate.h"
#include "archive/CBackup.h"
#include "archive/CBackupContainer.h"
#include "archive/CBackupItem.h"
#include "archive/IBackup.h"
#include "panes/archive/ArchiveCoordinator.h"
#include "panes/archive/ArchivePaneRules.h"
#include "panes/archive/ArchiveProjectList.h"
#include "platform/NameCodec.h"
#include "projects/IProcessIndicator.h"
#include "projects/ProjectColor.h"
#include "utilities/IPathUtil.h"

#include <QtTest>

namespace {

// The views as the coordinator sees them.
class FakeViews : public IArchiveViews, public IProcessIndicator
{
public:
    int rows = 0;
    QString firstRow;
    QStringList calls;
    int state = 0;

    int contentRowCount() override { return rows; }
    QString firstContentRowName() override { return firstRow; }
    void build() override { calls << QStringLiteral("build"); }
    void reloadContent(IBackup*, bool full) override { calls << (full ? "reload full" : "reload"); }
    void addFilesToContent(const QStringList& paths) override { calls << "add " + paths.join(','); }
    void redrawProjectList() override { calls << QStringLiteral("redraw"); }
    void validateControls() override { }
    IProcessIndicator* indicator() override { return this; }

    void setStateButton(int s, double) override { state = s; }
    int buttonState() const override { return state; }
    void setButtonState(int s) override { state = s; }
    int indicatorState() const override { return 0; }
    void setIndicatorState(double) override { }
};

// A container whose builds and stops are recorded.
class RecordingContainer : public CBackupContainer
{
public:
    QStringList ran;

protected:
    int startBuild(CBackup* b, bool) override
    {
        ran << "build " + b->name();
        return 0;
    }
    void stopRun(CBackup* b) override { ran << "stop " + b->name(); }
};

QStringList namesOf(const ArchiveProjectList& list)
{
    QStringList n;
    for (int i = 0; i < list.backupCount(); ++i)
        n << list.backupAt(i)->name();
    return n;
}

} // namespace

class TestArchiveCoordinator : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void navigation();
    void names();
    void startControl();
    void appClosing();
    void order_data();
    void order();
    void moves();
    void addAndDelete();
    void nextSelectionAfterDelete();
    void createFromPaths();
    void openProjectFiles();
    void menuTable();

private:
    CBackup* add(const QString& name)
    {
        CBackup* b = m_container->addNewBackup(name);
        b->createUUID();
        return b;
    }
    std::unique_ptr<WorkspaceFixture> m_home;
    std::unique_ptr<RecordingContainer> m_container;
    std::unique_ptr<ArchiveCoordinator> m_coordinator;
    std::unique_ptr<ArchiveProjectList> m_list;
    FakeViews m_views;
};

void TestArchiveCoordinator::init()
{
    m_home = std::make_unique<WorkspaceFixture>();
    QVERIFY(m_home->isValid());
    QDir().mkpath(IPathUtil::getBackupsPath());
    m_container = std::make_unique<RecordingContainer>();
    m_coordinator = std::make_unique<ArchiveCoordinator>(m_container.get());
    m_list = std::make_unique<ArchiveProjectList>(m_container.get(), m_coordinator.get());
    m_coordinator->setProjectList(m_list.get());
    m_coordinator->setViews(&m_views);
    ICoordinator::setShared(m_coordinator.get());
    m_views = FakeViews();
}

void TestArchiveCoordinator::cleanup()
{
    ICoordinator::setShared(nullptr);
    m_list.reset();
    m_coordinator.reset();
    m_container.reset();
    m_home.reset();
}

void TestArchiveCoordinator::navigation()
{
    QCOMPARE(m_coordinator->nextBPLItemIndex(0), 0); // no projects
    QCOMPARE(m_coordinator->prevBPLItemIndex(0), 0);
    add("A"), add("B"), add("C");
    m_coordinator->nextBackup(); // none selected
    QCOMPARE(m_coordinator->currentBackupIndex(), 0);
    m_coordinator->setCurrentBackupIndex(2);
    m_coordinator->nextBackup();
    QCOMPARE(m_coordinator->currentBackupIndex(), 0);
    m_coordinator->setCurrentBackupIndex(2);
    m_coordinator->prevBackup();
    QCOMPARE(m_coordinator->currentBackupIndex(), 1);
    // Colours: a bad index gives the default, a label its colour.
    m_container->backupAt(1)->setColor(ProjectColor::kLabels[4].color());
    QCOMPARE(m_coordinator->backupColorAt(1), QColor(143, 193, 37));
    QCOMPARE(m_coordinator->backupColorAt(-1), ProjectColor::defaultColor());
    QCOMPARE(m_coordinator->backupColorAt(3), ProjectColor::defaultColor());
}

void TestArchiveCoordinator::names()
{
    CBackup* docs = add("Docs");
    add("Docs1");
    QVERIFY(m_coordinator->isUniqueName("Docs", docs)); // its own name
    QVERIFY(!m_coordinator->isUniqueName("Docs", nullptr));
    QVERIFY(m_coordinator->isUniqueName("docs", nullptr)); // case-sensitive

    struct Case
    {
        QString answer; // null: Cancel
        QString expected; // null: refused, the name stays
    };
    const QList<Case> cases = {
        { "Docs", "Docs2" },
        { "Mail", "Mail" },
        { "a/b", "a|b" },
        { "..", QString() },
        { "", QString() },
        { QString(), QString() },
    };
    for (const Case& c : cases) {
        CBackup* b = add("Untitled");
        m_list->setupProjectListWithContainerOrder();
        ScriptedUiPrompts prompts;
        prompts.expectText(c.answer);
        const bool ok = m_coordinator->renameBackupByUser(b);
        QCOMPARE(prompts.unexpected, QStringList());
        QCOMPARE(prompts.textRequests.value(0).title, QStringLiteral("Create project"));
        QCOMPARE(ok, !c.expected.isNull());
        QCOMPARE(b->name(), c.expected.isNull() ? QStringLiteral("Untitled") : c.expected);
        m_container->removeBackupAt(m_container->getIndexBackup(b));
    }
    // A project made of paths: the first path names it, made unique.
    TempTree tree;
    QVERIFY(tree.mkdir(std::string("Docs")));
    CBackup* made = ArchiveProjectCreate::createBackup(*m_container, { tree.filePath(std::string("Docs")) });
    QVERIFY(made);
    QCOMPARE(made->name(), QStringLiteral("Docs2"));
}

void TestArchiveCoordinator::startControl()
{
    CBackup* b = add("A");
    m_container->makeSingleSelection(b);
    // Nothing in the outline: state 0, a click does nothing.
    m_views.rows = 0;
    QCOMPARE(m_coordinator->checkBackupButtonState(), 0);
    m_coordinator->mainButtonClickedOn(&m_views);
    QCOMPARE(m_views.calls.count("build"), 0);
    // Ready: one build.
    m_views.rows = 1;
    QCOMPARE(m_coordinator->checkBackupButtonState(), 1);
    m_coordinator->mainButtonClickedOn(&m_views);
    QCOMPARE(m_views.calls.count("build"), 1);
    // A tool job runs: state 2, a click stops, once.
    ++CBackup::m_nTarRunning;
    QCOMPARE(m_coordinator->checkBackupButtonState(), 2);
    b->setInProcess(true, 1);
    m_container->queueBackup({ b, CBackupContainer::OpBuild, {}, {}, false });
    m_coordinator->mainButtonClickedOn(&m_views);
    --CBackup::m_nTarRunning;
    QCOMPARE(m_views.calls.count("build"), 1);
    QVERIFY(!m_container->isQueueNotEmpty());
}

void TestArchiveCoordinator::appClosing()
{
    add("A");
    m_container->makeSingleSelection(0);
    m_container->backupAt(0)->setInProcess(true, 1);
    QVERIFY(m_coordinator->isBackupRunning());
    RecordingSynchronizeController sync;
    ISynchronizeController::setShared(&sync);
    QVERIFY(m_coordinator->synchronizeController() == &sync);
    m_coordinator->appClosing();
    m_coordinator->appClosing();
    ISynchronizeController::setShared(nullptr);
    QCOMPARE(sync.calls.count(QStringLiteral("eventAppClosing:9")), 1);
    QCOMPARE(m_coordinator->currentBackupIndex(), -1);
    QCOMPARE(m_coordinator->backupCount(), 0);
    QVERIFY(!m_coordinator->isBackupRunning());
    m_container->backupAt(0)->setInProcess(false, 1);
}

void TestArchiveCoordinator::order_data()
{
    QTest::addColumn<QVariantList>("saved");
    QTest::addColumn<QStringList>("expected");
    // The container holds A, B, C; X names no project.
    QTest::newRow("saved order first, the rest after") << QVariantList { "C", "A", "X" } << QStringList { "C", "A", "B" };
    QTest::newRow("a UUID twice counts once") << QVariantList { "A", "A" } << QStringList { "A", "B", "C" };
    QTest::newRow("a number is skipped") << QVariantList { 7, "B" } << QStringList { "B", "A", "C" };
    QTest::newRow("no list") << QVariantList {} << QStringList { "A", "B", "C" };
}

void TestArchiveCoordinator::order()
{
    QFETCH(QVariantList, saved);
    QFETCH(QStringList, expected);
    QMap<QString, QString> uuidOf;
    for (const char* n : { "A", "B", "C" })
        uuidOf.insert(n, add(n)->getUUID());
    QVariantList order;
    for (const QVariant& v : saved)
        order << (v.typeId() == QMetaType::QString && uuidOf.contains(v.toString()) ? QVariant(uuidOf[v.toString()]) : v);
    m_list->setupProjectList(order);
    QCOMPARE(namesOf(*m_list), expected);
    QVariantList back;
    m_list->saveProjectOrderListToDict(back);
    QCOMPARE(back.size(), 3);
    QCOMPARE(back.first().toString(), uuidOf[expected.first()]);
}

void TestArchiveCoordinator::moves()
{
    struct Case
    {
        int from, to;
        bool ok;
        QStringList after;
    };
    const QList<Case> cases = {
        { 0, 2, true, { "B", "A", "C" } },
        { 2, 0, true, { "C", "A", "B" } },
        { 1, 1, true, { "A", "B", "C" } },
        { 0, 3, true, { "B", "C", "A" } },
        { -1, 0, false, { "A", "B", "C" } },
        { 0, 4, false, { "A", "B", "C" } },
    };
    add("A"), add("B"), add("C");
    for (const Case& c : cases) {
        m_list->setupProjectListWithContainerOrder();
        QCOMPARE(m_list->moveBackupFrom(c.from, c.to), c.ok);
        QCOMPARE(namesOf(*m_list), c.after);
    }
}

void TestArchiveCoordinator::addAndDelete()
{
    add("Untitled"), add("Untitled1");
    m_list->setupProjectListWithContainerOrder();
    {
        // Cancelled naming removes the new project again.
        ScriptedUiPrompts prompts;
        prompts.expectText(QString());
        QVERIFY(!m_list->addProject());
        QCOMPARE(m_container->backupCount(), 2);
    }
    {
        ScriptedUiPrompts prompts;
        prompts.expectText(QStringLiteral("Untitled2"));
        CBackup* b = m_list->addProject();
        QVERIFY(b);
        QCOMPARE(prompts.textRequests.value(0).defaultText, QStringLiteral("Untitled2"));
        QCOMPARE(namesOf(*m_list), (QStringList { "Untitled", "Untitled1", "Untitled2" }));
        QVERIFY(QFileInfo::exists(b->makeBifFileName()));
    }
    TempTree out;
    struct Case
    {
        int button; // 0 Save & Remove, 1 Cancel, 2 Remove
        QString savePath; // null: the save panel is cancelled
        bool saveFails = false;
        bool removed;
    };
    const QList<Case> cases = {
        { 1, QString(), false, false },
        { 0, QString(), false, false },
        { 0, out.filePath(std::string("nowhere/x.bif")), true, false },
        { 0, out.filePath(std::string("saved.bif")), false, true },
        { 2, QString(), false, true },
    };
    for (const Case& c : cases) {
        m_container->makeSingleSelection(m_list->backupAt(0));
        const int before = m_list->backupCount();
        const QString name = m_list->backupAt(0)->name();
        ScriptedUiPrompts prompts;
        prompts.expectAlert(QStringLiteral("remove this project"), c.button);
        if (c.button == 0)
            prompts.expectSavePath(c.savePath);
        if (c.saveFails)
            prompts.expectAlert(QStringLiteral("An error occurred"), 0);
        QCOMPARE(m_list->deleteCurrentProject(), c.removed);
        QCOMPARE(prompts.unexpected, QStringList());
        QCOMPARE(prompts.pending(), 0);
        QCOMPARE(m_list->backupCount(), before - (c.removed ? 1 : 0));
        QCOMPARE(m_container->findBackup(name) == nullptr, c.removed);
    }
    QVERIFY(QFileInfo::exists(out.filePath(std::string("saved.bif"))));
}

void TestArchiveCoordinator::nextSelectionAfterDelete()
{
    struct Case
    {
        int count, removed;
        QString next; // null: none
    };
    const QList<Case> cases = { { 3, 0, "P1" }, { 3, 1, "P2" }, { 3, 2, "P1" }, { 1, 0, QString() } };
    for (const Case& c : cases) {
        m_container = std::make_unique<RecordingContainer>();
        m_list = std::make_unique<ArchiveProjectList>(m_container.get(), m_coordinator.get());
        for (int i = 0; i < c.count; ++i)
            add(QStringLiteral("P%1").arg(i));
        m_list->setupProjectListWithContainerOrder();
        CBackup* next = m_list->deleteBackupAndGetCurrent(m_list->backupAt(c.removed));
        QCOMPARE(next ? next->name() : QString(), c.next);
    }
}

void TestArchiveCoordinator::createFromPaths()
{
    TempTree tree;
    QVERIFY(tree.mkdir(std::string("Documents")));
    QVERIFY(tree.writeFile(std::string("Documents/a.txt"), "a"));
    QVERIFY(tree.writeFile(std::string("one.txt"), "1"));
    QVERIFY(tree.writeFile(std::string("two.txt"), "2"));
    QVERIFY(tree.writeFile(std::string("three.txt"), "3"));
    const std::string odd = std::string("caf\xe9-\xff.bin");
    QVERIFY(tree.writeFile(odd, "x"));

    // Three files: one project named after the first, with three items.
    CBackup* three = ArchiveProjectCreate::createBackup(*m_container,
        { tree.filePath(std::string("one.txt")), tree.filePath(std::string("two.txt")),
            tree.filePath(std::string("three.txt")) });
    QVERIFY(three);
    QCOMPARE(three->name(), QStringLiteral("one.txt"));
    QCOMPARE(three->count(), 3);
    QVERIFY(three->isSelected());
    // The same folder twice: two projects whose files do not overwrite each other.
    CBackup* d1 = ArchiveProjectCreate::createBackup(*m_container, { tree.filePath(std::string("Documents")) });
    CBackup* d2 = ArchiveProjectCreate::createBackup(*m_container, { tree.filePath(std::string("Documents")) });
    QCOMPARE(d1->name(), QStringLiteral("Documents"));
    QCOMPARE(d2->name(), QStringLiteral("Documents1"));
    QVERIFY(d1->save() && d2->save());
    QVERIFY(QFileInfo::exists(d1->makeBifFileName()) && QFileInfo::exists(d2->makeBifFileName()));
    QVERIFY(d1->makeBifFileName() != d2->makeBifFileName());
    // A name that is not UTF-8: the item's path keeps its bytes.
    CBackup* o = ArchiveProjectCreate::createBackup(*m_container, { tree.filePath(odd) });
    QVERIFY(o);
    QCOMPARE(NameCodec::encode(o->itemAt(0)->getAbsolutePath()), QByteArray::fromStdString(tree.filePathStd(odd)));
    // Nothing to make of an empty list.
    QVERIFY(!ArchiveProjectCreate::createBackup(*m_container, {}));
}

void TestArchiveCoordinator::openProjectFiles()
{
    RecordingShellServices shell;
    ShellServicesScope shellScope(&shell);
    TempTree tree;
    QVERIFY(tree.mkdir(std::string("src")));
    QVERIFY(tree.writeFile(std::string("src/f.txt"), "content"));
    QVERIFY(tree.mkdir(std::string("outside")));

    // A saved project to open again, as a .bif file and as a .bifx folder.
    CBackup* docs = ArchiveProjectCreate::createBackup(*m_container, { tree.filePath(std::string("src")) }, nullptr, "Docs");
    docs->createUUID();
    const QString uuid = docs->getUUID();
    const QString bif = tree.filePath(std::string("outside/Docs.bif"));
    QVERIFY(docs->saveTo(bif, true));
    QVERIFY(tree.mkdir(std::string("outside/Pack.bifx")));
    QVERIFY(docs->saveTo(tree.filePath(std::string("outside/Pack.bifx/Pack.bifx")), true));
    QVERIFY(tree.mkdir(std::string("outside/Empty.bifx")));
    QVERIFY(tree.writeFile(std::string("outside/broken.bif"), "not a project"));
    m_list->setupProjectListWithContainerOrder();

    // A UUID clash (Docs is still open) gives a new UUID and a unique name.
    QCOMPARE(m_list->openBackupFiles({ bif }), 1);
    CBackup* again = m_container->findBackup("Docs1");
    QVERIFY(again);
    QVERIFY(again->getUUID() != uuid);
    QCOMPARE(again->count(), 1);
    QVERIFY(QFileInfo::exists(again->makeBifFileName()));
    // A package folder with its inner file.
    QCOMPARE(m_list->openBackupFiles({ tree.filePath(std::string("outside/Pack.bifx")) }), 1);
    QVERIFY(m_container->findBackup("Pack"));
    // A corrupt file is removed again; a package without its file stops the whole operation.
    const int before = m_container->backupCount();
    QCOMPARE(m_list->openBackupFiles({ tree.filePath(std::string("outside/broken.bif")) }), 0);
    QCOMPARE(m_container->backupCount(), before);
    QCOMPARE(m_list->openBackupFiles({ tree.filePath(std::string("outside/Empty.bifx")), bif }), 0);
    QCOMPARE(m_container->backupCount(), before);
    bool named = false;
    for (const auto& t : shell.textInfos())
        named = named || t.text.contains(QStringLiteral("has not been found in folder"));
    QVERIFY(named);

    // A hostile UUID ("../x") becomes a new one: nothing lands outside the Backups folder.
    CBackup* hostile = m_container->addNewBackup("Evil");
    QVERIFY(hostile->addItemFromDisk(tree.filePath(std::string("src"))));
    hostile->setUUID(QStringLiteral("../x"));
    const QString evil = tree.filePath(std::string("outside/Evil.bif"));
    QVERIFY(hostile->saveTo(evil, true));
    m_container->removeBackupAt(m_container->getIndexBackup(hostile));
    // Another project's tree file of the name the import would use stays untouched.
    const QString backups = IPathUtil::getBackupsPath();
    QCOMPARE(m_list->openBackupFiles({ evil }), 1);
    CBackup* imported = m_container->findBackup("Evil");
    QVERIFY(imported);
    QVERIFY(QUuid::fromString(imported->getUUID()).isNull() == false);
    QVERIFY(imported->makeBifFileName().startsWith(backups + '/'));
    QVERIFY(!QFileInfo::exists(QFileInfo(backups).dir().filePath("x.bif")));
    for (const QString& f : QDir(QFileInfo(backups).path()).entryList(QDir::Files))
        QVERIFY2(!f.endsWith(".bif"), qPrintable(f));

    // A file in the Backups folder with the name the import would write is another project's:
    // it stays as it is and the import takes a new UUID.
    const QString soloUUID = CBackup::generateUUID();
    CBackup* solo = m_container->addNewBackup("Solo");
    QVERIFY(solo->addItemFromDisk(tree.filePath(std::string("src"))));
    solo->setUUID(soloUUID);
    const QString soloFile = tree.filePath(std::string("outside/Solo.bif"));
    QVERIFY(solo->saveTo(soloFile, true));
    m_container->removeBackupAt(m_container->getIndexBackup(solo));
    const QString taken = backups + QStringLiteral("/Solo_%1.bif").arg(soloUUID);
    {
        QFile f(taken);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("keep");
    }
    QCOMPARE(m_list->openBackupFiles({ soloFile }), 1);
    QVERIFY(m_container->findBackup("Solo")->getUUID() != soloUUID);
    QFile f(taken);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), QByteArray("keep"));
}

void TestArchiveCoordinator::menuTable()
{
    using ArchivePaneRules::menuStates;
    const ArchivePaneRules::MenuStates running = menuStates({ true, true, true, true });
    QVERIFY(running.stop && !running.build && !running.restoreToOriginal && !running.restoreToFolder);
    const ArchivePaneRules::MenuStates idle = menuStates({ true, true, false, true });
    QVERIFY(!idle.stop && idle.build && idle.restoreToOriginal && idle.restoreToFolder);
    const ArchivePaneRules::MenuStates queued = menuStates({ false, true, false, true });
    QVERIFY(queued.stop && !queued.build);
    QVERIFY(!menuStates({ true, true, false, false }).restoreToFolder);
}

QTEST_GUILESS_MAIN(TestArchiveCoordinator)
#include "tst_archivecoordinator.moc"
