// kv-test: labels=unit
#include "../utilities/WorkspaceFixture.h"
#include "KvTest.h"
#include "platform/PlistBridge.h"
#include "projects/QVAgentStatePrefs.h"
#include "utilities/MainPreferences.h"

#include <QtTest>

// The scheduler state object round-trips through QVPrefs.plist, in the form it reads itself.
class TestQVAgentStatePrefs : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void roundTrip()
    {
        WorkspaceFixture home;
        QVAgentState state;
        QVAgentStatePrefs link(state);
        MainPreferences::shared().setAgentState(&link);
        const QDateTime resume
            = QDateTime::currentDateTime().addDays(2).addMSecs(-QTime::currentTime().msec());
        state.set(QVAgentState::ScheduleOn | QVAgentState::Suspended | QVAgentState::AgentNeeded, 812345678.5,
            resume);
        QVERIFY(MainPreferences::shared().savePreferences());

        const QVariant stored
            = PlistBridge::readFile(home.prefsFile()).map().value(QStringLiteral("AgentState"));
        QVAgentState fromFile;
        QVERIFY(fromFile.setFromPrefsValue(stored));
        QCOMPARE(fromFile.getInt(), state.getInt());
        QCOMPARE(fromFile.modifyInterval(), 812345678.5);
        QCOMPARE(fromFile.scheduleResumeDate().toSecsSinceEpoch(), resume.toSecsSinceEpoch());

        QVAgentState reloaded;
        QVAgentStatePrefs reloadLink(reloaded);
        WorkspaceFixture::resetSingletons();
        MainPreferences::shared().setAgentState(&reloadLink);
        QVERIFY(MainPreferences::shared().loadPreferences());
        QCOMPARE(reloaded.getInt(), state.getInt());
        QCOMPARE(reloaded.scheduleResumeDate().toSecsSinceEpoch(), resume.toSecsSinceEpoch());
        MainPreferences::shared().setAgentState(nullptr);
    }
};

QTEST_GUILESS_MAIN(TestQVAgentStatePrefs)
#include "tst_qvagentstateprefs.moc"
