// kv-test: labels=gui timeout=120

#include "CopierWindowTest.h"
#include "Screenshot.h"
#include "TempTree.h"
#include "WhenOpen.h"
#include "platform/AppPaths.h"
#include "platform/DesktopServices.h"
#include "shell/dialogs/IFileCopierController.h"

#include <QtTest>
#include <QtWidgets>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

// The copier's window over a scripted rsync in a copy of the application tree: success after
// OK, rsync's error and "Ok" on a failure, Cancel ending rsync's process group at any time.
class TestFileCopierWindow : public QObject
{
    Q_OBJECT
    TempTree m_tree { QStringLiteral("copierwin") };

    // Resources/rsync3 of the test's application tree becomes this shell script.
    bool fakeRsync(const QByteArray& script)
    {
        return m_tree.writeFile(std::string("app/Resources/rsync3"), "#!/bin/sh\n" + script, 0755);
    }
    QString pidFile() const { return m_tree.filePath(std::string("rsync.pid")); }
    pid_t recordedPid() const
    {
        QFile f(pidFile());
        return f.open(QIODevice::ReadOnly) ? pid_t(f.readAll().trimmed().toInt()) : 0;
    }
    bool copy(IFileCopierController& window, const QString& target = QString())
    {
        return IFileCopier::copyFilesWithSources({ m_tree.filePath(std::string("source")) }, { 1 },
            { target.isEmpty() ? m_tree.filePath(std::string("target")) : target },
            QStringLiteral("Copying disk image"), QString());
    }

private Q_SLOTS:
    void initTestCase()
    {
        Screenshot::fixConditions();
        QVERIFY(m_tree.mkdir("app/Resources"));
        QVERIFY(m_tree.writeFile(std::string("source"), QByteArray("data")));
        AppPaths::setContentsDirOverride(m_tree.filePath(std::string("app")));
    }
    void cleanupTestCase() { AppPaths::setContentsDirOverride(QString()); }
    void init() { QFile::remove(pidFile()); }

    void copied()
    {
        QVERIFY(fakeRsync("echo 'Photos_5B0C.sparsebundle/disk.img'\n"
                          "printf '         32,768   1%%   10.42MB/s    0:00:00\\r'\n"
                          "echo '      3,000,000 100%  260.09MB/s    0:00:00 (xfr#1, to-chk=1/2)'\n"
                          "echo 'Photos_5B0C.sparsebundle/Info.plist'\n"
                          "echo '      3,000,000 100%  260.09MB/s    0:00:00 (xfr#2, to-chk=0/2)'\n"
                          "exit 0\n"));
        IFileCopierController window;
        IFileCopierWindow::setShared(&window);
        QString top, progress;
        bool extraButtons = false;
        whenCopied([&](IFileCopierController* w) {
            top = w->topText()->text();
            progress = w->progressLine()->text();
            extraButtons = w->showButton()->isVisible() && w->logButton()->isVisible();
            QCOMPARE(w->okButton()->text(), QStringLiteral("Ok"));
            Screenshot::save(w, QStringLiteral("controls"), QStringLiteral("copier-done"),
                QStringLiteral("The copier's window after a finished copy"));
            w->okButton()->click();
        });
        QVERIFY(copy(window));
        IFileCopierWindow::setShared(nullptr);
        QCOMPARE(top, QStringLiteral("Process has been completed"));
        QCOMPARE(progress, QStringLiteral("Progress: 100.00 %"));
        QVERIFY(extraButtons);
    }

    void failed_data()
    {
        QTest::addColumn<int>("status");
        QTest::newRow("partial transfer") << 23;
        QTest::newRow("file IO: the target is full") << 11;
    }
    void failed()
    {
        QFETCH(int, status);
        QVERIFY(
            fakeRsync("printf '         32,768   1%%   10.42MB/s    0:00:00'\n"
                      "echo 'rsync: [receiver] write failed on \"/t/f1\": No space left on device (28)' >&2\n"
                      "echo 'rsync error: some files could not be transferred (code "
                + QByteArray::number(status) + ")' >&2\nexit " + QByteArray::number(status) + "\n"));
        IFileCopierController window;
        IFileCopierWindow::setShared(&window);
        QString errors, button;
        whenCopied([&](IFileCopierController* w) {
            errors = w->errorText()->toPlainText();
            button = w->okButton()->text();
            if (status == 11)
                Screenshot::save(w, QStringLiteral("controls"), QStringLiteral("copier-failed"),
                    QStringLiteral("A failed copy shows rsync's error"));
            w->okButton()->click();
        });
        QVERIFY(!copy(window));
        IFileCopierWindow::setShared(nullptr);
        QVERIFY2(errors.contains(QStringLiteral("No space left on device (28)")), qPrintable(errors));
        QVERIFY(errors.contains(QStringLiteral("(code %1)").arg(status)));
        QCOMPARE(button, QStringLiteral("Ok"));
    }

    // Cancel ends rsync's whole group, whether it said something yet or not.
    void cancelled_data()
    {
        QTest::addColumn<bool>("afterProgress");
        QTest::newRow("mid-copy") << true;
        QTest::newRow("before any output") << false;
    }
    void cancelled()
    {
        QFETCH(bool, afterProgress);
        QVERIFY(fakeRsync("echo $$ > '" + pidFile().toUtf8() + "'\n"
            + (afterProgress ? QByteArray("echo 'big.bin'\n"
                                          "echo '  1,000 10%  1.00MB/s  0:00:09 (xfr#1, to-chk=9/10)'\n")
                             : QByteArray())
            + "exec sleep 60\n"));
        IFileCopierController window;
        IFileCopierWindow::setShared(&window);
        whenOpen<IFileCopierController>([&](IFileCopierController* w) {
            QTRY_VERIFY(recordedPid() > 0);
            if (afterProgress) {
                QTRY_COMPARE(w->progressLine()->text(), QStringLiteral("Progress: 10.00 %"));
                Screenshot::save(w, QStringLiteral("controls"), QStringLiteral("copier-progress"),
                    QStringLiteral("The copier's window while rsync copies"));
            }
            w->okButton()->click(); // "Cancel"
        });
        QElapsedTimer clock;
        clock.start();
        QVERIFY(!copy(window));
        IFileCopierWindow::setShared(nullptr);
        QVERIFY(clock.elapsed() < IFileCopier::kStopGraceMs); // SIGTERM was enough
        const pid_t pid = recordedPid();
        QVERIFY(pid > 0);
        errno = 0;
        QCOMPARE(::kill(-pid, 0), -1);
        QCOMPARE(errno, ESRCH);
        QVERIFY(!window.isVisible());
    }

    void badRequests()
    {
        QVERIFY(fakeRsync("exit 0\n"));
        IFileCopierController window;
        IFileCopierWindow::setShared(&window);
        // two sources for one target: nothing opens
        QVERIFY(!IFileCopier::copyFilesWithSources(
            { m_tree.filePath(std::string("source")), m_tree.filePath(std::string("source")) }, { 1, 1 },
            { m_tree.filePath(std::string("target")) }, QString(), QString()));
        QVERIFY(!IFileCopier::copyFilesWithSources({}, {}, {}, QString(), QString()));
        // no rsync3
        QVERIFY(QFile::remove(m_tree.filePath(std::string("app/Resources/rsync3"))));
        QVERIFY(!copy(window));
        QVERIFY(!window.isVisible());
        IFileCopierWindow::setShared(nullptr);
    }

    void showTargetThatIsGone()
    {
        QVERIFY(fakeRsync("for a; do t=$a; done\necho copied > \"$t\"\nexit 0\n")); // writes the target
        QStringList revealed;
        DesktopServices::setHookForTests([&](const QStringList& request) {
            revealed << request;
            return true;
        });
        IFileCopierController window;
        IFileCopierWindow::setShared(&window);
        const QString target = m_tree.filePath(std::string("shown"));
        QString alert;
        whenCopied([&](IFileCopierController* w) {
            w->showButton()->click(); // the target is there: the file manager is asked
            QVERIFY(QFile::remove(target));
            whenOpen<QMessageBox>([&, w](QMessageBox* box) {
                alert = box->text();
                box->accept();
                QTimer::singleShot(0, w, [w] { w->okButton()->click(); });
            });
            w->showButton()->click();
        });
        QVERIFY(copy(window, target));
        IFileCopierWindow::setShared(nullptr);
        DesktopServices::setHookForTests({});
        QCOMPARE(revealed.value(0), QStringLiteral("ShowItems"));
        QCOMPARE(revealed.value(1), DesktopServices::fileUri(target));
        QCOMPARE(alert, QStringLiteral("File or folder not found"));
    }
};

QTEST_MAIN(TestFileCopierWindow)
#include "tst_filecopierwindow.moc"
