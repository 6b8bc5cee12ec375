// kv-test: labels=unit
#include "FakeToolDir.h"
#include "KvTest.h"
#include "RecordingShellServices.h"
#include "WorkspaceFixture.h"
#include "platform/AppPaths.h"
#include "platform/MountInfo.h"
#include "platform/NameCodec.h"
#include "platform/PlistBridge.h"
#include "platform/Trash.h"
#include "utilities/IPathUtil.h"
#include "utilities/MainPreferences.h"

#include <QDir>
#include <QDirIterator>
#include <QtTest>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Every file below root with its content, by relative path.
QMap<QString, QByteArray> treeOf(const QString& root)
{
    QMap<QString, QByteArray> tree;
    QDirIterator it(root, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        tree.insert(QDir(root).relativeFilePath(path), readAll(path));
    }
    return tree;
}

// A workspace of the given generation with its folders, its preferences file and a project.
void makeWorkspace(const QString& root, const QString& prefsName, const QByteArray& marker)
{
    for (const char* sub : { "Backups", "Syncs", "Logs", "Clones" })
        QDir().mkpath(root + QLatin1Char('/') + QLatin1String(sub));
    PlistBridge::writeFileAtomically(
        root + QLatin1Char('/') + prefsName, QVariantMap { { "Foreign", QString::fromLatin1(marker) } });
    writeFile(root + QStringLiteral("/Backups/project one.qvb"), marker);
    writeFile(root + QStringLiteral("/Logs/log_2020-01-01_00-00-00.txt"), "old log " + marker);
    writeFile(root + QStringLiteral("/.hidden"), marker);
}

QStringList copySiblings(const QString& parent)
{
    return QDir(parent).entryList({ QStringLiteral(".kelvane-workspace-copy.*") },
        QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
}

} // namespace

class TestWorkspacePaths : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void workspaceChoice()
    {
        WorkspaceFixture home;
        QCOMPARE(IPathUtil::currentWorkspacePath(), home.workspace()); // default
        AppPaths::appSettings()->setValue(QStringLiteral("QVCurrentProjectsPath"), QString());
        QCOMPARE(IPathUtil::currentWorkspacePath(), home.workspace()); // empty key ignored
        AppPaths::appSettings()->setValue(QStringLiteral("QVCurrentProjectsPath"), QStringLiteral("/srv/ws"));
        QCOMPARE(IPathUtil::currentWorkspacePath(), QStringLiteral("/srv/ws")); // key set
        IPathUtil::shared().setWorkspacePath(QStringLiteral("/override/ws"));
        QCOMPARE(IPathUtil::currentWorkspacePath(), QStringLiteral("/override/ws")); // override
        QCOMPARE(AppPaths::currentWorkspacePath(), QStringLiteral("/override/ws"));
        QCOMPARE(IPathUtil::getBackupsPath(), QStringLiteral("/override/ws/Backups"));
        IPathUtil::shared().setWorkspacePath(QString());
        QCOMPARE(IPathUtil::currentWorkspacePath(), QStringLiteral("/srv/ws"));
        AppPaths::appSettings()->remove(QStringLiteral("QVCurrentProjectsPath"));

        QCOMPARE(IPathUtil::getPreferencesPath(), home.home() + QStringLiteral("/.config"));
        QCOMPARE(
            IPathUtil::getTuvimoBackupsPath(), home.dataHome() + QStringLiteral("/Tuvimo Backuper/Backups"));
        QCOMPARE(IPathUtil::getLauncherPath(),
            KvTest::appContentsDir() + QStringLiteral("/Library/LoginItems/QVP3Launcher.app"));
    }

    void supportPaths_data()
    {
        QTest::addColumn<int>("version");
        QTest::addColumn<QString>("relative"); // below HOME; null for none
        const QString kv2 = QStringLiteral("Brisolt Software/Kelvane 2");
        const QString containers = QStringLiteral("/Library/Containers/");
        const QString support = QStringLiteral("/Data/Library/Application Support/");
        QTest::newRow("0") << 0 << QString();
        QTest::newRow("1") << 1 << QStringLiteral("/.local/share/") + kv2;
        QTest::newRow("2") << 2 << containers + QStringLiteral("com.brisoltica.KelvanePro") + support + kv2;
        QTest::newRow("3") << 3 << containers + QStringLiteral("com.brisoltica.KelvaneLite") + support + kv2;
        QTest::newRow("4") << 4 << QStringLiteral("/.local/share/Kelvane 3");
        QTest::newRow("5") << 5
                           << containers + QStringLiteral("com.brisoltica.Kelvane3") + support
                + QStringLiteral("Kelvane 3");
        QTest::newRow("6") << 6 << QStringLiteral("/.local/share/Kelvane 3");
        QTest::newRow("7") << 7 << QString();
    }

    void supportPaths()
    {
        QFETCH(int, version);
        QFETCH(QString, relative);
        WorkspaceFixture home;
        const QString path = IPathUtil::QVSupportPathForVersion(version);
        if (relative.isNull())
            QVERIFY(path.isNull());
        else
            QCOMPARE(path, home.home() + relative);
    }

    void firmLinks_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("firm");
        QTest::newRow("relative Applications/x") << QStringLiteral("Applications/x") << true;
        QTest::newRow("/Users") << QStringLiteral("/Users") << true;
        QTest::newRow("/Users/me/a") << QStringLiteral("/Users/me/a") << true;
        QTest::newRow("/Usersfoo") << QStringLiteral("/Usersfoo") << false;
        QTest::newRow("/usr/localx") << QStringLiteral("/usr/localx") << false;
        QTest::newRow("/usr/local/bin") << QStringLiteral("/usr/local/bin") << true;
        QTest::newRow("/System/Library/Speech/x") << QStringLiteral("/System/Library/Speech/x") << true;
        QTest::newRow("/System/Library") << QStringLiteral("/System/Library") << false;
        QTest::newRow("empty") << QString() << false;
    }

    void firmLinks()
    {
        QFETCH(QString, path);
        QFETCH(bool, firm);
        QCOMPARE(IPathUtil::isFirmLinkPath(path), firm);
    }

    // The mount point of a path compares whole components, after decoding mountinfo's escapes.
    void mountPoints_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("mountPoint");
        QTest::newRow("/mnt/ab/x") << QStringLiteral("/mnt/ab/x") << QStringLiteral("/mnt/ab");
        QTest::newRow("/mnt/a/x") << QStringLiteral("/mnt/a/x") << QStringLiteral("/mnt/a");
        QTest::newRow("/mnt/abc") << QStringLiteral("/mnt/abc") << QStringLiteral("/");
        QTest::newRow("blank") << QStringLiteral("/tmp/m p/file") << QStringLiteral("/tmp/m p");
    }

    void mountPoints()
    {
        QFETCH(QString, path);
        QFETCH(QString, mountPoint);
        const QByteArray text = "20 1 8:1 / / rw - ext4 /dev/sda1 rw\n"
                                "30 20 8:2 / /mnt/a rw - ext4 /dev/sda2 rw\n"
                                "31 20 8:3 / /mnt/ab rw - ext4 /dev/sda3 rw\n"
                                "32 20 7:0 / /tmp/m\\040p rw - ext4 /dev/loop0 rw\n";
        const auto entry = MountInfo::mountForPath(path, MountInfo::parse(text));
        QVERIFY(entry.has_value());
        QCOMPARE(entry->mountPoint, mountPoint);
        QCOMPARE(IPathUtil::mountPointForPath(QStringLiteral("/")), QStringLiteral("/"));
    }

    // The shell's order 4, 5, 1, 2, 3 over a home holding only a generation-1 workspace: it is
    // copied to generation 4 whole, with QVPrefs.plist in place of QV2Prefs.plist, and later
    // preference writes land there.
    void migrationFromGenerationOne()
    {
        WorkspaceFixture home;
        const QString gen1 = IPathUtil::QVSupportPathForVersion(1);
        makeWorkspace(gen1, QStringLiteral("QV2Prefs.plist"), "gen1");
        const QMap<QString, QByteArray> before = treeOf(gen1);
        IPathUtil& paths = IPathUtil::shared();

        int found = 0;
        for (int version : { 4, 5, 1, 2, 3 }) {
            if (paths.isWorkspaceExistsForVersion(version)) {
                found = version;
                break;
            }
        }
        QCOMPARE(found, 1);
        QVERIFY(paths.copyWorkspaceFromVersion(1, 4));
        QVERIFY(paths.isWorkspaceExistsForVersion(4));

        const QString gen4 = IPathUtil::QVSupportPathForVersion(4);
        QMap<QString, QByteArray> expected = before;
        expected.insert(QStringLiteral("QVPrefs.plist"), expected.take(QStringLiteral("QV2Prefs.plist")));
        QCOMPARE(treeOf(gen4), expected);
        QCOMPARE(treeOf(gen1), before); // the source stays as it was
        QVERIFY(copySiblings(home.dataHome()).isEmpty());

        paths.setWorkspacePath(gen4);
        MainPreferences::shared().setKeepLogFilesCount(9);
        QVERIFY(MainPreferences::shared().savePreferences());
        const QVariantMap prefs = PlistBridge::readFile(gen4 + QStringLiteral("/QVPrefs.plist")).map();
        QCOMPARE(prefs.value(QStringLiteral("Foreign")).toString(), QStringLiteral("gen1"));
        QCOMPARE(prefs.value(QStringLiteral("KeepLogFilesCount")).toLongLong(), 9);
    }

    // A copy that fails halfway leaves the source and the existing target exactly as they were,
    // and no partial copy behind; a copy that succeeds replaces the target whole.
    void migrationFailureKeepsTarget()
    {
        WorkspaceFixture home;
        RecordingShellServices shell;
        ShellServicesScope scope(&shell);
        const QString gen2 = IPathUtil::QVSupportPathForVersion(2);
        const QString gen4 = IPathUtil::QVSupportPathForVersion(4);
        makeWorkspace(gen2, QStringLiteral("QV2Prefs.plist"), "gen2");
        makeWorkspace(gen4, QStringLiteral("QVPrefs.plist"), "gen4");
        const QMap<QString, QByteArray> source = treeOf(gen2);
        const QMap<QString, QByteArray> target = treeOf(gen4);

        {
            // cp copies one file, then fails as a read error would make it.
            FakeToolDir tools;
            const QString script = tools.toolPath(QStringLiteral("cp"));
            QVERIFY(writeFile(script,
                "#!/bin/sh\n"
                "/bin/cp -a -- \"$3/QV2Prefs.plist\" \"$4/\"\n"
                "echo \"cp: cannot open 'Backups/project one.qvb' for reading: "
                "Permission denied\" >&2\n"
                "exit 1\n"));
            QVERIFY(QFile::setPermissions(script, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
            QString comment;
            QVERIFY(!IPathUtil::shared().copyWorkspaceFromVersion(2, 4, &comment));
            QVERIFY2(comment.contains(QStringLiteral("Permission denied")), qPrintable(comment));
        }
        QCOMPARE(treeOf(gen4), target);
        QCOMPARE(treeOf(gen2), source);
        QVERIFY(copySiblings(home.dataHome()).isEmpty());

        QVERIFY(IPathUtil::shared().copyWorkspaceFromVersion(2, 4));
        QMap<QString, QByteArray> expected = source;
        expected.insert(QStringLiteral("QVPrefs.plist"), expected.take(QStringLiteral("QV2Prefs.plist")));
        QCOMPARE(treeOf(gen4), expected);
        QVERIFY(copySiblings(home.dataHome()).isEmpty());
        QVERIFY(copySiblings(QFileInfo(gen2).path()).isEmpty());

        // A target that is a file is never replaced.
        QVERIFY(QDir(gen4).removeRecursively());
        QVERIFY(writeFile(gen4, "a file"));
        QVERIFY(!IPathUtil::shared().copyWorkspaceFromVersion(2, 4));
        QCOMPARE(readAll(gen4), QByteArray("a file"));
        // No source: NO.
        QVERIFY(!IPathUtil::shared().copyWorkspaceFromVersion(3, 4));
    }

    void existenceNeedsFoldersAndPrefs()
    {
        WorkspaceFixture home;
        const QString gen4 = IPathUtil::QVSupportPathForVersion(4);
        makeWorkspace(gen4, QStringLiteral("QVPrefs.plist"), "x");
        IPathUtil& paths = IPathUtil::shared();
        QVERIFY(paths.isWorkspaceExistsForVersion(4));
        QVERIFY(!paths.isWorkspaceExistsForVersion(6)); // the same folder, but it looks for QV2Prefs.plist
        QVERIFY(QDir(gen4 + QStringLiteral("/Syncs")).removeRecursively());
        QVERIFY(!paths.isWorkspaceExistsForVersion(4));
        QVERIFY(QDir().mkpath(gen4 + QStringLiteral("/Syncs")));
        QVERIFY(QFile::remove(gen4 + QStringLiteral("/QVPrefs.plist")));
        QVERIFY(QDir().mkpath(gen4 + QStringLiteral("/QVPrefs.plist")));
        QVERIFY(!paths.isWorkspaceExistsForVersion(4)); // a folder is no preferences file
        QVERIFY(!paths.isWorkspaceExistsForVersion(0));
    }

    void removal()
    {
        WorkspaceFixture home;
        QString comment = QStringLiteral("untouched");
        QVERIFY(IPathUtil::removeFileAtPath(home.home() + QStringLiteral("/missing"), &comment));
        QCOMPARE(comment, QStringLiteral("untouched"));
        QVERIFY(!IPathUtil::removeFileAtPath(QString(), &comment));

        const QString tree = home.home() + QStringLiteral("/tree");
        QVERIFY(writeFile(tree + QStringLiteral("/a b/'q'$(id)"), "x"));
        QVERIFY(writeFile(tree + QStringLiteral("/-lead"), "x"));
        QVERIFY(QFile::link(QStringLiteral("/etc/hostname"), tree + QStringLiteral("/link")));
        QVERIFY(IPathUtil::removeFileAtPath(tree, &comment));
        QVERIFY(!QFileInfo::exists(tree));
        QVERIFY(QFileInfo::exists(QStringLiteral("/etc/hostname")));

        if (KvTest::isRoot())
            return; // root may remove anything; the permission hint is checked as a user
        const QString locked = home.home() + QStringLiteral("/locked");
        QVERIFY(writeFile(locked + QStringLiteral("/inner"), "x"));
        QVERIFY(::chmod(QFile::encodeName(locked).constData(), 0555) == 0);
        QVERIFY(!IPathUtil::removeFileAtPath(locked, &comment));
        QCOMPARE(comment, QStringLiteral("(%1/inner) This may be solved using admin access.").arg(locked));
        ::chmod(QFile::encodeName(locked).constData(), 0755);
    }

    // A name holding the byte 0xFF goes to the home trash; its .trashinfo decodes to the same bytes.
    void trashKeepsNameBytes()
    {
        WorkspaceFixture home;
        const QByteArray folder = QFile::encodeName(home.home());
        const QByteArray name = QByteArray("odd \xff name%", 11);
        const QByteArray path = folder + '/' + name;
        const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL, 0644);
        QVERIFY(fd >= 0);
        ::close(fd);
        QString comment;
        QVERIFY2(IPathUtil::removeToTrashFileAtPath(NameCodec::decode(path), &comment), qPrintable(comment));
        struct stat st;
        QVERIFY(::lstat(path.constData(), &st) != 0);
        const QByteArray trash = Trash::homeTrash();
        QCOMPARE(trash, QFile::encodeName(home.dataHome()) + "/Trash");
        QVERIFY(::lstat(QByteArray(trash + "/files/" + name).constData(), &st) == 0);
        QByteArray info(4096, 0);
        const int infoFd = ::open(QByteArray(trash + "/info/" + name + ".trashinfo").constData(), O_RDONLY);
        QVERIFY(infoFd >= 0);
        info.resize(::read(infoFd, info.data(), info.size()));
        ::close(infoFd);
        QVERIFY2(info.startsWith("[Trash Info]\nPath="), info.constData());
        const QByteArray encoded = info.split('\n').at(1).mid(5);
        QCOMPARE(QByteArray::fromPercentEncoding(encoded), path);
        QVERIFY(info.contains("\nDeletionDate="));

        // The same name again gets a name of its own in the trash.
        const int fd2 = ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL, 0644);
        QVERIFY(fd2 >= 0);
        ::close(fd2);
        QVERIFY(IPathUtil::removeToTrashFileAtPath(NameCodec::decode(path)));
        QVERIFY(::lstat(QByteArray(trash + "/files/" + name + ".2").constData(), &st) == 0);
        // A missing path is fine; a null one is not.
        QVERIFY(IPathUtil::removeToTrashFileAtPath(NameCodec::decode(path)));
        QVERIFY(!IPathUtil::removeToTrashFileAtPath(QString()));
    }

    void hardLinkProbe()
    {
        WorkspaceFixture home;
        QString comment = QStringLiteral("x");
        QVERIFY(IPathUtil::isFolderSupportHardLinks(home.home(), &comment));
        QVERIFY(comment.isNull());
        QVERIFY(
            QDir(home.home()).entryList(QDir::Files | QDir::NoDotAndDotDot).isEmpty()); // probe files gone
        QVERIFY(!IPathUtil::isFolderSupportHardLinks(home.home() + QStringLiteral("/missing"), &comment));
    }

    // The system exclude list keeps every line (no fixed table) and ends with the data-volume
    // entry for types 1 and 4.
    void systemExcludeList()
    {
        WorkspaceFixture home;
        const QString contents = home.home() + QStringLiteral("/App.app/Contents");
        QStringList lines;
        for (int i = 0; i < 600; ++i)
            lines << QStringLiteral("/private/var/item %1").arg(i);
        lines << QString(700, QLatin1Char('x'));
        QVERIFY(QDir().mkpath(contents + QStringLiteral("/Resources")));
        QVERIFY(PlistBridge::writeFileAtomically(contents + QStringLiteral("/Resources/ParamProc.plist"),
            QVariantMap { { "clone_system_excludes", lines.join('\n') } }));
        AppPaths::setContentsDirOverride(contents);
        const std::vector<std::string> type4 = IPathUtil::systemExcludeListWithType(4);
        const std::vector<std::string> type2 = IPathUtil::systemExcludeListWithType(2);
        AppPaths::setContentsDirOverride(QString());
        QCOMPARE(type4.size(), size_t(602));
        QCOMPARE(type4.back(), std::string("/System/Volumes/Data/"));
        QCOMPARE(type4.at(600), std::string(700, 'x'));
        QCOMPARE(type2.size(), size_t(601));
        QCOMPARE(type2.front(), std::string("/private/var/item 0"));
    }

    void recentFolders()
    {
        WorkspaceFixture home;
        IPathUtil& paths = IPathUtil::shared();
        QVERIFY(paths.recentFolder(0).isNull());
        paths.setRecentFolder(1, QStringLiteral("/data"));
        QCOMPARE(paths.recentFolder(1), QStringLiteral("/data"));
        QVERIFY(paths.recentFolder(0).isNull());
        QVERIFY(paths.recentFolder(5).isNull());
    }
};

QTEST_GUILESS_MAIN(TestWorkspacePaths)
#include "tst_workspacepaths.moc"
