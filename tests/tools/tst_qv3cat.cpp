// kv-test: labels=dbus timeout=300
#include "KvTest.h"
#include "PrivateBus.h"
#include "TempTree.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QProcess>
#include <QRandomGenerator>
#include <QtTest>

namespace {

QString catPath()
{
    return KvTest::appContentsDir() + QStringLiteral("/Resources/qv3_cat");
}

QString responderPath()
{
    return KvTest::testBinDir() + QStringLiteral("/cat_responder");
}

const QByteArray kAck = QStringLiteral("MSG qv3_cat:: принял").toUtf8();
const QByteArray kQuestion = "MSG qv3_cat::input_file_name";

// The stand-in for the main application; stopped by its recorded pid when the object goes.
class Responder
{
public:
    bool start(const QStringList& arguments)
    {
        m_process.start(responderPath(), arguments);
        if (!m_process.waitForStarted(10000))
            return false;
        QDeadlineTimer deadline(10000);
        while (!m_output.contains("ready\n") && !deadline.hasExpired()) {
            m_process.waitForReadyRead(100);
            m_output += m_process.readAllStandardOutput();
        }
        return m_output.contains("ready\n");
    }
    ~Responder()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.terminate();
            if (!m_process.waitForFinished(5000)) {
                m_process.kill();
                m_process.waitForFinished(5000);
            }
        }
    }
    // The MSG lines heard so far, waiting (with a deadline) until there are at least `count`.
    QByteArrayList messages(int count)
    {
        QDeadlineTimer deadline(10000);
        for (;;) {
            m_output += m_process.readAllStandardOutput();
            QByteArrayList lines;
            for (const QByteArray& line : m_output.split('\n')) {
                if (line.startsWith("MSG "))
                    lines.append(line);
            }
            if (lines.size() >= count || deadline.hasExpired())
                return lines;
            m_process.waitForReadyRead(100);
        }
    }

private:
    QProcess m_process;
    QByteArray m_output;
};

struct CatResult
{
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
    qint64 elapsedMs = 0;
};

CatResult runCat(const QStringList& arguments, const QProcessEnvironment& env = {})
{
    QProcess process;
    if (!env.isEmpty())
        process.setProcessEnvironment(env);
    QElapsedTimer timer;
    timer.start();
    process.start(catPath(), arguments);
    CatResult result;
    if (!process.waitForStarted(10000) || !process.waitForFinished(60000)) {
        process.kill();
        process.waitForFinished(5000);
        return result;
    }
    result.elapsedMs = timer.elapsed();
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError();
    return result;
}

} // namespace

// qv3_cat streams the pieces that the answers name, in that order, and fails loudly when a piece
// cannot be read or nobody is left to answer.
class TestQv3Cat : public QObject
{
    Q_OBJECT

private:
    PrivateBus m_bus;
    TempTree m_tree { QStringLiteral("qv3cat") };

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(m_bus.isValid(), qPrintable(m_bus.errorString()));
        QVERIFY(m_tree.isValid());
        QVERIFY(m_tree.writeFile(std::string("p1"), "first piece|"));
        QVERIFY(m_tree.writeFile(std::string("p2"), "second piece|"));
        QVERIFY(m_tree.writeFile(std::string("p3"), QByteArray(12000, 'c')));
        QVERIFY(m_tree.mkdir("folder"));
    }

    void version()
    {
        const CatResult r = runCat({ QStringLiteral("-v") });
        QCOMPARE(r.exitCode, 1);
        QCOMPARE(r.out, QByteArray("qv_cat version 2.2\n"));
    }

    // Without a bus nobody can answer: the tool says so and ends at once.
    void noBus()
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
            QStringLiteral("unix:path=") + m_tree.filePath(QStringLiteral("no-bus-here")));
        const CatResult r = runCat({}, env);
        QCOMPARE(r.exitCode, 1);
        QVERIFY(r.out.isEmpty());
        QVERIFY2(r.err.startsWith("qv3_cat: "), r.err.constData());
        QVERIFY(!r.err.trimmed().endsWith("input_file_name"));
        QVERIFY2(r.elapsedMs < 1900, "waited without a bus");
    }

    void handshake_data()
    {
        QTest::addColumn<QStringList>("catArguments");
        QTest::addColumn<QStringList>("answers");
        QTest::addColumn<QByteArray>("stream");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QByteArray>("errorNotice"); // the error notification's path, if any

        const QString p1 = m_tree.filePath(QStringLiteral("p1"));
        const QString p2 = m_tree.filePath(QStringLiteral("p2"));
        const QString p3 = m_tree.filePath(QStringLiteral("p3"));
        const QByteArray c1 = "first piece|", c2 = "second piece|", c3(12000, 'c');
        const QString missing = m_tree.filePath(QStringLiteral("missing"));
        const QString folder = m_tree.filePath(QStringLiteral("folder"));
        const QString longPath = QStringLiteral("/") + QString(1999, QLatin1Char('x'));

        QTest::newRow("three pieces in the answers' order")
            << QStringList() << QStringList { p2, p3, p1, "-" } << c2 + c3 + c1 << 0 << QByteArray();
        QTest::newRow("first answer ends")
            << QStringList() << QStringList { "-" } << QByteArray() << 0 << QByteArray();
        QTest::newRow("argument not streamed twice")
            << QStringList { p1 } << QStringList { p1, p2, "-" } << c1 + c2 << 0 << QByteArray();
        QTest::newRow("second piece missing")
            << QStringList() << QStringList { p1, missing, p2, "-" } << c1 << 1 << missing.toUtf8();
        QTest::newRow("piece is a folder")
            << QStringList() << QStringList { p1, folder, "-" } << c1 << 1 << folder.toUtf8();
        QTest::newRow("2000-byte answer")
            << QStringList() << QStringList { longPath, "-" } << QByteArray() << 1 << longPath.toUtf8();
    }

    void handshake()
    {
        QFETCH(QStringList, catArguments);
        QFETCH(QStringList, answers);
        QFETCH(QByteArray, stream);
        QFETCH(int, exitCode);
        QFETCH(QByteArray, errorNotice);

        Responder responder;
        QVERIFY(responder.start(answers));
        const CatResult r = runCat(catArguments);
        QCOMPARE(r.exitCode, exitCode);
        QVERIFY(r.out == stream);

        // Each question is answered and each answer acknowledged, byte for byte.
        const int answered = errorNotice.isEmpty() ? int(answers.size())
                                                   : int(answers.indexOf(QString::fromUtf8(errorNotice))) + 1;
        QByteArrayList expected;
        for (int i = 0; i < answered; ++i)
            expected << kQuestion << kAck;
        if (!errorNotice.isEmpty()) {
            expected << "MSG qv3_cat:: error_can_not_open_file " + errorNotice;
            QVERIFY2(r.err.startsWith("qv3_cat: "), r.err.constData());
        }
        QCOMPARE(responder.messages(int(expected.size())), expected);
    }

    // While it waits for an answer, the tool ends when the application leaves the bus.
    void applicationLeavesTheBus()
    {
        Responder responder;
        QVERIFY(responder.start({ QStringLiteral("--own-name"), QStringLiteral("--drop-name-at"),
            QStringLiteral("2"), m_tree.filePath(QStringLiteral("p1")), QStringLiteral("-") }));
        const CatResult r = runCat({});
        QCOMPARE(r.exitCode, 1);
        QCOMPARE(r.out, QByteArray("first piece|"));
        QVERIFY2(r.err.startsWith("qv3_cat: "), r.err.constData());
    }

    // A real restore pipeline: a split archive of a tree with odd names comes back whole.
    void restorePipeline()
    {
        QVERIFY(m_tree.mkdir("source"));
        m_tree.makeOddFiles("source");
        QByteArray big(50000, Qt::Uninitialized);
        QRandomGenerator::global()->fillRange(reinterpret_cast<quint32*>(big.data()), big.size() / 4);
        QVERIFY(m_tree.writeFile(std::string("source/big"), big));
        QVERIFY(m_tree.mkdir("pieces"));
        QVERIFY(m_tree.mkdir("out"));
        const QString source = m_tree.filePath(QStringLiteral("source"));
        const QString pieces = m_tree.filePath(QStringLiteral("pieces"));
        QProcess pack;
        pack.setWorkingDirectory(pieces);
        pack.start(QStringLiteral("/bin/bash"),
            { QStringLiteral("-c"),
                QStringLiteral("set -o pipefail; tar -czf - -C \"$1\" . | split -b 4000 -a 3 - A.tgz."),
                QStringLiteral("pack"), source });
        QVERIFY(pack.waitForFinished(60000));
        QCOMPARE(pack.exitCode(), 0);

        QStringList answers;
        for (const std::string& name : m_tree.list("pieces"))
            answers << m_tree.filePath("pieces/" + name);
        QVERIFY(answers.size() > 3);
        answers << QStringLiteral("-");
        Responder responder;
        QVERIFY(responder.start(answers));

        QProcess restore;
        restore.start(QStringLiteral("/bin/bash"),
            { QStringLiteral("-c"),
                QStringLiteral("\"$1\" \"$2\" | tar -xzf - -C \"$3\"; echo \"${PIPESTATUS[*]}\""),
                QStringLiteral("restore"), catPath(), answers.first(),
                m_tree.filePath(QStringLiteral("out")) });
        QVERIFY(restore.waitForFinished(120000));
        QCOMPARE(restore.readAllStandardOutput(), QByteArray("0 0\n"));

        QProcess diff;
        diff.start(
            QStringLiteral("diff"), { QStringLiteral("-r"), source, m_tree.filePath(QStringLiteral("out")) });
        QVERIFY(diff.waitForFinished(60000));
        QCOMPARE(diff.readAll(), QByteArray());
        QCOMPARE(diff.exitCode(), 0);
    }
};

QTEST_GUILESS_MAIN(TestQv3Cat)
#include "tst_qv3cat.moc"
