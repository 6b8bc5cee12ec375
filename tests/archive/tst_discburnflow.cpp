// kv-test: labels=unit
// The disc flow over a scripted burner: packing discs against a size oracle calibrated by one
// real xorriso measurement, the setup and retry questions, and the reading of xorriso's lines.
#include "RecordingShellServices.h"
#include "ScriptedBurner.h"
#include "ScriptedUiPrompts.h"
#include "TempTree.h"
#include "archive/DiscBurnFlow.h"
#include "platform/NameCodec.h"

#include <QtTest>
#include <unistd.h>

namespace {

using Entry = DiscBurnFlow::Entry;
using Files = std::vector<Entry>;

using Script = BurnScript;

qint64 sectors(qint64 bytes)
{
    return BurnScript::sectors(bytes);
}

XorrisoBurner::Media blank(qint64 freeBytes, const QString& profile = QStringLiteral("DVD+RW"))
{
    return BurnScript::blank(freeBytes, profile);
}

QStringList names(const Files& files)
{
    QStringList out;
    for (const Entry& e : files)
        out << e.second;
    return out;
}

} // namespace

class TestDiscBurnFlow : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TempTree> m_tree;
    qint64 m_overhead = 0;

    // A sparse file of that size under the tree's "arch" folder.
    QString file(const QString& name, qint64 size)
    {
        const QString path = m_tree->filePath(QStringLiteral("arch/") + name);
        m_tree->writeFile(QStringLiteral("arch/") + name);
        [&] { QVERIFY(::truncate(NameCodec::encode(path).constData(), size) == 0); }();
        return path;
    }
    DiscBurnFlow* makeFlow(Script& script, QObject* parent)
    {
        auto* flow = new DiscBurnFlow(parent);
        flow->setBurnerFactory(
            [&script](const QString& drive) { return std::make_unique<ScriptedBurner>(drive, script); });
        flow->setDrives({ QStringLiteral("/dev/sr0"), QStringLiteral("/dev/sr1") });
        flow->setConfiguredDrives({ QStringLiteral("/dev/sr0"), QStringLiteral("/dev/sr1") });
        return flow;
    }

private Q_SLOTS:
    void initTestCase()
    {
        m_tree = std::make_unique<TempTree>(QStringLiteral("flow"));
        // The oracle's overhead from one real measurement of two files.
        const QString a = file(QStringLiteral("cal-a"), 300000);
        const QString b = file(QStringLiteral("cal-b"), 5000);
        XorrisoBurner real(QStringLiteral("stdio:/dev/null"));
        QString error;
        const std::optional<qint64> image
            = real.measureImageBytes({ { a, QStringLiteral("/a") }, { b, QStringLiteral("/d/b") } }, &error);
        QVERIFY2(image.has_value(), qPrintable(error));
        m_overhead = *image - sectors(300000) - sectors(5000);
        QVERIFY(m_overhead > 0);
    }

    // Discs of 10 MB: 1.5 discs go on two, the project file on the first; a piece larger than
    // a disc is refused; a set that fills exactly free - 4096 by bytes does not fit as an image
    // and is split instead of refused.
    void packingTable()
    {
        const qint64 free = 10000000;
        const QString v1 = file(QStringLiteral("P.tar.aaa"), 4000000);
        const QString v2 = file(QStringLiteral("P.tar.aab"), 4000000);
        const QString v3 = file(QStringLiteral("P.tar.aac"), 4000000);
        const QString project = file(QStringLiteral("P.bif"), 20000);
        Script script;
        script.overhead = m_overhead;
        ScriptedBurner burner(QStringLiteral("/dev/sr0"), script);

        DiscBurnFlow flow;
        flow.setRootFolder({ { v1, "/P/P.tar.aaa" }, { v2, "/P/P.tar.aab" }, { v3, "/P/P.tar.aac" }, { project, "/P.bif" } });
        QCOMPARE(flow.buildBurnCDFolder(free, burner), DiscBurnFlow::Packing::Packed);
        QCOMPARE(names(flow.discFolder()), QStringList({ "/P.bif", "/P/P.tar.aaa", "/P/P.tar.aab" }));
        QCOMPARE(names(flow.rootFolder()), QStringList({ "/P/P.tar.aac" }));

        const QString big = file(QStringLiteral("big"), free + 1);
        flow.setRootFolder({ { project, "/P.bif" }, { big, "/big" } });
        QCOMPARE(flow.buildBurnCDFolder(free, burner), DiscBurnFlow::Packing::Packed);
        QCOMPARE(names(flow.discFolder()), QStringList({ "/P.bif" }));
        flow.setRootFolder({ { big, "/big" } });
        QCOMPARE(flow.buildBurnCDFolder(free, burner), DiscBurnFlow::Packing::TooLarge);
        QVERIFY(flow.discFolder().empty());
        QCOMPARE(flow.rootFolder().size(), size_t(1));

        const QString half = file(QStringLiteral("half"), 5000000);
        const QString rest = file(QStringLiteral("rest"), free - 4096 - 1 - 5000000);
        flow.setRootFolder({ { half, "/half" }, { rest, "/rest" } });
        QCOMPARE(flow.buildBurnCDFolder(free, burner), DiscBurnFlow::Packing::Packed);
        QCOMPARE(names(flow.discFolder()), QStringList({ "/half" }));
        QCOMPARE(names(flow.rootFolder()), QStringList({ "/rest" }));
        // Alone, the rest fits its own disc: nothing is too large.
        flow.setRootFolder({ { rest, "/rest" } });
        QCOMPARE(flow.buildBurnCDFolder(free, burner), DiscBurnFlow::Packing::Packed);
    }

    void flowTable_data()
    {
        QTest::addColumn<QString>("scenario");
        QTest::newRow("failure, then Yes: the same disc folder again") << "retry";
        QTest::newRow("failure, then No") << "giveUp";
        QTest::newRow("disc 1 written, then the setup cancelled") << "cancelSecond";
        QTest::newRow("an unsuitable medium keeps the setup open") << "unsuitable";
        QTest::newRow("a piece too large for an empty disc") << "tooLarge";
        QTest::newRow("the image cannot be measured") << "measureFails";
        QTest::newRow("a rewritable disc holding data counts its capacity") << "rewritable";
        QTest::newRow("nothing handed over is no burn") << "nothing";
    }
    void flowTable()
    {
        QFETCH(QString, scenario);
        RecordingShellServices shell;
        ShellServicesScope scope(&shell);
        ScriptedUiPrompts prompts;
        Script script;
        script.overhead = m_overhead;
        const qint64 free = 10000000;
        script.media[QStringLiteral("/dev/sr0")] = blank(free);
        script.media[QStringLiteral("/dev/sr1")] = blank(free);
        const QString v1 = file(QStringLiteral("Q.tar.aaa"), 6000000);
        const QString v2 = file(QStringLiteral("Q.tar.aab"), 6000000);
        Files root { { v1, "/Q/Q.tar.aaa" }, { v2, "/Q/Q.tar.aab" } };
        QObject owner;
        DiscBurnFlow* flow = makeFlow(script, &owner);
        bool expected = false;

        if (scenario == QLatin1String("retry")) {
            script.results = { false, true, true };
            prompts.expectBurnSetup("/dev/sr0");
            prompts.expectAlert("The burn to the last media failed!", 0);
            prompts.expectBurnSetup("/dev/sr1");
            prompts.expectBurnSetup("/dev/sr0");
            expected = true;
        } else if (scenario == QLatin1String("giveUp")) {
            script.results = { false };
            prompts.expectBurnSetup("/dev/sr0");
            prompts.expectAlert("The burn to the last media failed!", 1);
        } else if (scenario == QLatin1String("cancelSecond")) {
            prompts.expectBurnSetup("/dev/sr0");
            prompts.expectBurnSetup(QString());
            prompts.expectAlert("The burn to the last media failed!", 1);
        } else if (scenario == QLatin1String("unsuitable")) {
            XorrisoBurner::Media closed = blank(free, QStringLiteral("DVD-R sequential recording"));
            closed.status = QStringLiteral("is written , is closed");
            script.media[QStringLiteral("/dev/sr0")] = closed;
            script.media[QStringLiteral("/dev/sr1")] = blank(free, QStringLiteral("stdio file"));
            flow->setConfiguredDrives({ QStringLiteral("/dev/sr2") });
            prompts.expectBurnSetup("/dev/sr0");
            prompts.expectBurnSetup("/dev/sr1");
            prompts.expectBurnSetup(QString());
            prompts.expectAlert("The burn to the last media failed!", 1);
        } else if (scenario == QLatin1String("tooLarge")) {
            root.push_back({ file(QStringLiteral("huge"), free), "/huge" });
            root.erase(root.begin(), root.begin() + 2);
            prompts.expectBurnSetup("/dev/sr0");
            prompts.expectAlert("There is a too large archive", 0);
        } else if (scenario == QLatin1String("measureFails")) {
            script.measureError = QStringLiteral("The size of the disc image cannot be measured: Cannot open file");
            prompts.expectBurnSetup("/dev/sr0");
            prompts.expectAlert("Burning failed: The size of the disc image cannot be measured", 0);
        } else if (scenario == QLatin1String("rewritable")) {
            // 3 MB left after its content, the whole 10 MB once blanked: each piece fits a disc.
            for (const QString& drive : { QStringLiteral("/dev/sr0"), QStringLiteral("/dev/sr1") }) {
                XorrisoBurner::Media written = blank(3000000);
                written.status = QStringLiteral("is written , is appendable");
                written.overallBytes = free + 32 * 2048;
                script.media[drive] = written;
            }
            prompts.expectBurnSetup("/dev/sr0");
            prompts.expectBurnSetup("/dev/sr1");
            expected = true;
        } else if (scenario == QLatin1String("nothing")) {
            root = { { m_tree->filePath(QStringLiteral("arch/missing.tar")), "/missing.tar" } };
        }

        QCOMPARE(flow->burnDisc(root), expected);
        QCOMPARE(prompts.pending(), 0);
        QVERIFY2(prompts.unexpected.isEmpty(), qPrintable(prompts.unexpected.join('\n')));
        if (scenario == QLatin1String("retry")) {
            QCOMPARE(script.burned.size(), 3);
            QCOMPARE(names(script.burned[0].second), names(script.burned[1].second));
            QCOMPARE(script.burned[1].first, QStringLiteral("/dev/sr1"));
            QVERIFY(flow->rootFolder().empty());
        } else if (scenario == QLatin1String("giveUp")) {
            QCOMPARE(flow->leftArchives(), QStringList({ "Q/Q.tar.aaa", "Q/Q.tar.aab" }));
        } else if (scenario == QLatin1String("cancelSecond")) {
            QCOMPARE(script.burned.size(), 1);
            QCOMPARE(flow->leftArchives(), QStringList({ "Q/Q.tar.aab" }));
        } else if (scenario == QLatin1String("unsuitable")) {
            QCOMPARE(prompts.burnRefusals, QStringList({ "/dev/sr0", "/dev/sr1" }));
            QVERIFY(script.burned.isEmpty());
        } else if (scenario == QLatin1String("tooLarge")) {
            QVERIFY(script.burned.isEmpty());
            QVERIFY(prompts.alerts.first().text.contains(QString::number(free - 4096)));
        } else if (scenario == QLatin1String("measureFails")) {
            QVERIFY(script.burned.isEmpty());
            QCOMPARE(flow->leftArchives(), QStringList({ "Q/Q.tar.aaa", "Q/Q.tar.aab" }));
            QCOMPARE(prompts.alerts.first().buttons, QStringList({ "OK" }));
            QVERIFY(shell.textInfos().last().text.contains(QLatin1String("Cannot open file")));
            QCOMPARE(int(shell.textInfos().last().target), 139);
        } else if (scenario == QLatin1String("nothing")) {
            QVERIFY(script.burned.isEmpty());
            QVERIFY(shell.textInfos().last().text.contains(QLatin1String("There is nothing to burn")));
        } else if (scenario == QLatin1String("rewritable")) {
            QCOMPARE(script.burned.size(), 2);
            for (const XorrisoBurner::WriteMode& mode : script.modes)
                QVERIFY(mode.blank && !mode.append);
        }
    }

    // Each disc's texts reach the text router: "Burning..." as a status, the result with the
    // notification target.
    void textsOfADisc()
    {
        RecordingShellServices shell;
        ShellServicesScope scope(&shell);
        ScriptedUiPrompts prompts;
        Script script;
        script.overhead = m_overhead;
        script.media[QStringLiteral("/dev/sr0")] = blank(10000000);
        script.results = { false };
        QObject owner;
        DiscBurnFlow* flow = makeFlow(script, &owner);
        prompts.expectBurnSetup("/dev/sr0");
        prompts.expectAlert("The burn to the last media failed!", 1);
        QVERIFY(!flow->burnDisc({ { file(QStringLiteral("t.tar"), 1000), "/t.tar" } }));
        QStringList texts;
        for (const auto& t : shell.textInfos())
            texts << QStringLiteral("%1|%2|%3").arg(t.text).arg(t.type).arg(t.target);
        QCOMPARE(texts,
            QStringList({ "Burning...|1|11", "Burning failed: Image size 1664s exceeds free space on media 1024s|1|139" }));
    }

    void outputTable()
    {
        QCOMPARE(XorrisoBurner::parseProgress(
                     "xorriso : UPDATE : Writing:      9213s   74.5%   fifo  71%  buf  50%"),
            74.5);
        QCOMPARE(XorrisoBurner::parseProgress("xorriso : UPDATE :       1 files added in 1 seconds"), -1.0);
        QCOMPARE(XorrisoBurner::parseFailure("xorriso : FAILURE : Image size 1664s exceeds free space on media 1024s"),
            QStringLiteral("Image size 1664s exceeds free space on media 1024s"));
        QCOMPARE(XorrisoBurner::parseFailure("xorriso : SORRY : No drives found"), QStringLiteral("No drives found"));
        QVERIFY(XorrisoBurner::parseFailure(
            "libisofs: WARNING : Sum of filenames not suitable for Joliet character set UCS-2: 1")
                    .isEmpty());
        QVERIFY(XorrisoBurner::parseFailure("xorriso : WARNING : -volid text does not comply to ISO 9660").isEmpty());

        const XorrisoBurner::Media m = XorrisoBurner::parseMedia("Drive current: -outdev 'stdio:/dev/loop3'\n"
                                                                 "Media current: stdio file, overwriteable\n"
                                                                 "Media status : is blank\n"
                                                                 "Media status : is blank\n"
                                                                 "Media space  : 2528s\n");
        QVERIFY(m.read);
        QCOMPARE(m.profile, QStringLiteral("stdio file"));
        QVERIFY(m.isBlank());
        QCOMPARE(m.freeBytes, qint64(2528) * 2048);
        QVERIFY(XorrisoBurner::isSuitable(m, true));
        QVERIFY(!XorrisoBurner::isSuitable(m, false));
        QCOMPARE(XorrisoBurner::parseImageSize("Image size   : 1696s\n"), 1696);

        // A written disc tells the space after its content; blanked first, it offers its whole
        // capacity (after a head of 32 blocks on overwriteable media); write-once media never.
        XorrisoBurner::Media written = XorrisoBurner::parseMedia("Media current: stdio file, overwriteable\n"
                                                                 "Media status : is written , is appendable\n"
                                                                 "Media blocks : 800 readable , 1760 writable , "
                                                                 "2560 overall\n"
                                                                 "Media space  : 1760s\n");
        QCOMPARE(written.overallBytes, qint64(2560) * 2048);
        QCOMPARE(written.writableBytes(false), qint64(1760) * 2048);
        QCOMPARE(written.writableBytes(true), qint64(2528) * 2048);
        QVERIFY(DiscBurnFlow::mediaText(written).contains(QLatin1String("erased before the burn: 5.2 MB free")));
        written.profile = QStringLiteral("CD-RW");
        QCOMPARE(written.writableBytes(true), qint64(2560) * 2048);
        written.profile = QStringLiteral("DVD-R sequential recording");
        QCOMPARE(written.writableBytes(true), qint64(1760) * 2048);
        QVERIFY(!DiscBurnFlow::blanksFirst(written));
        QCOMPARE(m.writableBytes(true), m.freeBytes);
    }
};

QTEST_GUILESS_MAIN(TestDiscBurnFlow)
#include "tst_discburnflow.moc"
