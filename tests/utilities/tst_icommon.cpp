// kv-test: labels=unit env=TZ=Europe/Berlin
#include "KvTest.h"
#include "RecordingRunLog.h"
#include "RecordingShellServices.h"
#include "platform/AppPaths.h"
#include "platform/MainThread.h"
#include "platform/PlistBridge.h"
#include "utilities/CommonFunctions.h"
#include "utilities/IAgentMessageSender.h"
#include "utilities/ICommon.h"
#include "utilities/ILocationInfo.h"
#include "utilities/IVolumeRoles.h"
#include "utilities/LogOptions.h"
#include "utilities/QVLog.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <cjson/cJSON.h>

namespace {

class RecordingAgentSender : public IAgentMessageSender
{
public:
    QList<QPair<qint32, QString>> sent;
    void sendMessage(qint32 type, const QString& text) override { sent.append({ type, text }); }
};

class FakeRoles : public IVolumeRoles
{
public:
    QString roleNameForDevice(const QString& device) override
    {
        return device.endsWith(QLatin1String("s256")) ? QStringLiteral("System") : QString();
    }
};

class FakeLocation : public ILocationInfo
{
public:
    bool diskInfo = true;
    int type = 0;
    QString typeText = QStringLiteral("USB");
    QString name = QStringLiteral("Backup");
    QString path = QStringLiteral("/media/u/Backup/data");
    bool hfs = false;
    bool apfs = false;
    bool grouped = false;
    bool active = true;
    quint64 total = 0;
    quint64 free = 0;
    qint64 used = 0;
    int refreshes = 0;

    bool hasDiskInfo() const override { return diskInfo; }
    int deviceType() const override { return type; }
    QString getDeviceTypeString() const override { return typeText; }
    QString displayName() const override { return name; }
    QString fullPath() const override { return path; }
    bool isHFSp() const override { return hfs; }
    bool isAPFS() const override { return apfs; }
    bool isGrouped() const override { return grouped; }
    bool isActive() const override { return active; }
    quint64 totalMB() const override { return total; }
    quint64 freeMB() const override { return free; }
    qint64 usedSizeMB() const override { return used; }
    void refreshVolumeInfo() override
    {
        ++refreshes;
        total = 2000000;
        free = 1500000;
        used = 500000;
    }
};

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

class TestICommon : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void cleanup()
    {
        qunsetenv("KV_SYSTEM_ROOT");
        ICommon::resetCaches();
        AppPaths::setWorkspacePathOverride(QString());
        resetLastFullLogText();
    }

    void sizes_data()
    {
        QTest::addColumn<QString>("function");
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("expected");
        QTest::newRow("readable 999") << "readable" << 999.0 << "999 B";
        QTest::newRow("readable 1000") << "readable" << 1000.0 << "1.00 KB";
        QTest::newRow("readable 999999") << "readable" << 999999.0 << "1000.00 KB";
        QTest::newRow("readable 1e6") << "readable" << 1e6 << "1.00 MB";
        QTest::newRow("readable 1e12") << "readable" << 1e12 << "1.00 TB";
        QTest::newRow("readable 999999999999") << "readable" << 999999999999.0 << "1000.00 GB";
        QTest::newRow("description 0") << "description" << 0.0 << "0 KB";
        QTest::newRow("description 1") << "description" << 1.0 << "1 KB";
        QTest::newRow("description 1025") << "description" << 1025.0 << "2 KB";
        QTest::newRow("description 1048575") << "description" << 1048575.0 << "1024 KB";
        QTest::newRow("description 1048576") << "description" << 1048576.0 << "1.0 MB";
        QTest::newRow("double 999.4") << "double" << 999.4 << "999 B";
        QTest::newRow("double 1500") << "double" << 1500.0 << "1.50 KB";
        QTest::newRow("double 2.5e12") << "double" << 2.5e12 << "2.50 TB";
        QTest::newRow("space 999") << "space" << 999.0 << "999 B";
        QTest::newRow("space 1500000") << "space" << 1500000.0 << "1.5 MB";
        QTest::newRow("space 3e12") << "space" << 3e12 << "3000.0 GB";
    }
    void sizes()
    {
        QFETCH(QString, function);
        QFETCH(double, value);
        QFETCH(QString, expected);
        QString actual;
        if (function == QLatin1String("readable"))
            actual = ICommon::sizeConvertToReadableString(quint64(value));
        else if (function == QLatin1String("description"))
            actual = ICommon::sizeDescriptionWithFileSize(quint64(value));
        else if (function == QLatin1String("double"))
            actual = ICommon::doubleSizeConvertToReadableString(value);
        else
            actual = ICommon::spaceToString(value);
        QCOMPARE(actual, expected);
    }

    void systemVersion_data()
    {
        QTest::addColumn<QByteArray>("plist"); // empty: no file
        QTest::addColumn<qint64>("version");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("catalina");
        QTest::addColumn<bool>("bigSur");
        QTest::addColumn<bool>("mountainLion");
        auto plist = [](const char* version) {
            return PlistBridge::toXml(
                QVariantMap { { QStringLiteral("ProductVersion"), QString::fromLatin1(version) } });
        };
        QTest::newRow("no file") << QByteArray() << qint64(101507) << "10.15.7" << true << false << true;
        QTest::newRow("10.9") << plist("10.9") << qint64(100900) << "10.9" << false << false << true;
        QTest::newRow("10.7.5") << plist("10.7.5") << qint64(100705) << "10.7.5" << false << false << false;
        QTest::newRow("10.16") << plist("10.16") << qint64(101600) << "10.16" << false << true << true;
        QTest::newRow("11.2.3") << plist("11.2.3") << qint64(110203) << "11.2.3" << false << true << true;
        QTest::newRow("12.0") << plist("12.0") << qint64(120000) << "12.0" << false << false << true;
        QTest::newRow("corrupt") << QByteArray("<plist") << qint64(101507) << "10.15.7" << true << false
                                 << true;
        QTest::newRow("not a version")
            << plist("abc") << qint64(101507) << "10.15.7" << true << false << true;
    }
    void systemVersion()
    {
        QFETCH(QByteArray, plist);
        QFETCH(qint64, version);
        QFETCH(QString, text);
        QTemporaryDir root;
        if (!plist.isEmpty()) {
            QVERIFY(QDir(root.path()).mkpath(QStringLiteral("System/Library/CoreServices")));
            QFile f(root.path() + QStringLiteral("/System/Library/CoreServices/SystemVersion.plist"));
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(plist);
        }
        qputenv("KV_SYSTEM_ROOT", QFile::encodeName(root.path()));
        ICommon::resetCaches();
        QCOMPARE(ICommon::systemVersion(), version);
        QCOMPARE(QVSystemVersion(), version);
        QCOMPARE(ICommon::systemVersionString(), text);
        QTEST(ICommon::isCatalinaCurrent(), "catalina");
        QTEST(ICommon::isBigSureCurrent(), "bigSur");
        QTEST(ICommon::isMountainLionOrHigher(), "mountainLion");
        QVERIFY(
            !ICommon::isTigerCurrent() && !ICommon::isLeopardaCurrent() && !ICommon::isSnowLeopardaCurrent());
    }

    void versionsCompare()
    {
        const SystemVersion a { 10, 15, 7 };
        const SystemVersion b { 10, 15, 3 };
        const SystemVersion c { 11, 0, 0 };
        setSysVersionCompareLevel(0);
        QCOMPARE(QVSysVersionsCompare(a, b), 0);
        QCOMPARE(QVSysVersionsCompare(a, c), -1);
        QCOMPARE(QVSysVersionsCompare(c, a), 1);
        setSysVersionCompareLevel(1);
        QCOMPARE(QVSysVersionsCompare(a, b), 1);
        QCOMPARE(QVSysVersionsCompare(b, a), -1);
    }

    void dates()
    {
        // 2024-09-03 11:04:56 in Berlin (summer time).
        const QDateTime at(QDate(2024, 9, 3), QTime(11, 4, 56), Qt::LocalTime);
        QCOMPARE(ICommon::generalUTF8StringFromDateTime(at), QByteArray("2024-09-03 11:04:56 "));
        QCOMPARE(ICommon::generalUTF8StringFromDateTime(at.toUTC()), QByteArray("2024-09-03 11:04:56 "));
        QCOMPARE(ICommon::generalStringFromDateTime(at), QStringLiteral("3 Sept 2024, 11:04:56"));
        QCOMPARE(ICommon::localStringFromDateTime(at), QStringLiteral("Sep 3, 2024, 11:04:56 AM "));
        const QDateTime evening(QDate(2024, 1, 13), QTime(21, 5, 0), Qt::LocalTime);
        QCOMPARE(ICommon::localStringFromDateTime(evening), QStringLiteral("Jan 13, 2024, 9:05:00 PM "));

        const QDateTime epoch = QDateTime::fromSecsSinceEpoch(0);
        for (const QDateTime& none : { QDateTime(), epoch }) {
            QVERIFY(ICommon::generalUTF8StringFromDateTime(none).isEmpty());
            QVERIFY(ICommon::localUTF8StringFromDateTime(none).isEmpty());
            QVERIFY(ICommon::generalStringFromDateTime(none).isNull());
            QVERIFY(ICommon::localStringFromDateTime(none).isNull());
            QVERIFY(ICommon::localShortlStringFromDateTime(none).isNull());
        }
    }

    // The locale-dependent texts run in a child process per locale (the system locale is read
    // once per process).
    void localeTexts_data()
    {
        QTest::addColumn<QByteArray>("locale");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("en_US") << QByteArray("en_US.UTF-8")
                               << QByteArray("index=0\nnames=Su,Mo,Tu,We,Th,Fr,Sa\n"
                                             "medium=Sep 3, 2024, 11:04:56 AM \n");
        QTest::newRow("de_DE") << QByteArray("de_DE.UTF-8")
                               << QByteArray("index=1\nnames=Mo,Di,Mi,Do,Fr,Sa,So\n"
                                             "medium=03.09.2024, 11:04:56 \n");
    }
    void localeTexts()
    {
        QFETCH(QByteArray, locale);
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("LC_ALL"), QString::fromLatin1(locale));
        env.insert(QStringLiteral("TZ"), QStringLiteral("Europe/Berlin"));
        p.setProcessEnvironment(env);
        p.start(KvTest::testBinDir() + QStringLiteral("/commonlocale"), {});
        QVERIFY(p.waitForFinished(30000));
        QCOMPARE(p.exitCode(), 0);
        QTEST(p.readAllStandardOutput(), "expected");
    }

    void weekDayMasks()
    {
        // Sunday-first weeks: Sunday is segment 0, Monday segment 1; Monday-first: Monday 0,
        // Sunday 6.
        QCOMPARE(ICommon::setCompactWeekDaysToSC(0x01, 0), quint8(0x02));
        QCOMPARE(ICommon::setCompactWeekDaysToSC(0x40, 0), quint8(0x01));
        QCOMPARE(ICommon::setCompactWeekDaysToSC(0x01, 1), quint8(0x01));
        QCOMPARE(ICommon::setCompactWeekDaysToSC(0x40, 1), quint8(0x40));
        QCOMPARE(ICommon::setCompactWeekDaysToSC(0x20, 0), quint8(0x40)); // Saturday
        for (int index : { 0, 1 }) {
            for (int mask = 0; mask < 128; ++mask) {
                const quint8 segments = ICommon::setCompactWeekDaysToSC(quint8(mask), index);
                QCOMPARE(ICommon::getCompactWeekDaysFromSC(segments, index), quint8(mask));
                QCOMPARE(qPopulationCount(segments), qPopulationCount(quint8(mask)));
            }
        }
    }

    void commandLines()
    {
        QVERIFY(ICommon::commandLineFromArgsArray({}).isNull());
        QVERIFY(ICommon::scriptLineFromArgsArray({}).isNull());
        QCOMPARE(ICommon::commandLineFromArgsArray({ "/usr/bin/rsync", "-a", "src dir/" }),
            QStringLiteral("  /usr/bin/rsync  -a  src dir/"));
        QCOMPARE(ICommon::commandLineFromArgsArray({ "/usr/bin/openssl", "enc", "-pass", "pass:secret" }),
            QStringLiteral("  /usr/bin/openssl  enc  -pass  *********"));
        QVERIFY(!ICommon::commandLineFromArgsArray({ "/usr/bin/openssl", "enc", "-k", "secret" })
                     .contains("secret"));
    }

    void scriptLineRunsLiterally()
    {
        const QStringList words { "it's", "$(id)", "`id`", "a\nb", "-n", "two  blanks", "back\\ slash", "*",
            "" };
        const QString line = ICommon::scriptLineFromArgsArray(QStringList { "printf", "%s\\n" } + words);
        QProcess p;
        p.start(QStringLiteral("/bin/sh"), { QStringLiteral("-c"), line });
        QVERIFY(p.waitForFinished(30000));
        QCOMPARE(p.exitCode(), 0);
        QCOMPARE(QString::fromUtf8(p.readAllStandardOutput()), words.join(u'\n') + u'\n');
    }

    void mainPreferences()
    {
        QTemporaryDir workspace;
        AppPaths::setWorkspacePathOverride(workspace.path());
        RecordingShellServices shell;
        ShellServicesScope scope(&shell);
        const QString path = workspace.path() + QStringLiteral("/QVPrefs.plist");

        // Missing file: reads as nothing, a save makes a one-key file.
        QVERIFY(!ICommon::loadMainPrefValueForKey(QStringLiteral("CollectLogs")).isValid());
        bool flag = true;
        QVERIFY(!ICommon::loadMainPrefValueForKeyToBool(QStringLiteral("CollectLogs"), &flag));
        QCOMPARE(flag, true);
        QVERIFY(!ICommon::saveMainPrefValue(QVariant(), QStringLiteral("X")));
        QVERIFY(ICommon::saveMainPrefBoolValue(true, QStringLiteral("CollectLogs")));
        QVERIFY(ICommon::saveMainPrefIntValue(7, QStringLiteral("KeepLogs")));
        QVERIFY(ICommon::saveMainPrefValue(QStringLiteral("text"), QStringLiteral("Name")));
        QCOMPARE(
            PlistBridge::readFile(path).map().keys(), QStringList({ "CollectLogs", "KeepLogs", "Name" }));

        // Typed reads: numbers only; a failed read leaves the value alone.
        QVERIFY(ICommon::loadMainPrefValueForKeyToBool(QStringLiteral("CollectLogs"), &flag));
        QCOMPARE(flag, true);
        int number = -1;
        QVERIFY(ICommon::loadMainPrefValueForKeyToInt(QStringLiteral("KeepLogs"), &number));
        QCOMPARE(number, 7);
        QVERIFY(ICommon::loadMainPrefValueForKeyToBool(QStringLiteral("KeepLogs"), &flag));
        QCOMPARE(flag, true);
        number = -1;
        QVERIFY(!ICommon::loadMainPrefValueForKeyToInt(QStringLiteral("Name"), &number));
        QCOMPARE(number, -1);

        // A corrupt file stays aside byte for byte; the new file holds only the saved key.
        const QByteArray corrupt("<?xml version=\"1.0\"?><plist><dict><key>A</key>");
        {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
            f.write(corrupt);
        }
        QVERIFY(!ICommon::loadMainPrefValueForKey(QStringLiteral("A")).isValid());
        QVERIFY(ICommon::saveMainPrefIntValue(3, QStringLiteral("KeepLogs")));
        QCOMPARE(PlistBridge::readFile(path).map(), QVariantMap({ { "KeepLogs", qint64(3) } }));
        const QStringList aside = QDir(workspace.path()).entryList({ "QVPrefs.plist.corrupt-*" });
        QCOMPARE(aside.size(), 1);
        QCOMPARE(readAll(workspace.path() + u'/' + aside.first()), corrupt);
        const auto messages = shell.messages();
        QCOMPARE(messages.size(), 1);
        QCOMPARE(messages.first().options, LogWord::UtilLog);
        QVERIFY(messages.first().text.contains(aside.first().toUtf8()));
    }

    void unreadablePreferencesStayUntouched()
    {
        QTemporaryDir workspace;
        AppPaths::setWorkspacePathOverride(workspace.path());
        // A folder in place of the file cannot be read, as root or not.
        QVERIFY(QDir(workspace.path()).mkdir(QStringLiteral("QVPrefs.plist")));
        QVERIFY(!ICommon::saveMainPrefIntValue(1, QStringLiteral("KeepLogs")));
        QVERIFY(QFileInfo(workspace.path() + QStringLiteral("/QVPrefs.plist")).isDir());
        QCOMPARE(QDir(workspace.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).size(), 1);
    }

    void fullLogDuplicates()
    {
        RecordingRunLog runLog;
        RunLogScope scope(&runLog);
        setTextToFullLog("A\n");
        setTextToFullLog("A\n");
        QCOMPARE(runLog.joined(), QByteArray("A\n"));
        runLog.clear();
        setTextToFullLog("A\n");
        setTextToFullLog("B\n");
        setTextToFullLog("A\n");
        QCOMPARE(runLog.joined(), QByteArray("B\nA\n"));
        // Long texts that differ only after their first kilobytes are both written.
        runLog.clear();
        const QByteArray longA = QByteArray(5000, 'x') + "A\n";
        const QByteArray longB = QByteArray(5000, 'x') + "B\n";
        setTextToFullLog(longA);
        setTextToFullLog(longB);
        setTextToFullLog(longB);
        QCOMPARE(runLog.texts(), QByteArrayList({ longA, longB }));
    }

    void frontEnds()
    {
        RecordingShellServices shell;
        ShellServicesScope scope(&shell);
        QVUtilLog("copied %d files to \"%s\"", 3, "dst");
        QVLogWindowOut(QStringLiteral("100%"));
        QVLog("nothing %d", 1);
        QVMessage(QStringLiteral("nothing"));
        const auto messages = shell.messages();
        QCOMPARE(messages.size(), 2);
        QCOMPARE(messages[0].text, QByteArray("copied 3 files to \"dst\""));
        QCOMPARE(messages[0].options, quint64(129));
        QCOMPARE(messages[1].text, QByteArray("100%"));
        QCOMPARE(messages[1].options, quint64(65));
        QVERIFY(!messages[0].sender && !messages[1].sender);

        // The full log only while debugging is on.
        RecordingRunLog runLog;
        RunLogScope runLogScope(&runLog);
        setFullLogDebug(false);
        QVFullLog("x=%d", 1);
        setFullLogDebug(true);
        QVFullLog("x=%d", 2);
        QCOMPARE(runLog.joined(), QByteArray("x=2\n"));

        const QString first = QVProcessingCodeString();
        const QString second = QVProcessingCodeString();
        QVERIFY(first.startsWith(QLatin1String("( ")) && first.endsWith(QLatin1String(" ) ")));
        QCOMPARE(
            second.mid(2, second.size() - 5).toLongLong(), first.mid(2, first.size() - 5).toLongLong() + 1);
    }

    void debugMessageJson_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("quotes and backslash") << QStringLiteral("say \"hi\" \\ ok");
        QTest::newRow("control and unicode") << QStringLiteral("line\nnext\ttab \u00e9\u4e2d");
        QTest::newRow("empty") << QString();
    }
    void debugMessageJson()
    {
        QFETCH(QString, text);
        RecordingAgentSender sender;
        IAgentMessageSender::setShared(&sender);
        QVDebugMessage(text);
        IAgentMessageSender::setShared(nullptr);
        QCOMPARE(sender.sent.size(), 1);
        QCOMPARE(sender.sent.first().first, 8);
        const QByteArray json = sender.sent.first().second.toUtf8();
        cJSON* root = cJSON_Parse(json.constData());
        QVERIFY2(root, json.constData());
        const cJSON* item = cJSON_GetObjectItemCaseSensitive(root, "Text");
        const bool isString = cJSON_IsString(item);
        const QString parsed = isString ? QString::fromUtf8(item->valuestring) : QString();
        cJSON_Delete(root);
        QVERIFY(isString);
        QCOMPARE(parsed, text.isNull() ? QStringLiteral("") : text);
    }

    void escaping_data()
    {
        QTest::addColumn<QString>("plain");
        QTest::addColumn<QString>("escaped");
        QTest::newRow("ten characters") << "a b!c\"d(e)f<g>h\\i`j~k"
                                        << "a\\ b\\!c\\\"d\\(e\\)f\\<g\\>h\\\\i\\`j\\~k";
        QTest::newRow("others stay") << "$x;y'z*"
                                     << "$x;y'z*";
        QTest::newRow("empty") << ""
                               << "";
    }
    void escaping()
    {
        QFETCH(QString, plain);
        QFETCH(QString, escaped);
        const std::string e = escape_str(plain.toStdString());
        QCOMPARE(QString::fromStdString(e), escaped);
        QCOMPARE(QString::fromStdString(unescape_str(e)), plain);
        // A backslash before any other character stays.
        QCOMPARE(unescape_str("a\\nb\\ c"), std::string("a\\nb c"));
    }

    void rsyncExcludeShielding()
    {
        QCOMPARE(shieldingCharactersForRsyncExcludeList(QStringLiteral("a\\b[c]{d}*")),
            QStringLiteral("a\\\\b\\[c\\]\\{d\\}*"));
    }

    void attrFileName_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("expected");
        QTest::newRow("folder") << "/a/b/file.txt"
                                << "/a/b/._file.txt";
        QTest::newRow("root") << "/file"
                              << "/._file";
        QTest::newRow("no folder") << "file"
                                   << "./._file";
        QTest::newRow("trailing slash") << "/a/dir/"
                                        << "/a/._dir";
    }
    void attrFileName()
    {
        QFETCH(QString, path);
        QTEST(ICommon::attrFileNameFromFilePath(path), "expected");
    }

    void locationText()
    {
        QVERIFY(infoTextForLocation(nullptr).isNull());
        FakeLocation loc;
        loc.diskInfo = false;
        QVERIFY(infoTextForLocation(&loc).isNull());
        loc.diskInfo = true;
        loc.apfs = true;
        loc.grouped = true;
        // Less than 1 MB in total: the volume information is read again first.
        QCOMPARE(infoTextForLocation(&loc),
            QStringLiteral(
                "\"/media/u/Backup/data\"; USB; file system: APFS; In volume group; full space:  2000.0 GB; "
                "free space:  1500.0 GB; used space: 500.0 GB "));
        QCOMPARE(loc.refreshes, 1);
        loc.active = false;
        loc.apfs = false;
        loc.path.clear();
        QCOMPARE(
            infoTextForLocation(&loc), QStringLiteral("\"empty\"; USB; file system: No MAC FS; NOT ACTIVE"));
        loc.type = 2;
        loc.typeText = QStringLiteral("CD/DVD(RW)");
        QCOMPARE(infoTextForLocation(&loc), QStringLiteral("CD/DVD(RW);  Backup"));
        QCOMPARE(loc.refreshes, 1);
    }

    void deviceNames()
    {
        QVERIFY(QVContainerForVolume(QStringLiteral("sda1")).isNull());
        QVERIFY(QVContainerForVolume(QStringLiteral("disk1s1")).isNull());
        QVERIFY(ICommon::getStringWithRoleForBSDName(QStringLiteral("sda1")).isNull());
        // A real block device of this machine with a subvolume suffix.
        const QStringList blocks
            = QDir(QStringLiteral("/sys/class/block")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
        QString device;
        for (const QString& b : blocks) {
            if (b.startsWith(QLatin1String("loop")) || b.startsWith(QLatin1String("sd"))
                || b.startsWith(QLatin1String("vd")) || b.startsWith(QLatin1String("nvme"))) {
                device = b;
                break;
            }
        }
        if (device.isEmpty())
            QSKIP("no block device in /sys/class/block");
        QCOMPARE(QVContainerForVolume(QStringLiteral("/dev/") + device + QStringLiteral("s256")), device);
        QString disk;
        quint64 s = 0;
        QVERIFY(ICommon::scanDiskBSDName(device + QStringLiteral("s256"), &disk, &s));
        QCOMPARE(disk, device);
        QCOMPARE(s, quint64(256));
        QVERIFY(!ICommon::scanDiskBSDName(device + QStringLiteral("s256"), nullptr, &s));

        FakeRoles roles;
        IVolumeRoles::setShared(&roles);
        const QString line = ICommon::getStringWithRoleForBSDName(device + QStringLiteral("s256"));
        const QString none = ICommon::getStringWithRoleForBSDName(device + QStringLiteral("s257"));
        IVolumeRoles::setShared(nullptr);
        QVERIFY(ICommon::containsString(line, QStringLiteral("SYSTEM")));
        QVERIFY(none.isNull());
    }

    void mountPoints()
    {
        QCOMPARE(QVMountPointForPath(QStringLiteral("/proc/self/status")), QStringLiteral("/proc"));
        QVERIFY(QVMountPointForPath(QString()).isNull());
    }

    void appInstalled()
    {
        QTemporaryDir dirs;
        QVERIFY(QDir(dirs.path()).mkpath(QStringLiteral("share/applications")));
        QFile desktop(dirs.path() + QStringLiteral("/share/applications/org.example.Viewer.desktop"));
        QVERIFY(desktop.open(QIODevice::WriteOnly));
        desktop.close();
        const QByteArray saved = qgetenv("XDG_DATA_DIRS");
        qputenv("XDG_DATA_DIRS", QFile::encodeName(dirs.path() + QStringLiteral("/share")));
        const bool found = ICommon::isAppInstalled(QStringLiteral("org.example.Viewer"));
        const bool missing = ICommon::isAppInstalled(QStringLiteral("org.example.Missing"));
        const bool escaping = ICommon::isAppInstalled(QStringLiteral("../applications/org.example.Viewer"));
        qputenv("XDG_DATA_DIRS", saved);
        QVERIFY(found);
        QVERIFY(!missing);
        QVERIFY(!escaping);
    }

    void funcStatusAndTables()
    {
        QCOMPARE(QVFuncStatus(QStringLiteral("none")), QStringLiteral(""));
        QVSetFuncStatus(QStringLiteral("sync"), QStringLiteral("Copying"));
        QVSetFuncStatus(QStringLiteral("sync"), QString());
        QCOMPARE(QVFuncStatus(QStringLiteral("sync")), QStringLiteral("Copying"));
        QCOMPARE(workMessageString(1), QStringLiteral("Destination volume \"%@\" is not active"));
        QCOMPARE(backupDestStatus(6), backupDestStatus(1));
        QCOMPARE(QVToolTipStr(23), QStringLiteral("Resume scheduler"));
        QVERIFY(QVToolTipStr(24).isNull() && workMessageString(-1).isNull());
        QCOMPARE(appleScriptExecute(QStringLiteral("return 1")), -1);
    }

    // Timers that fire inside QVProcessEvents see a raised modal depth, so the schedule and
    // queue timers stay quiet there.
    void processEventsRaisesModalDepth()
    {
        int depthInside = -1;
        QTimer::singleShot(0, this, [&depthInside] { depthInside = ModalDepthGuard::depth(); });
        const int before = ModalDepthGuard::depth();
        QDeadlineTimer deadline(5000);
        while (depthInside < 0 && !deadline.hasExpired())
            QVProcessEvents();
        QCOMPARE(depthInside, before + 1);
        QCOMPARE(ModalDepthGuard::depth(), before);
    }

    void identity()
    {
        QCOMPARE(mainAppId(), QStringLiteral("com.brisoltica.KelvanePro3"));
        QCOMPARE(mainPrefId(), QStringLiteral("com.brisoltica.KelvanePro3"));
        QCOMPARE(QVAppName(), QStringLiteral("Kelvane Pro 3"));
        QVERIFY(!fullLogDebug());
        QVERIFY(!ICommon::realHomeDirectory().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestICommon)
#include "tst_icommon.moc"
