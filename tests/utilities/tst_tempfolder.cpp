// kv-test: labels=unit
#include "KvTest.h"
#include "WorkspaceFixture.h"
#include "utilities/IPathUtil.h"
#include "utilities/MainPreferences.h"
#include "utilities/TempFolder.h"

#include <QDir>
#include <QProcess>
#include <QtTest>
#include <sys/stat.h>
#include <unistd.h>

namespace {

mode_t modeOf(const std::string& path)
{
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

std::string folderOf(const std::string& path)
{
    return path.substr(0, path.rfind('/'));
}

QString privateFolderPattern(const QString& base)
{
    return QStringLiteral("^") + QRegularExpression::escape(base) + QStringLiteral("/kelvane-")
        + QString::number(::geteuid()) + QStringLiteral("\\.[A-Za-z0-9]{6}$");
}

QString runHelper(QProcess& helper, const QString& base, const char* mode)
{
    helper.start(KvTest::testBinDir() + QStringLiteral("/tempfolder"), { base, QString::fromLatin1(mode) });
    if (!helper.waitForStarted(10000) || !helper.waitForReadyRead(10000))
        return QString();
    return QString::fromUtf8(helper.readLine()).trimmed();
}

} // namespace

class TestTempFolder : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // With the custom folder X in use, names are "tmp." files in a private 0700 folder under X,
    // made on the spot (0600), and two calls never give the same name.
    void namesInAPrivateFolder()
    {
        WorkspaceFixture home;
        const QString custom = home.home() + QStringLiteral("/custom tmp");
        QVERIFY(QDir().mkpath(custom));
        MainPreferences& prefs = MainPreferences::shared();
        prefs.setUseCustomTmpFolder(true);
        prefs.setCustomTmpFolderPath(custom);

        const std::string first = MainPreferences::tempName(IPathUtil::getTmpFolderPath_utf8().toStdString());
        const std::string second
            = MainPreferences::tempName(IPathUtil::getTmpFolderPath_utf8().toStdString());
        QVERIFY(!first.empty() && !second.empty());
        QVERIFY(first != second);
        const QString folder = QString::fromStdString(folderOf(first));
        QVERIFY2(
            QRegularExpression(privateFolderPattern(custom)).match(folder).hasMatch(), qPrintable(folder));
        QCOMPARE(folderOf(second), folderOf(first));
        QVERIFY(first.substr(first.rfind('/') + 1).rfind("tmp.", 0) == 0);
        QCOMPARE(first.size() - first.rfind('/') - 1, size_t(10)); // "tmp." and six unique characters
        QCOMPARE(modeOf(folderOf(first)), mode_t(0700));
        QCOMPARE(modeOf(first), mode_t(0600));

        // A bare name for a FIFO or a script: nothing exists there yet, in the same folder.
        const std::string bare = MainPreferences::tempBareName(custom.toStdString());
        QCOMPARE(folderOf(bare), folderOf(first));
        QVERIFY(!QFileInfo::exists(QString::fromStdString(bare)));
        QVERIFY(::mkfifo(bare.c_str(), 0600) == 0);

        // The common functions' temporary name goes to the same place.
        QCOMPARE(folderOf(RunLog::shared().tempFileName().toStdString()), folderOf(first));
        QVERIFY(MainPreferences::tempName(std::string()).empty());
    }

    // Without a custom folder the names go under $TMPDIR.
    void tmpdirHonoured()
    {
        WorkspaceFixture home;
        const std::string name = MainPreferences::tempName(IPathUtil::getTmpFolderPath_utf8().toStdString());
        const QString folder = QString::fromStdString(folderOf(name));
        QVERIFY2(QRegularExpression(privateFolderPattern(home.tmp())).match(folder).hasMatch(),
            qPrintable(folder));
        qunsetenv("TMPDIR");
        QCOMPARE(MainPreferences::tmpFolder(), QStringLiteral("/tmp"));
    }

    // A process that ends normally takes its folder with it; one that was killed leaves it, and
    // the next start removes it, but never the folder of a process still running.
    void foldersOfEndedProcessesAreRemoved()
    {
        WorkspaceFixture home;
        const QString base = home.home() + QStringLiteral("/base");
        QVERIFY(QDir().mkpath(base));

        QProcess normal;
        const QString normalFile = runHelper(normal, base, "exit");
        QVERIFY(!normalFile.isEmpty());
        QVERIFY(normal.waitForFinished(10000));
        QCOMPARE(normal.exitCode(), 0);
        QVERIFY(!QFileInfo::exists(QFileInfo(normalFile).path()));

        QProcess killed;
        const QString killedFile = runHelper(killed, base, "hang");
        QProcess running;
        const QString runningFile = runHelper(running, base, "hang");
        QVERIFY(!killedFile.isEmpty() && !runningFile.isEmpty());
        killed.kill();
        QVERIFY(killed.waitForFinished(10000));
        QVERIFY(QFileInfo::exists(killedFile));

        // A look-alike that is not a private folder (wrong mode) is never touched.
        const QString lookAlike = base + QLatin1Char('/') + QString::fromStdString(TempFolder::folderPrefix())
            + QStringLiteral("abcdef");
        QVERIFY(QDir().mkpath(lookAlike));

        QCOMPARE(TempFolder::removeStale(base.toStdString()), 1);
        QVERIFY(!QFileInfo::exists(QFileInfo(killedFile).path()));
        QVERIFY(QFileInfo::exists(runningFile));
        QVERIFY(QFileInfo::exists(lookAlike));
        running.kill();
        QVERIFY(running.waitForFinished(10000));
        // The first use of a base folder in this process cleans up as well.
        QVERIFY(!TempFolder::createFile(base.toStdString()).empty());
        QVERIFY(!QFileInfo::exists(QFileInfo(runningFile).path()));
    }

    void missingBaseFails()
    {
        WorkspaceFixture home;
        std::string error;
        QVERIFY(TempFolder::createFile(home.home().toStdString() + "/missing", &error).empty());
        QVERIFY(error.find("missing") != std::string::npos);
    }
};

QTEST_GUILESS_MAIN(TestTempFolder)
#include "tst_tempfolder.moc"
