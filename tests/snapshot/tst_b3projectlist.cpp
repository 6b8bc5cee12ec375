// kv-test: labels=unit timeout=120 env=TZ=America/New_York

#include "FakeBackup3Engine.h"
#include "FakeLocationServices.h"
#include "KvTest.h"
#include "RecordingBackup3Controller.h"
#include "RecordingShellServices.h"
#include "TempTree.h"
#include "platform/PlistBridge.h"
#include "projects/ProjectColor.h"
#include "snapshot/IBackup3.h"
#include "snapshot/IBackup3Container.h"

#include <QtTest>
#include <plist/plist.h>
#include <sys/stat.h>

namespace {

QString fixturePath()
{
    return KvTest::sourceDir() + QStringLiteral("/tests/snapshot/fixtures/Projects.plist");
}

QVariantMap fixture()
{
    return PlistBridge::readFile(fixturePath()).value.toMap();
}

QVariantMap firstProject(const QVariantMap& root)
{
    return root.value(QStringLiteral("Backups3")).toList().value(0).toMap();
}

// Same keys, same types and same values, recursively; describes the first difference.
QString difference(const QVariant& a, const QVariant& b, const QString& at = QString())
{
    if (a.typeId() != b.typeId())
        return QStringLiteral("%1: type %2 vs %3").arg(at, a.typeName(), b.typeName());
    if (a.typeId() == QMetaType::QVariantMap) {
        const QVariantMap ma = a.toMap(), mb = b.toMap();
        if (ma.keys() != mb.keys())
            return QStringLiteral("%1: keys %2 vs %3")
                .arg(at, ma.keys().join(QLatin1Char(',')), mb.keys().join(QLatin1Char(',')));
        for (auto it = ma.cbegin(); it != ma.cend(); ++it) {
            const QString d = difference(it.value(), mb.value(it.key()), at + QLatin1Char('/') + it.key());
            if (!d.isEmpty())
                return d;
        }
        return QString();
    }
    if (a.typeId() == QMetaType::QVariantList) {
        const QVariantList la = a.toList(), lb = b.toList();
        if (la.size() != lb.size())
            return QStringLiteral("%1: %2 vs %3 elements").arg(at).arg(la.size()).arg(lb.size());
        for (qsizetype i = 0; i < la.size(); ++i) {
            const QString d = difference(la.at(i), lb.at(i), at + QStringLiteral("[%1]").arg(i));
            if (!d.isEmpty())
                return d;
        }
        return QString();
    }
    return a == b ? QString() : QStringLiteral("%1: %2 vs %3").arg(at, a.toString(), b.toString());
}

} // namespace

class TestB3ProjectList : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void fixtureLoadsAndSavesBackTheSameKeysAndTypes();
    void loadedFields();
    void binaryListLoadsEqual();
    void dictionaryRules_data();
    void dictionaryRules();
    void wrongTypesAreIgnored_data();
    void wrongTypesAreIgnored();
    void selection_data();
    void selection();
    void corruptFileIsKeptAsideNeverOverwritten();
    void unreadableFileIsNeverReplaced();
    void duplicateIdentifiers();
    void createNamesAndMoves();
    void failedSaveIsReported();

private:
    std::unique_ptr<IBackup3Container> makeList(const QString& path);

    std::unique_ptr<RecordingBackup3Controller> m_pane;
    std::unique_ptr<RecordingShellServices> m_shell;
    // no volume is mounted: stored places stay as stored
    std::unique_ptr<FakeLocationServices> m_volumes;
    std::unique_ptr<TempTree> m_tree;
};

void TestB3ProjectList::init()
{
    m_pane = std::make_unique<RecordingBackup3Controller>();
    m_shell = std::make_unique<RecordingShellServices>();
    IBackup3Controller::setShared(m_pane.get());
    IShellServices::setShared(m_shell.get());
    m_volumes = std::make_unique<FakeLocationServices>();
    ILocationServices::setShared(m_volumes.get());
    m_tree = std::make_unique<TempTree>(QStringLiteral("b3list"));
}

void TestB3ProjectList::cleanup()
{
    IBackup3Controller::setShared(nullptr);
    IShellServices::setShared(nullptr);
    ILocationServices::setShared(nullptr);
    m_tree.reset();
}

std::unique_ptr<IBackup3Container> TestB3ProjectList::makeList(const QString& path)
{
    return std::make_unique<IBackup3Container>(std::make_unique<FakeBackup3Engine>(), path);
}

void TestB3ProjectList::fixtureLoadsAndSavesBackTheSameKeysAndTypes()
{
    const QString path = m_tree->filePath(QStringLiteral("Backups/Projects.plist"));
    QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()));
    QVERIFY(QFile::copy(fixturePath(), path));
    {
        auto list = makeList(path);
        // the never-configured default-named project is dropped; the one that ran is kept
        QCOMPARE(list->countOfBackups3(), 3);
        QCOMPARE(list->backup3ByIndex(2)->name(), IBackup3::defaultName());
        list->initFirstBackup3();
        QVERIFY(list->save());
    }
    const QVariantMap saved = PlistBridge::readFile(path).value.toMap();
    const QVariantMap original = fixture();
    // the fully written project comes back key for key, type for type
    QCOMPARE(difference(firstProject(saved), firstProject(original)), QString());
    QCOMPARE(
        saved.value(QStringLiteral("ArchiveOrderList")), original.value(QStringLiteral("ArchiveOrderList")));
    QCOMPARE(
        difference(saved.value(QStringLiteral("Preferences")), original.value(QStringLiteral("Preferences"))),
        QString());
    struct stat st;
    QCOMPARE(::stat(QFile::encodeName(path).constData(), &st), 0);
    QCOMPARE(st.st_mode & 0777, mode_t(0600));
    // a second round gives the same file
    const QByteArray first = m_tree->readFile("Backups/Projects.plist");
    {
        auto list = makeList(path);
        list->initFirstBackup3();
        QVERIFY(list->save());
    }
    QCOMPARE(m_tree->readFile("Backups/Projects.plist"), first);
}

void TestB3ProjectList::loadedFields()
{
    IBackup3 p;
    QVERIFY(p.loadFromDict(firstProject(fixture()), 1));
    QCOMPARE(p.name(), QStringLiteral("Documents"));
    QCOMPARE(p.UUID(), QStringLiteral("6F1D2C3B-AAAA-4BBB-8CCC-0123456789AB"));
    QCOMPARE(p.lastProcessDate(), QDateTime(QDate(2024, 5, 1), QTime(18, 30), Qt::UTC));
    QCOMPARE(p.lastProcessFolder(), QStringLiteral("b3_2024-05-01_20-30-00"));
    QVERIFY(p.isOptionConsiderModDate() && p.isOptionDelete());
    QVERIFY(
        p.isExcludeInvisible() && p.isExcludeAliases() && p.isExcludeByPattern() && !p.isIncludeByPattern());
    QCOMPARE(p.getExcludePattern(), QStringLiteral("*.tmp|*.o"));
    QCOMPARE(p.extendedAttrsProcessType(), 1);
    QVERIFY(p.isScheduled() && p.isProcessOnMount());
    QCOMPARE(p.getScheduleMonthDay(), 3);
    QVERIFY(!p.isScheduleProcessStartIfLate());
    QVERIFY(p.isFullAutomount());
    QVERIFY(!p.isUseAdminPrivilegesForPass(-1));
    QCOMPARE(p.backupCuttingType(), 2);
    QCOMPARE(p.backupCuttingCount(), 5);
    QCOMPARE(p.DIMaxSizeCustomValue(), 12.5);
    QCOMPARE(p.backup3Type(), -1);
    QCOMPARE(p.excludePathCount(), 2);
    QCOMPARE(p.color(), QColor::fromRgbF(0.25f, 0.5f, 0.75f, 1.0f));
    QCOMPARE(p.srcLocationCount(), 1);
    QVERIFY(p.isReady());
}

void TestB3ProjectList::binaryListLoadsEqual()
{
    QFile f(fixturePath());
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QByteArray xml = f.readAll();
    plist_t node = nullptr;
    plist_from_xml(xml.constData(), uint32_t(xml.size()), &node);
    QVERIFY(node);
    char* bin = nullptr;
    uint32_t len = 0;
    plist_to_bin(node, &bin, &len);
    plist_free(node);
    QVERIFY(m_tree->writeFile(std::string("bin/Projects.plist"), QByteArray(bin, int(len))));
    free(bin);

    QVariantMap fromXml, fromBin;
    {
        auto list = makeList(fixturePath());
        QVERIFY(list->countOfBackups3() == 3);
        list->backup3ByIndex(0)->saveToDict(fromXml);
    }
    {
        auto list = makeList(m_tree->filePath(QStringLiteral("bin/Projects.plist")));
        QCOMPARE(list->countOfBackups3(), 3);
        list->backup3ByIndex(0)->saveToDict(fromBin);
    }
    QCOMPARE(difference(fromBin, fromXml), QString());
}

void TestB3ProjectList::dictionaryRules_data()
{
    QTest::addColumn<QString>("change");
    QTest::newRow("no file name") << QStringLiteral("no file name");
    QTest::newRow("no schedule") << QStringLiteral("no schedule");
    QTest::newRow("scheme 0") << QStringLiteral("scheme 0");
    QTest::newRow("empty exclude list") << QStringLiteral("empty exclude list");
    QTest::newRow("low tag counter") << QStringLiteral("low tag counter");
    QTest::newRow("no name") << QStringLiteral("no name");
}

void TestB3ProjectList::dictionaryRules()
{
    QFETCH(QString, change);
    const QString row = change;
    QVariantMap d = firstProject(fixture());
    int scheme = 1;
    if (row == QLatin1String("no file name"))
        d.remove(QStringLiteral("FileName"));
    else if (row == QLatin1String("no schedule"))
        d.remove(QStringLiteral("Schedule"));
    else if (row == QLatin1String("scheme 0"))
        scheme = 0;
    else if (row == QLatin1String("empty exclude list"))
        d.insert(QStringLiteral("ExcludePathList"), QVariantList());
    else if (row == QLatin1String("low tag counter"))
        d.insert(QStringLiteral("TagForSrcLocations"), qint64(1));
    else if (row == QLatin1String("no name"))
        d.remove(QStringLiteral("Name"));

    IBackup3 p;
    const bool answer = p.loadFromDict(d, scheme);
    QVariantMap saved;
    p.saveToDict(saved);
    if (row == QLatin1String("no file name")) {
        QCOMPARE(p.fileName(), QStringLiteral("Documents_6F1D2C3B-AAAA-4BBB-8CCC-0123456789AB"));
    } else if (row == QLatin1String("no schedule")) {
        QVERIFY(p.isUseAdminPrivilegesForPass(-1)); // the stored NO is read only with "Schedule"
        QVERIFY(!p.isLastProcessFailed());
        QCOMPARE(p.backupCuttingType(), 0);
        QVERIFY(!p.isScheduled());
        QCOMPARE(p.getScheduleTimeHH(), 18);
        QCOMPARE(p.excludePathCount(), 2); // still read
        QCOMPARE(p.DIMaxSizeType(), 1); // still read
    } else if (row == QLatin1String("scheme 0")) {
        QVERIFY(!saved.contains(QStringLiteral("Destination")));
        QCOMPARE(saved.value(QStringLiteral("Sources")).toList().size(), 1);
        QCOMPARE(p.name(), QStringLiteral("Documents"));
    } else if (row == QLatin1String("empty exclude list")) {
        QVERIFY(!saved.contains(QStringLiteral("ExcludePathList")));
    } else if (row == QLatin1String("low tag counter")) {
        // the next source added must not take the tag 7 a loaded source has
        QCOMPARE(p.tagForLocations(), 7L);
    } else if (row == QLatin1String("no name")) {
        QVERIFY(!answer);
        QCOMPARE(p.name(), IBackup3::defaultName());
        QCOMPARE(p.UUID(), QStringLiteral("6F1D2C3B-AAAA-4BBB-8CCC-0123456789AB")); // the rest still loads
        return;
    }
    QVERIFY(answer);
}

void TestB3ProjectList::wrongTypesAreIgnored_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QVariant>("value");
    QTest::newRow("Name as a number") << "Name" << QVariant(qint64(3));
    QTest::newRow("FileName with a parent step") << "FileName" << QVariant(QStringLiteral("../x"));
    QTest::newRow("FileName with a slash") << "FileName" << QVariant(QStringLiteral("a/b"));
    QTest::newRow("LastFolder as dot-dot") << "LastFolder" << QVariant(QStringLiteral(".."));
    QTest::newRow("ProjectBackupFolder with a slash")
        << "ProjectBackupFolder" << QVariant(QStringLiteral("/etc"));
    QTest::newRow("LastDate as a string") << "LastDate" << QVariant(QStringLiteral("2024-05-01"));
    QTest::newRow("Options as a string") << "Options" << QVariant(QStringLiteral("12"));
    QTest::newRow("Color of 16 bytes") << "Color" << QVariant(QByteArray(16, '\x01'));
    QTest::newRow("Color as a string") << "Color" << QVariant(QStringLiteral("red"));
    QTest::newRow("Filters as an array") << "Filters" << QVariant(QVariantList { 1, 2 });
    QTest::newRow("Schedule as a string") << "Schedule" << QVariant(QStringLiteral("daily"));
    QTest::newRow("ExcludePathList as a string") << "ExcludePathList" << QVariant(QStringLiteral("/tmp"));
    QTest::newRow("UseDiskImage out of range") << "UseDiskImage" << QVariant(qint64(9));
    QTest::newRow("TagForSrcLocations as a date")
        << "TagForSrcLocations" << QVariant(QDateTime(QDate(2024, 1, 1), QTime(0, 0), Qt::UTC));
    QTest::newRow("SheduleProcessInSpecTimeOnly as the text 0")
        << "SheduleProcessInSpecTimeOnly" << QVariant(QStringLiteral("0"));
}

void TestB3ProjectList::wrongTypesAreIgnored()
{
    QFETCH(QString, key);
    QFETCH(QVariant, value);
    QVariantMap d = firstProject(fixture());
    d.insert(key, value);
    IBackup3 p;
    p.loadFromDict(d, 1);
    IBackup3 fresh;
    if (key == QLatin1String("Name")) {
        QCOMPARE(p.name(), fresh.name());
    } else if (key == QLatin1String("FileName")) {
        QCOMPARE(p.fileName(), QStringLiteral("Documents_6F1D2C3B-AAAA-4BBB-8CCC-0123456789AB"));
    } else if (key == QLatin1String("LastFolder")) {
        QVERIFY(p.lastProcessFolder().isNull());
    } else if (key == QLatin1String("ProjectBackupFolder")) {
        QVERIFY(p.projectBackupFolderField().isNull());
    } else if (key == QLatin1String("LastDate")) {
        QVERIFY(!p.lastProcessDate().isValid());
    } else if (key == QLatin1String("Options")) {
        QCOMPARE(p.options(), quint64(0));
    } else if (key == QLatin1String("Color")) {
        QCOMPARE(p.color(), ProjectColor::defaultColor());
    } else if (key == QLatin1String("Filters")) {
        QCOMPARE(p.excludeFilters(), quint64(0));
        QVERIFY(p.getExcludePattern().isNull());
    } else if (key == QLatin1String("Schedule")) {
        QVERIFY(!p.isScheduled());
        QVERIFY(p.isUseAdminPrivilegesForPass(-1));
    } else if (key == QLatin1String("ExcludePathList")) {
        QVERIFY(!p.excludePathList());
    } else if (key == QLatin1String("UseDiskImage")) {
        QCOMPARE(p.backupTargetType(), 0);
    } else if (key == QLatin1String("TagForSrcLocations")) {
        QCOMPARE(p.tagForLocations(), 7L); // from the loaded source's tag
    } else if (key == QLatin1String("SheduleProcessInSpecTimeOnly")) {
        QVERIFY(p.isScheduleProcessStartIfLate());
    }
}

void TestB3ProjectList::selection_data()
{
    QTest::addColumn<QVariantMap>("prefs");
    QTest::addColumn<qint64>("selected");
    QTest::newRow("index 1") << QVariantMap { { "SelectedBackup3Index", qint64(1) } } << qint64(1);
    QTest::newRow("clone index wins")
        << QVariantMap { { "SelectedBackup3Index", qint64(2) }, { "SelectedClonIndex", qint64(0) } }
        << qint64(0);
    QTest::newRow("none") << QVariantMap { { "SelectedBackup3Index", qint64(-1) } } << qint64(0);
    QTest::newRow("past the end") << QVariantMap { { "SelectedBackup3Index", qint64(7) } } << qint64(-1);
    QTest::newRow("as a string") << QVariantMap { { "SelectedBackup3Index", QStringLiteral("2") } }
                                 << qint64(0);
}

void TestB3ProjectList::selection()
{
    QFETCH(QVariantMap, prefs);
    QFETCH(qint64, selected);
    QVariantMap root = fixture();
    root.insert(QStringLiteral("Preferences"), prefs);
    const QString path = m_tree->filePath(QStringLiteral("sel/Projects.plist"));
    QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()));
    QVERIFY(PlistBridge::writeFileAtomically(path, root));
    auto list = makeList(path);
    list->initFirstBackup3();
    QCOMPARE(list->currentBackup3Index(), selected);
    if (selected >= 0)
        QVERIFY(list->currentBackup3()->isCurrent() && list->currentBackup3()->isSelected());
}

void TestB3ProjectList::corruptFileIsKeptAsideNeverOverwritten()
{
    QVERIFY(
        m_tree->writeFile(std::string("c/Projects.plist"), "<?xml version=\"1.0\"?><plist><dict><key>Back"));
    const QString path = m_tree->filePath(QStringLiteral("c/Projects.plist"));
    auto list = makeList(path);
    QCOMPARE(list->countOfBackups3(), 0);
    const std::vector<std::string> names = m_tree->list("c");
    QCOMPARE(names.size(), size_t(1));
    QVERIFY(QString::fromStdString(names.front()).startsWith(QLatin1String("Projects.plist.corrupt-")));
    QCOMPARE(
        m_tree->readFile("c/" + names.front()), QByteArray("<?xml version=\"1.0\"?><plist><dict><key>Back"));
    bool told = false;
    for (const auto& m : m_shell->messages())
        told |= m.text.contains("damaged");
    QVERIFY(told);
    // the next save writes a fresh list beside the kept file
    list->createNewBackup3(QStringLiteral("Fresh"));
    QVERIFY(list->save());
    QCOMPARE(m_tree->list("c").size(), size_t(2));
}

void TestB3ProjectList::unreadableFileIsNeverReplaced()
{
    if (KvTest::isRoot())
        QSKIP("root reads every file");
    QVERIFY(m_tree->writeFile(std::string("u/Projects.plist"), "keep me", 0000));
    auto list = makeList(m_tree->filePath(QStringLiteral("u/Projects.plist")));
    list->createNewBackup3(QStringLiteral("x"));
    QVERIFY(!list->save());
    ::chmod(m_tree->filePathStd("u/Projects.plist").c_str(), 0600);
    QCOMPARE(m_tree->readFile("u/Projects.plist"), QByteArray("keep me"));
}

void TestB3ProjectList::duplicateIdentifiers()
{
    QVariantMap root = fixture();
    QVariantList projects = root.value(QStringLiteral("Backups3")).toList();
    QVariantMap twin = projects.at(1).toMap(); // "Photos", never ran
    twin.insert(QStringLiteral("Name"), QStringLiteral("Photos twin"));
    QVariantMap ranTwin = projects.at(0).toMap(); // "Documents", ran
    ranTwin.insert(QStringLiteral("Name"), QStringLiteral("Documents twin"));
    projects << twin << ranTwin;
    root.insert(QStringLiteral("Backups3"), projects);
    const QString path = m_tree->filePath(QStringLiteral("dup/Projects.plist"));
    QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()));
    QVERIFY(PlistBridge::writeFileAtomically(path, root));
    auto list = makeList(path);
    QCOMPARE(list->countOfBackups3(), 5);
    const auto photosTwin = list->backup3ByIndex(3);
    QCOMPARE(photosTwin->name(), QStringLiteral("Photos twin"));
    QVERIFY(photosTwin->UUID() != list->backup3ByIndex(1)->UUID());
    QCOMPARE(photosTwin->fileName(), QStringLiteral("Photos twin_") + photosTwin->UUID());
    // a twin with versions keeps its identifier (its versions are tied to it)
    QCOMPARE(list->backup3ByIndex(4)->UUID(), list->backup3ByIndex(0)->UUID());
    int lines = 0;
    for (const auto& m : m_shell->messages())
        if (m.text.contains("same identifier")) {
            ++lines;
            QVERIFY(m.text.contains("Photos") || m.text.contains("Documents"));
        }
    QCOMPARE(lines, 2);
}

void TestB3ProjectList::createNamesAndMoves()
{
    m_pane->nextUUID = QStringLiteral("AAAAAAAA-0000-4000-8000-000000000001");
    auto list = makeList(m_tree->filePath(QStringLiteral("n/Projects.plist")));
    auto a = list->createNewBackup3(QStringLiteral("a/b"));
    QCOMPARE(a->fileName(), QStringLiteral("a|b_AAAAAAAA-0000-4000-8000-000000000001"));
    auto dots = list->createNewBackup3(QStringLiteral(".."));
    QCOMPARE(dots->fileName(), QStringLiteral("_") + dots->UUID());
    auto unnamed = list->createNewBackup3(QString());
    QCOMPARE(unnamed->name(), IBackup3::defaultName());
    QVERIFY(unnamed->isOptionConsiderModDate());
    QCOMPARE(list->currentBackup3(), unnamed);
    QVERIFY(m_pane->calls.contains(QStringLiteral("eventProjectListChanged")));
    auto long255 = list->createNewBackup3(QString(300, QChar(0x00E9)));
    QVERIFY(long255->fileName().toUtf8().size() <= 255);
    QVERIFY(long255->fileName().endsWith(QLatin1Char('_') + long255->UUID()));

    // move 0 -> 3 of four: it becomes third and is selected
    QCOMPARE(list->countOfBackups3(), 4);
    QVERIFY(list->moveBackup3From(0, 3));
    QCOMPARE(list->backup3ByIndex(2), a);
    QCOMPARE(list->currentBackup3(), a);
    QVERIFY(!list->moveBackup3From(4, 0));
    QVERIFY(!list->moveBackup3From(0, 5));
    QVERIFY(list->isUniqueName(QStringLiteral("a/b"), a.get()));
    QVERIFY(!list->isUniqueName(QStringLiteral("a/b"), nullptr));
    // a project outside the list answers 0 but is not a member
    IBackup3 stranger;
    QCOMPARE(list->indexOfBackup3(&stranger), 0);
    QVERIFY(!list->contains(&stranger));
}

void TestB3ProjectList::failedSaveIsReported()
{
    QVERIFY(m_tree->writeFile(std::string("f/file"), "x"));
    auto list = makeList(m_tree->filePath(QStringLiteral("f/file/Projects.plist")));
    list->createNewBackup3(QStringLiteral("x"));
    QVERIFY(!list->save());
    bool reported = false;
    for (const auto& m : m_shell->messages())
        reported |= m.text.contains("cannot be saved") && (m.options & 0x40) && (m.options & 0x80);
    QVERIFY(reported);
}

QTEST_GUILESS_MAIN(TestB3ProjectList)
#include "tst_b3projectlist.moc"
