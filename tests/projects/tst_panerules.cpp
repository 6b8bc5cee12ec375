// kv-test: labels=unit timeout=60

// The rules the project panes share: names typed by the user, unique default names, status
// trimming and the agent bits after a settings sheet.

#include "projects/ProjectNames.h"
#include "projects/ScheduleFormRules.h"
#include "snapshot/IBackup3.h"

#include <QtTest>

class TestPaneRules : public QObject
{
    Q_OBJECT
private slots:
    void names_data();
    void names();
    void uniqueNames();
    void trimming();
    void agentBits_data();
    void agentBits();
    void scheduleClock_data();
    void scheduleClock();
    void scheduleIntervals();
};

void TestPaneRules::names_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("stored"); // null: refused, the old name stays
    QTest::newRow("slash") << "a/b"
                           << "a|b";
    QTest::newRow("dot-dot") << ".." << QString();
    QTest::newRow("empty") << "" << QString();
    QTest::newRow("leading dash") << "-x"
                                  << "_-x";
    QTest::newRow("plain") << "Docs"
                           << "Docs";
    QTest::newRow("300 bytes") << QString(300, QLatin1Char('n')) << QString(255, QLatin1Char('n'));
}

void TestPaneRules::names()
{
    QFETCH(QString, typed);
    QFETCH(QString, stored);
    const QString got = ProjectNames::fromInput(typed);
    QCOMPARE(got.isNull(), stored.isNull());
    QCOMPARE(got, stored);
    // The project folder name uses the same rule.
    if (!stored.isNull())
        QVERIFY(IBackup3::defaultFileName(typed, QStringLiteral("U")).startsWith(stored.left(200)));
}

void TestPaneRules::uniqueNames()
{
    QStringList taken { "Untitled", "Untitled1" };
    auto isUnique = [&](const QString& n) { return !taken.contains(n); };
    QCOMPARE(ProjectNames::makeUnique(QStringLiteral("Untitled"), isUnique), QStringLiteral("Untitled2"));
    QCOMPARE(ProjectNames::makeUnique(QStringLiteral("Docs"), isUnique), QStringLiteral("Docs"));
}

void TestPaneRules::trimming()
{
    QCOMPARE(ProjectNames::trimStatus(QStringLiteral("Done.")), QStringLiteral("Done"));
    QCOMPARE(ProjectNames::trimStatus(QStringLiteral("Working...")), QStringLiteral("Working..."));
    QCOMPARE(ProjectNames::trimStatus(QStringLiteral("Ready")), QStringLiteral("Ready"));
    QCOMPARE(ProjectNames::trimStatus(QString()), QStringLiteral(""));
}

void TestPaneRules::agentBits_data()
{
    QTest::addColumn<int>("bits");
    QTest::addColumn<bool>("wasScheduled");
    QTest::addColumn<bool>("isScheduled");
    QTest::addColumn<bool>("onMount");
    QTest::addColumn<bool>("wantsAgent");
    QTest::addColumn<bool>("autostart");
    QTest::addColumn<int>("after");
    QTest::addColumn<bool>("setAutostart");
    // Nothing changes: scheduled before, already needed, or neither scheduled nor on mount.
    QTest::newRow("was scheduled") << 0 << true << true << false << true << true << 0 << false;
    QTest::newRow("scheduled, agent needed") << 9 << false << true << false << true << true << 9 << false;
    QTest::newRow("nothing to start") << 0 << false << false << false << true << true << 0 << false;
    QTest::newRow("on mount, agent needed") << 9 << false << false << true << true << true << 9 << false;
    // Newly scheduled: the user's answer decides.
    QTest::newRow("newly scheduled, agent wanted")
        << 0 << false << true << false << true << true << 9 << true;
    QTest::newRow("newly scheduled, autostart refused")
        << 0 << false << true << false << true << false << 0 << true;
    QTest::newRow("newly scheduled, agent not wanted")
        << 4 << false << true << false << false << true << 0 << false;
    QTest::newRow("on mount, agent wanted") << 0 << false << false << true << true << true << 9 << true;
}

void TestPaneRules::agentBits()
{
    QFETCH(int, bits);
    AgentBitsInput in;
    in.bits = bits;
    QFETCH(bool, wasScheduled);
    QFETCH(bool, isScheduled);
    QFETCH(bool, onMount);
    QFETCH(bool, wantsAgent);
    QFETCH(bool, autostart);
    QFETCH(int, after);
    QFETCH(bool, setAutostart);
    in.wasScheduled = wasScheduled;
    in.isScheduled = isScheduled;
    in.processOnMount = onMount;
    in.userWantsAgent = wantsAgent;
    in.agentAutostart = autostart;
    const AgentBitsResult r = agentBitsAfterProperties(in);
    QCOMPARE(r.bits, after);
    QCOMPARE(r.setAutostart, setAutostart);
}

void TestPaneRules::scheduleClock_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<bool>("twelve");
    QTest::newRow("en_US") << "en_US" << true;
    QTest::newRow("en_GB") << "en_GB" << false;
    QTest::newRow("de_DE") << "de_DE" << false;
    QTest::newRow("C") << "C" << false;
    QTest::newRow("ko_KR") << "ko_KR" << false; // its AM/PM words are not "AM"/"PM"
}

void TestPaneRules::scheduleClock()
{
    using namespace ScheduleFormRules;
    QFETCH(QString, locale);
    QFETCH(bool, twelve);
    const QLocale l(locale);
    QCOMPARE(uses12HourClock(l, QTime(18, 30)), twelve);
    const QList<Item> hours = hourItems(twelve);
    QCOMPARE(hours.size(), twelve ? 12 : 24);
    QCOMPARE(hours.first().title, twelve ? QStringLiteral("12") : QStringLiteral("0"));
    if (twelve) {
        // 18:30 -> "6" PM; 00:15 -> "12" AM; PM with "12" stores 12.
        QCOMPARE(toForm(18, true).hourTag, 6);
        QVERIFY(toForm(18, true).pm);
        QCOMPARE(hours.at(toForm(0, true).hourTag).title, QStringLiteral("12"));
        QVERIFY(!toForm(0, true).pm);
        QCOMPARE(fromForm({ 0, true }, true), 12);
        QCOMPARE(fromForm({ 0, false }, true), 0);
        QCOMPARE(amPmItems(l).at(1).title, QStringLiteral("PM"));
    } else {
        QCOMPARE(fromForm(toForm(18, false), false), 18);
        QCOMPARE(hours.last().title, QStringLiteral("23"));
    }
}

void TestPaneRules::scheduleIntervals()
{
    using namespace ScheduleFormRules;
    int selected = -1;
    QList<Item> items = intervalItems(240, &selected);
    QCOMPARE(items.size(), 6);
    QCOMPARE(items.at(selected).title, QStringLiteral("4 hours"));
    // An interval not in the list stays selectable, so OK keeps it.
    items = intervalItems(45, &selected);
    QCOMPARE(items.size(), 7);
    QCOMPARE(items.at(selected).title, QStringLiteral("45 minutes"));
    QCOMPARE(items.at(selected).tag, 45);
    QCOMPARE(typeItems().first().tag, 4);
}

QTEST_GUILESS_MAIN(TestPaneRules)
#include "tst_panerules.moc"
