// kv-test: labels=unit
// kv-test: tsan=src/projects/IProcessCard.cpp
#include "projects/IProcessCard.h"

#include <QtTest>
#include <atomic>
#include <thread>

namespace {

const char* const kNewCard = "\nSTATE: \t   (0x000000) Empty "
                             "\nTASK:\t   (0x000000) Clear "
                             "\nPHASE:\t   (0x000000) Clear "
                             "\nREASON:\t   (0x000000) Clear "
                             "\nERRORS:\t   (0x000000) Clear "
                             "\nWARNINGS:  (0x000000) Clear "
                             "\nANALYTIC:  (0x000000) Clear ";

} // namespace

class TestProcessCard : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void newCard()
    {
        IProcessCard card;
        for (const ProcessCardFlag* flag : kProcessCardFlags) {
            QCOMPARE(card.isFlag(*flag), flag->value == 0);
            QCOMPARE(card.isOnlyFlag(*flag), flag->value == 0);
        }
        QCOMPARE(card.type(), 0);
        QCOMPARE(card.executiveProcess().pid, uint64_t(0));
    }

    void setAddRemove()
    {
        IProcessCard card;
        card.set(stateRunning);
        card.add(stateFinished);
        QCOMPARE(card.sector(ProcessCardSector::State), uint64_t(3));
        QVERIFY(!card.isOnlyFlag(stateRunning));
        QVERIFY(card.isFlag(stateFinished));
        QVERIFY(!card.isFlag(stateEmpty));
        card.set(stateFinished);
        QCOMPARE(card.sector(ProcessCardSector::State), uint64_t(2));
        QVERIFY(card.isOnlyFlag(stateFinished));

        card.add(warningRuntime);
        QCOMPARE(card.sector(ProcessCardSector::Warning), uint64_t(8));
        card.remove(reasonCompleted); // not set: nothing changes
        card.remove(stateRunning);
        QCOMPARE(card.sector(ProcessCardSector::State), uint64_t(2));
        QCOMPARE(card.sector(ProcessCardSector::Reason), uint64_t(0));
        card.remove(stateFinished);
        QVERIFY(card.isFlag(stateEmpty));

        // A sector number outside the seven changes nothing and reads as empty.
        card.addFlag(1, static_cast<ProcessCardSector>(7));
        QCOMPARE(card.sector(static_cast<ProcessCardSector>(7)), uint64_t(0));
    }

    void clearKeepsNameAndType()
    {
        IProcessCard card;
        card.setType(1);
        card.setExecutiveProcess(ExecutiveProcess::make(4242, QStringLiteral("rsync")));
        card.set(stateRunning);
        card.add(errorRuntime);
        card.clear();
        QCOMPARE(card.executiveProcess().pid, uint64_t(0));
        QCOMPARE(card.executiveProcess().name(), QStringLiteral("rsync"));
        QCOMPARE(card.type(), 1);
        for (int s = 0; s < kProcessCardSectorCount; ++s)
            QCOMPARE(card.sector(static_cast<ProcessCardSector>(s)), uint64_t(0));
    }

    void executiveName()
    {
        // At most 255 bytes, never ending inside a character.
        const QString longName = QStringLiteral("a") + QString(200, QChar(0xE9));
        const ExecutiveProcess p = ExecutiveProcess::make(1, longName);
        QCOMPARE(qstrlen(p.pname), uint(255));
        QCOMPARE(p.name(), longName.left(128));
    }

    void description_data()
    {
        QTest::addColumn<QList<const ProcessCardFlag*>>("added");
        QTest::addColumn<QString>("text");
        using F = QList<const ProcessCardFlag*>;
        const QString fresh = QString::fromLatin1(kNewCard);
        QTest::newRow("new card") << F {} << fresh;
        QTest::newRow("running finished")
            << F { &stateRunning, &stateFinished }
            << QString(fresh).replace(QStringLiteral("STATE: \t   (0x000000) Empty "),
                   QStringLiteral("STATE: \t   (0x000003) Running Finished "));
        QTest::newRow("task warning analytic")
            << F { &taskSnapshots, &taskAnalyze, &warningRuntime, &analyticSURClone, &analyticNoSupportClone }
            << QString(fresh)
                   .replace(QStringLiteral("TASK:\t   (0x000000) Clear "),
                       QStringLiteral("TASK:\t   (0x000030) Analyze Snapshots "))
                   .replace(QStringLiteral("WARNINGS:  (0x000000) Clear "),
                       QStringLiteral("WARNINGS:  (0x000008) RuntimeWarnings "))
                   .replace(QStringLiteral("ANALYTIC:  (0x000000) Clear "),
                       QStringLiteral("ANALYTIC:  (0x000060) SURClone NoSupportClone "));
    }

    void description()
    {
        QFETCH(QList<const ProcessCardFlag*>, added);
        QFETCH(QString, text);
        IProcessCard card;
        for (const ProcessCardFlag* flag : added)
            card.add(*flag);
        QCOMPARE(card.description().toUtf8(), text.toUtf8());
    }

    void onlyTableFlagsAreFlags()
    {
        for (const ProcessCardFlag* flag : kProcessCardFlags) {
            QVERIFY(IProcessCard::isProcessCardFlag(flag));
            QVERIFY(flag->value >= 0 && flag->value <= maxBitValue);
        }
        const ProcessCardFlag lookalike = stateRunning;
        QVERIFY(!IProcessCard::isProcessCardFlag(&lookalike));
        QVERIFY(!IProcessCard::isProcessCardFlag(nullptr));
    }

    // Reader threads and the main thread change the same sector at once: no bit may get lost.
    void concurrentFlagsLoseNoBit()
    {
        IProcessCard card;
        std::atomic<int> lost { 0 };
        auto worker = [&](const ProcessCardFlag& flag) {
            for (int i = 0; i < 1000000; ++i) {
                card.add(flag);
                if (!card.isFlag(flag))
                    lost.fetch_add(1);
                card.remove(flag);
                if (card.isFlag(flag))
                    lost.fetch_add(1);
            }
        };
        std::thread a(worker, std::cref(stateRunning));
        std::thread b(worker, std::cref(stateFinished));
        a.join();
        b.join();
        QCOMPARE(lost.load(), 0);
        QCOMPARE(card.sector(ProcessCardSector::State), uint64_t(0));
    }

    // The process record is never read half-written.
    void executiveProcessIsConsistent()
    {
        IProcessCard card;
        std::atomic<bool> done { false };
        std::atomic<int> torn { 0 };
        std::thread writer([&] {
            for (uint64_t i = 1; i <= 100000; ++i)
                card.setExecutiveProcess(ExecutiveProcess::make(i, QString::number(i)));
            done = true;
        });
        std::thread reader([&] {
            while (!done) {
                const ExecutiveProcess p = card.executiveProcess();
                if (p.pid != 0 && p.name() != QString::number(p.pid))
                    torn.fetch_add(1);
                (void)card.description();
            }
        });
        writer.join();
        reader.join();
        QCOMPARE(torn.load(), 0);
    }
};

QTEST_GUILESS_MAIN(TestProcessCard)
#include "tst_processcard.moc"
