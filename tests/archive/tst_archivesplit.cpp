// kv-test: labels=dbus timeout=300
// Restores of split archives: the cat tool asks this process for each volume on a private bus,
// missing volumes and archives are searched for through the prompt, and a restore that cannot
// talk to the tool never starts.
#include "ArchiveDriverRun.h"
#include "KvTest.h"
#include "PrivateBus.h"
#include "RecordingShellServices.h"
#include "ScriptedUiPrompts.h"
#include "TempTree.h"
#include "archive/CBackup.h"
#include "archive/IBackup.h"
#include "platform/AppPaths.h"
#include "platform/NameCodec.h"
#include "projects/IAgentTool.h"
#include "shell/dialogs/IOpenDialog.h"
#include "shell/dialogs/WidgetUiPrompts.h"
#include "WhenOpen.h"

#include <QDBusConnectionInterface>
#include <QProcess>
#include <QFileSystemModel>
#include <QtTest>

namespace {

using Run = ArchiveDriverRun;

// Scripted prompts whose search for a missing file can go to the real open panel.
class PanelPrompts : public ScriptedUiPrompts
{
public:
    explicit PanelPrompts(bool panel)
        : m_panel(panel)
    {
    }
    LocateFileAnswer locateFile(const LocateFileRequest& request) override
    {
        if (!m_panel)
            return ScriptedUiPrompts::locateFile(request);
        locateRequests << request;
        panelAnswer = m_widgets.locateFile(request);
        return panelAnswer;
    }
    LocateFileAnswer panelAnswer;

private:
    bool m_panel;
    WidgetUiPrompts m_widgets;
};

Run driver(const QString& workspace, const QStringList& args, const QByteArray& input = QByteArray(),
    const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment())
{
    return runArchiveDriver(QStringList { QStringLiteral("--workspace"), workspace } + args, input, env);
}

QByteArray noise(int size, int seed)
{
    QByteArray data(size, '\0');
    quint32 x = quint32(seed) * 2654435761u + 1;
    for (int i = 0; i < size; ++i) {
        x = x * 1664525u + 1013904223u;
        data[i] = char(x >> 24);
    }
    return data;
}

// The cat tool's requests reach the project under test, as the application's hub would pass them.
class CatShell : public RecordingShellServices
{
public:
    IBackup* project = nullptr;
    void qv3CatFileRequestProcess() override
    {
        if (project)
            project->sendFileNameToQV3Cat();
    }
    void qv3CatFileErrorProcess(const QString& path) override
    {
        if (project)
            project->qv3CatFileError(path);
    }
};

} // namespace

class TestArchiveSplit : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<PrivateBus> m_bus;
    std::unique_ptr<TempTree> m_tree;
    QString m_ws;
    QString m_volumes; // the project folder at the destination
    const QString m_password = QStringLiteral("p w$\"'\\");

    QString src() const { return m_tree->filePath(QStringLiteral("src")); }
    QStringList volumeFiles() const
    {
        return QDir(m_volumes).entryList({ QStringLiteral("*.a??") }, QDir::Files, QDir::Name);
    }

private slots:
    void initTestCase()
    {
        m_bus = std::make_unique<PrivateBus>();
        QVERIFY2(m_bus->isValid(), qPrintable(m_bus->errorString()));
        m_tree = std::make_unique<TempTree>();
        m_tree->writeFile(std::string("src/big.bin"), noise(450000, 1));
        m_tree->writeFile(std::string("src/it's $(touch X) \\ q"), "odd\n");
        m_tree->mkdir("dest");
        m_tree->mkdir("ws/Backups");
        m_ws = m_tree->filePath(QStringLiteral("ws"));
        Run r = driver(m_ws,
            { QStringLiteral("--new"), QStringLiteral("S"), QStringLiteral("--source"), src(),
                QStringLiteral("--dest"), m_tree->filePath(QStringLiteral("dest")),
                QStringLiteral("--cipher"), QStringLiteral("aes256"), QStringLiteral("--split-kb"),
                QStringLiteral("100") });
        QCOMPARE(r.code, 0);
        r = driver(m_ws,
            { QStringLiteral("--project"), QStringLiteral("S"), QStringLiteral("--password-stdin") },
            m_password.toUtf8() + '\n');
        QVERIFY2(r.code == 0, QByteArray(r.last + r.err).constData());
        m_volumes = m_tree->filePath(QStringLiteral("dest/"))
            + QDir(m_tree->filePath(QStringLiteral("dest")))
                  .entryList(QDir::Dirs | QDir::NoDotAndDotDot)
                  .first();
        QVERIFY(volumeFiles().size() >= 4);
    }
    void cleanupTestCase()
    {
        m_tree.reset();
        m_bus.reset();
    }

    // In process: the later volumes lie in another folder; the prompt names it once (scripted,
    // or by choosing the piece in the real open panel), the cat tool gets every volume in order
    // and then "-", and the files come back whole.
    void volumesFromAnotherFolder_data()
    {
        QTest::addColumn<bool>("panel");
        QTest::newRow("scripted answer") << false;
        QTest::newRow("the open panel") << true;
    }
    void volumesFromAnotherFolder()
    {
        QFETCH(bool, panel);
        const QStringList all = volumeFiles();
        const QString other = m_tree->filePath(QStringLiteral("other"));
        QVERIFY(QDir().mkpath(other));
        for (int i = 2; i < all.size(); ++i)
            QVERIFY(QFile::rename(m_volumes + '/' + all[i], other + '/' + all[i]));
        auto putBack = qScopeGuard([&] {
            for (int i = 2; i < all.size(); ++i)
                QFile::rename(other + '/' + all[i], m_volumes + '/' + all[i]);
        });

        AppPaths::setWorkspacePathOverride(m_ws);
        CBackup project(QStringLiteral("S"));
        const QString bif
            = QDir(m_ws + QStringLiteral("/Backups")).entryList({ QStringLiteral("*.bif") }).first();
        QVERIFY(project.load(m_ws + QStringLiteral("/Backups/") + bif, false));
        project.setUseAdminPrivileges(false);
        CatShell shell;
        shell.project = project.getIBackup();
        ShellServicesScope scope(&shell);
        QDBusConnection bus = QDBusConnection::sessionBus();
        QVERIFY(bus.interface()
                    ->registerService(QString::fromLatin1(IAgentTool::mainAppBundleIdentifier))
                    .isValid());
        IAgentTool::shared().setConnectMessageReceiver();

        PanelPrompts prompts(panel);
        prompts.expectProjectPassword(m_password);
        if (panel) {
            whenOpen<IOpenDialog>(
                [&](IOpenDialog* d) {
                    auto* model = d->findChild<QFileSystemModel*>();
                    QVERIFY(model);
                    d->setDirectory(other);
                    QTRY_VERIFY(model->index(other + '/' + all[2]).isValid());
                    d->selectFile(other + '/' + all[2]);
                    d->accept();
                },
                60000);
        } else {
            prompts.expectLocateFile(UiPrompts::LocateResult::Chosen, other);
        }
        bool ended = false;
        project.getIBackup()->onRunEnded = [&] { ended = true; };
        project.setSelectedArchiveIndex(int(project.archives().size()) - 1);
        const QString out = m_tree->filePath(QStringLiteral("out1"));
        QVERIFY(project.restoreBegining(out, {}, false) > 0);
        QTRY_VERIFY_WITH_TIMEOUT(ended, 60000);
        bus.interface()->unregisterService(QString::fromLatin1(IAgentTool::mainAppBundleIdentifier));

        QCOMPARE(prompts.pending(), 0);
        QCOMPARE(prompts.locateRequests.size(), 1);
        QCOMPARE(prompts.locateRequests[0].fileName, all[2]);
        QVERIFY(!prompts.locateRequests[0].canSkip);
        if (panel)
            QCOMPARE(prompts.panelAnswer.folder, other);
        QVERIFY2(project.getIBackup()->lastStatusString().contains(QLatin1String("has succeeded")),
            qPrintable(project.getIBackup()->lastStatusString()));
        // Every volume was named, in order.
        QStringList named;
        for (const auto& m : shell.messages()) {
            const QString t = QString::fromUtf8(m.text);
            if (t.startsWith(QLatin1String("Backup volume \"")))
                named << QFileInfo(t.section(QLatin1Char('"'), 1, 1)).fileName();
        }
        QCOMPARE(named, all);
        QFile big(out + src() + QStringLiteral("/big.bin"));
        QVERIFY(big.open(QIODevice::ReadOnly));
        QCOMPARE(big.readAll(), noise(450000, 1));
        QVERIFY(QFileInfo::exists(out + src() + QStringLiteral("/it's $(touch X) \\ q")));
        QCOMPARE(CBackup::m_nTarRunning, 0);
    }

    // Through the driver, a table of missing pieces and bus conditions -> exit code and text.
    void driverCases_data()
    {
        QTest::addColumn<QString>("setup"); // what is wrong
        QTest::addColumn<QStringList>("extra"); // options beyond --restore --to
        QTest::addColumn<int>("code");
        QTest::addColumn<QByteArray>("says"); // in the last line or stderr
        QTest::newRow("volume in another folder, --volume-dir")
            << "move3" << QStringList { "--volume-dir", "@other" } << 0 << QByteArray("has succeeded");
        QTest::newRow("volume missing, search cancelled")
            << "move3" << QStringList() << 1 << QByteArray("has failed");
        QTest::newRow("archive gone, cancelled")
            << "moveall" << QStringList() << 4 << QByteArray("Terminated");
        QTest::newRow("archive gone, skipped")
            << "moveall" << QStringList { "--skip-missing" } << 4 << QByteArray("prompt: Archive file");
        QTest::newRow("archive elsewhere, --volume-dir")
            << "moveall" << QStringList { "--volume-dir", "@other" } << 0 << QByteArray("has succeeded");
        QTest::newRow("name owned by another process")
            << "owned" << QStringList() << 2 << QByteArray("owned by another process");
        QTest::newRow("no bus") << "nobus" << QStringList() << 2 << QByteArray("no session bus");
    }
    void driverCases()
    {
        QFETCH(QString, setup);
        QFETCH(QStringList, extra);
        QFETCH(int, code);
        QFETCH(QByteArray, says);
        const QStringList all = volumeFiles();
        const QString other = m_tree->filePath(QStringLiteral("other"));
        QVERIFY(QDir().mkpath(other));
        QStringList moved;
        if (setup == QLatin1String("move3"))
            moved << all[2];
        if (setup == QLatin1String("moveall"))
            moved = all;
        for (const QString& f : moved)
            QVERIFY(QFile::rename(m_volumes + '/' + f, other + '/' + f));
        auto putBack = qScopeGuard([&] {
            for (const QString& f : moved)
                QFile::rename(other + '/' + f, m_volumes + '/' + f);
        });
        QDBusConnection own = m_bus->connect(QStringLiteral("owner"));
        if (setup == QLatin1String("owned"))
            QVERIFY(own.interface()
                        ->registerService(QString::fromLatin1(IAgentTool::mainAppBundleIdentifier))
                        .isValid());
        auto release = qScopeGuard([&] {
            own.interface()->unregisterService(QString::fromLatin1(IAgentTool::mainAppBundleIdentifier));
        });
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        if (setup == QLatin1String("nobus"))
            env.insert(
                QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("unix:path=/nonexistent/bus"));
        for (QString& e : extra)
            e.replace(QLatin1String("@other"), other);
        const QString out
            = m_tree->filePath(QStringLiteral("out-") + QString::number(qHash(setup + extra.join(' '))));
        const Run r = driver(m_ws,
            QStringList { QStringLiteral("--project"), QStringLiteral("S"),
                QStringLiteral("--password-stdin"), QStringLiteral("--restore"), QStringLiteral("--to"), out }
                + extra,
            m_password.toUtf8() + '\n', env);
        const QByteArray shown = r.last + "\n" + r.err;
        QVERIFY2(r.code == code, shown.constData());
        QVERIFY2(r.last.contains(says) || r.err.contains(says), shown.constData());
        if (code == 0) {
            QFile big(out + src() + QStringLiteral("/big.bin"));
            QVERIFY(big.open(QIODevice::ReadOnly));
            QCOMPARE(big.readAll(), noise(450000, 1));
        }
        if (code == 2)
            QVERIFY(!QFileInfo::exists(out));
    }
};

QTEST_MAIN(TestArchiveSplit)
#include "tst_archivesplit.moc"
