// kv-test: labels=unit timeout=300

// The headless driver's command line, its refusals (exit 2, workspace untouched), the documented
// minimal project list, and a real run on the build's file system with the argument vectors it
// records.

#include "E2eWorkspace.h"
#include "FakeBackup3Engine.h"
#include "TempTree.h"
#include "platform/AppPaths.h"
#include "snapshot/IBackup3.h"
#include "snapshot/IBackup3Container.h"

#include <QFile>
#include <QtTest>

using namespace E2e;

namespace {

QByteArray fileBytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Every file below a folder with its bytes, to show that nothing was written.
QMap<QString, QByteArray> snapshotOf(const QString& root)
{
    QMap<QString, QByteArray> files;
    QDirIterator it(
        root, QDir::Files | QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString p = it.next();
        files.insert(p.mid(root.size()), QFileInfo(p).isDir() ? QByteArray("<dir>") : fileBytes(p));
    }
    return files;
}

} // namespace

class TestRunProjectCli : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void refusals_data();
    void refusals();
    void readmeShowsTheFixture();
    void fixtureLoads();
};

void TestRunProjectCli::refusals_data()
{
    QTest::addColumn<QString>("setup");
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("message");

    const QString ws = QStringLiteral("@WS");
    const QString p = QStringLiteral("--project");
    const QString w = QStringLiteral("--workspace");
    QTest::newRow("no arguments") << "good" << QStringList() << "--workspace is missing";
    QTest::newRow("unknown option") << "good" << QStringList { w, ws, p, "Docs", "--fast" }
                                    << "unknown argument";
    QTest::newRow("stray word") << "good" << QStringList { w, ws, p, "Docs", "now" } << "unknown argument";
    QTest::newRow("no project") << "good" << QStringList { w, ws } << "exactly one of";
    QTest::newRow("name and uuid") << "good" << QStringList { w, ws, p, "Docs", "--uuid", "X" }
                                   << "exactly one of";
    QTest::newRow("value missing") << "good" << QStringList { w, ws, p } << "--project needs";
    QTest::newRow("flag with value") << "good" << QStringList { w, ws, p, "Docs", "--scheduled=1" }
                                     << "takes no value";
    QTest::newRow("timeout zero") << "good" << QStringList { w, ws, p, "Docs", "--timeout", "0" }
                                  << "--timeout";
    QTest::newRow("timeout text") << "good" << QStringList { w, ws, p, "Docs", "--timeout=soon" }
                                  << "--timeout";
    QTest::newRow("workspace missing")
        << "none" << QStringList { w, ws, p, "Docs" } << "not a readable folder";
    QTest::newRow("no list") << "empty" << QStringList { w, ws, p, "Docs" } << "has no project list";
    QTest::newRow("damaged list") << "corrupt" << QStringList { w, ws, p, "Docs" } << "cannot be read";
    QTest::newRow("list not a dictionary") << "array" << QStringList { w, ws, p, "Docs" } << "cannot be read";
    QTest::newRow("unknown name") << "good" << QStringList { w, ws, p, "Nope" } << "no project named";
    QTest::newRow("unknown uuid") << "good" << QStringList { w, ws, "--uuid", "0000" } << "no project with";
    QTest::newRow("name twice in list") << "twins" << QStringList { w, ws, p, "Twin" } << "2 projects named";
    QTest::newRow("not ready") << "good" << QStringList { w, ws, p, "Empty" } << "not ready";
    QTest::newRow("argv-out unwritable")
        << "good" << QStringList { w, ws, p, "Docs", "--argv-out", "@WS/missing/argv" } << "--argv-out";
    QTest::newRow("password expected")
        << "good" << QStringList { w, ws, p, "Docs", "--password-stdin" } << "no password";
}

// A start that cannot happen exits 2 with a reason and leaves the workspace as it was.
void TestRunProjectCli::refusals()
{
    QFETCH(QString, setup);
    QFETCH(QStringList, args);
    QFETCH(QString, message);

    TempTree tree(QStringLiteral("cli"));
    QVERIFY(tree.isValid());
    QVERIFY(tree.mkdir("src"));
    QVERIFY(put(tree, "src/a.txt", "a"));
    const QString ws = tree.filePath(std::string("ws"));
    if (setup == QLatin1String("good") || setup == QLatin1String("twins")) {
        ProjectPlan docs;
        docs.sources = { tree.filePath(std::string("src")) };
        docs.destination = tree.path();
        ProjectPlan empty;
        empty.name = QStringLiteral("Empty");
        empty.destination = tree.path();
        QList<QVariantMap> projects { projectDict(docs), projectDict(empty) };
        if (setup == QLatin1String("twins")) {
            ProjectPlan a = docs, b = docs;
            a.name = b.name = QStringLiteral("Twin");
            b.uuid = newUUID();
            projects = { projectDict(a), projectDict(b) };
        }
        QVERIFY(writeWorkspace(ws, projects, QVariantList { QStringLiteral("A-1") }));
    } else if (setup == QLatin1String("empty")) {
        QVERIFY(tree.mkdir("ws/Backups"));
    } else if (setup == QLatin1String("corrupt")) {
        QVERIFY(put(tree, "ws/Backups/Projects.plist", "<?xml version=\"1.0\"?><plist><dict><key>"));
    } else if (setup == QLatin1String("array")) {
        QVERIFY(QDir().mkpath(ws + "/Backups"));
        QVERIFY(PlistBridge::writeFileAtomically(listPath(ws), QVariantList { 1, 2 }));
    }
    for (QString& a : args)
        a.replace(QStringLiteral("@WS"), ws);

    const auto before = snapshotOf(tree.path());
    const DriverRun run = runDriver(args, 60000);
    QVERIFY(run.started);
    QCOMPARE(run.exitCode, 2);
    QVERIFY2(run.lastLine.startsWith(QLatin1String("2 - ")), qPrintable(run.lastLine));
    QVERIFY2(QString::fromUtf8(run.err).contains(message), run.err.constData());
    QCOMPARE(snapshotOf(tree.path()), before);
}

// bench/README.md shows tests/fixtures/projects-minimal.plist byte for byte.
void TestRunProjectCli::readmeShowsTheFixture()
{
    const QByteArray fixture = fileBytes(KvTest::sourceDir() + "/tests/fixtures/projects-minimal.plist");
    const QByteArray readme = fileBytes(KvTest::sourceDir() + "/bench/README.md");
    QVERIFY(!fixture.isEmpty());
    const qsizetype open = readme.indexOf("```xml\n");
    QVERIFY(open >= 0);
    const qsizetype begin = open + 7;
    const qsizetype end = readme.indexOf("```", begin);
    QVERIFY(end > begin);
    QCOMPARE(readme.mid(begin, end - begin), fixture);
}

// The minimal list gives a ready project with the settings the page describes.
void TestRunProjectCli::fixtureLoads()
{
    const QString path = KvTest::sourceDir() + "/tests/fixtures/projects-minimal.plist";
    IBackup3Container container(std::make_unique<FakeBackup3Engine>(), path);
    QCOMPARE(IBackup3Container::currentPropScheme(), 1);
    QCOMPARE(container.countOfBackups3(), 1);
    const auto p = container.backup3ByIndex(0);
    QCOMPARE(p->name(), QStringLiteral("Documents"));
    QCOMPARE(p->UUID(), QStringLiteral("6F1C2A0E-3B7D-4C55-9A10-2D8E4F6B7C01"));
    QVERIFY(!p->isUseAdminPrivilegesForPass(0));
    QVERIFY(!p->isScheduled());
    QCOMPARE(p->srcLocationCount(), 1);
    QVERIFY(p->isReadyForInterface());
    QVariantMap saved;
    p->saveToDict(saved);
    QCOMPARE(saved.value("Destination").toMap().value("PathFromMountPoint").toString(),
        QStringLiteral("/Snapshots"));
}

QTEST_GUILESS_MAIN(TestRunProjectCli)
#include "tst_runprojectcli.moc"
