// kv-test: labels=unit timeout=120

// kv-run-project --kit clone --check: the documented example of bench/README.md, the refusals of
// the command line, and a check that leaves the stored list and the card as they were.

#include "KvTest.h"
#include "TempTree.h"

#include <QProcess>
#include <QtTest>

class TestCloneCheckCli : public QObject
{
    Q_OBJECT
private slots:
    void readmeExampleRuns();
    void usageErrors_data();
    void usageErrors();

private:
    struct Run
    {
        int code = -1;
        QString last;
        QByteArray err;
    };
    Run driver(const QStringList& arguments, const QString& workspace);
};

TestCloneCheckCli::Run TestCloneCheckCli::driver(const QStringList& arguments, const QString& workspace)
{
    QProcess p;
    p.start(KvTest::appContentsDir() + QStringLiteral("/MacOS/kv-run-project"),
        QStringList { QStringLiteral("--workspace"), workspace } + arguments);
    p.waitForFinished(60000);
    Run r;
    r.code = p.exitCode();
    r.err = p.readAllStandardError();
    const QList<QByteArray> lines = p.readAllStandardOutput().trimmed().split('\n');
    r.last = QString::fromUtf8(lines.isEmpty() ? QByteArray() : lines.last());
    return r;
}

// The README's clone list with both places on one volume: the check refuses, names the anchor,
// and changes nothing on disk.
void TestCloneCheckCli::readmeExampleRuns()
{
    TempTree tree(QStringLiteral("clonecheck"));
    QFile page(KvTest::sourceDir() + QStringLiteral("/bench/README.md"));
    QVERIFY(page.open(QIODevice::ReadOnly));
    const QByteArray readme = page.readAll();
    QFile fixture(KvTest::sourceDir() + QStringLiteral("/tests/fixtures/clones-minimal.plist"));
    QVERIFY(fixture.open(QIODevice::ReadOnly));
    QByteArray list = fixture.readAll();
    list.replace("var/tmp/kv-clone/", QByteArray(tree.filePath(QStringLiteral("places")).mid(1).toUtf8() + "/"));
    for (const char* folder : { "places/source", "places/target", "ws/Clones" })
        QVERIFY(QDir().mkpath(tree.filePath(QString::fromLatin1(folder))));
    QVERIFY(tree.writeFile(QStringLiteral("ws/Clones/Projects.plist"), list));
    const QString ws = tree.filePath(QStringLiteral("ws"));

    const qsizetype at = readme.indexOf("## kv-run-project --kit clone --check");
    QVERIFY(at >= 0);
    const qsizetype next = readme.indexOf("\n## ", at);
    const QByteArray section = readme.mid(at, next - at);
    int ran = 0;
    for (const QByteArray& line : section.split('\n')) {
        if (!line.startsWith("    kv-run-project --workspace ws "))
            continue;
        const Run r = driver(QProcess::splitCommand(QString::fromUtf8(line.mid(34).trimmed())), ws);
        QCOMPARE(r.last, QStringLiteral("1 - Source and destination must differ"));
        QCOMPARE(r.code, 1);
        QVERIFY2(r.err.contains("verdict: Source and destination must differ\n"), r.err.constData());
        QVERIFY(r.err.contains("anchor: cloning_messages_html_same_source_and_destination\n"));
        ++ran;
    }
    QCOMPARE(ran, 1);
    // Display only: the list is not rewritten.
    QFile stored(tree.filePath(QStringLiteral("ws/Clones/Projects.plist")));
    QVERIFY(stored.open(QIODevice::ReadOnly));
    QCOMPARE(stored.readAll(), list);
}

void TestCloneCheckCli::usageErrors_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("last");
    QTest::newRow("sync kit") << QStringList { "--kit", "sync", "--project", "x", "--check" }
                              << "2 - --check needs --kit clone and --project";
    QTest::newRow("no project") << QStringList { "--kit", "clone", "--check" }
                                << "2 - --check needs --kit clone and --project";
    QTest::newRow("with confirm") << QStringList { "--kit", "clone", "--project", "x", "--check", "--confirm" }
                                  << "2 - --check takes no --scheduled, --confirm, --schedule-check or --mount-check";
    QTest::newRow("unknown project") << QStringList { "--kit", "clone", "--project", "nobody", "--check" }
                                     << "2 - the workspace has no clone project named \"nobody\"";
}

void TestCloneCheckCli::usageErrors()
{
    QFETCH(QStringList, args);
    QFETCH(QString, last);
    TempTree tree(QStringLiteral("clonecheckargs"));
    QVERIFY(QDir().mkpath(tree.filePath(QStringLiteral("ws"))));
    const Run r = driver(args, tree.filePath(QStringLiteral("ws")));
    QCOMPARE(r.code, 2);
    QCOMPARE(r.last, last);
}

QTEST_GUILESS_MAIN(TestCloneCheckCli)
#include "tst_clonecheckcli.moc"
