// kv-test: labels=gui env=TZ=Europe/Berlin
#include "KvTest.h"
#include "ScriptedClock.h"
#include "platform/Clock.h"
#include "projects/QVAgentState.h"
#include "shell/dialogs/IScheduleSuspendDialog.h"

#include <QApplication>
#include <QComboBox>
#include <QCursor>
#include <QDialogButtonBox>
#include <QPushButton>
#include <QtTest>

namespace {
// A controller as the hub and the agent are: it receives the chosen resume date.
class Controller : public QObject, public IScheduleSuspendController
{
public:
    QList<QDateTime> choices;
    void SSD_OkButton(IScheduleSuspendDialog& dialog) override { choices << dialog.scheduleResumeDate(); }
};
} // namespace

// The suspend panel driven offscreen, and the texts of the schedule menu items.
class TestScheduleSuspendDialog : public QObject
{
    Q_OBJECT
    const QDateTime m_ten { QDate(2026, 9, 14), QTime(10, 0, 0) };

    static void press(IScheduleSuspendDialog& dialog, QDialogButtonBox::StandardButton which)
    {
        auto* box = dialog.findChild<QDialogButtonBox*>();
        QVERIFY(box);
        QTest::mouseClick(box->button(which), Qt::LeftButton);
    }

private Q_SLOTS:
    void menuTexts_data()
    {
        QTest::addColumn<int>("bits");
        QTest::addColumn<bool>("withDate");
        QTest::addColumn<QString>("title");
        QTest::addColumn<int>("tag");
        QTest::addColumn<QString>("comment");
        const QString resume = QStringLiteral("Resume Scheduler"),
                      suspend = QStringLiteral("Suspend Scheduler...");
        const QString off = QStringLiteral("Scheduler is not active"),
                      on = QStringLiteral("Scheduler is active");
        const QString until = QStringLiteral("Scheduler was suspended until 15 Sept 2026, 10:00:00");
        QTest::newRow("0") << 0 << false << resume << 2 << off;
        QTest::newRow("1") << 1 << false << suspend << 1 << on;
        QTest::newRow("2") << 2 << false << resume << 2 << off;
        QTest::newRow("1|2") << 3 << false << resume << 2 << QStringLiteral("Scheduler was suspended until ");
        QTest::newRow("1|2 with date") << 3 << true << resume << 2 << until;
        QTest::newRow("1|4") << 5 << false << suspend << 1 << on;
        QTest::newRow("1|4 with date") << 5 << true << suspend << 1 << on;
        QTest::newRow("4") << 4 << false << resume << 2 << off;
        QTest::newRow("2|4 with date") << 6 << true << resume << 2 << off;
    }
    void menuTexts()
    {
        QFETCH(int, bits);
        QFETCH(bool, withDate);
        QFETCH(QString, title);
        QFETCH(int, tag);
        QFETCH(QString, comment);
        QVAgentState state;
        state.set(bits, 0, withDate ? m_ten.addDays(1) : QDateTime());
        QCOMPARE(IScheduleSuspendDialog::scheduleEnabledToggleItemTitle(state), title);
        QCOMPARE(IScheduleSuspendDialog::scheduleEnabledToggleItemTag(state), tag);
        QCOMPARE(IScheduleSuspendDialog::scheduleEnabledCommentItemTitle(state), comment);
    }

    void dateTexts()
    {
        for (const QDateTime& none : { QDateTime(), QDateTime::fromSecsSinceEpoch(0) }) {
            QVERIFY(IScheduleSuspendDialog::localStringFromDateTime(none).isNull());
            QVERIFY(IScheduleSuspendDialog::generalStringFromDateTime(none).isNull());
        }
        QVERIFY(!IScheduleSuspendDialog::localStringFromDateTime(m_ten).isEmpty());
        QCOMPARE(IScheduleSuspendDialog::generalStringFromDateTime(m_ten),
            QStringLiteral("14 Sept 2026, 10:00:00"));
    }

    void choices_data()
    {
        QTest::addColumn<QString>("choice");
        QTest::addColumn<QDialogButtonBox::StandardButton>("button");
        QTest::addColumn<QList<QDateTime>>("received");
        const QDateTime ten(QDate(2026, 9, 14), QTime(10, 0, 0));
        QTest::newRow("30 minutes") << "30 minutes" << QDialogButtonBox::Ok
                                    << QList<QDateTime> { ten.addSecs(1800) };
        QTest::newRow("3 days") << "3 days" << QDialogButtonBox::Ok << QList<QDateTime> { ten.addDays(3) };
        QTest::newRow("unlimited") << "unlimited time" << QDialogButtonBox::Ok
                                   << QList<QDateTime> { QDateTime() };
        QTest::newRow("cancel") << "1 hour" << QDialogButtonBox::Cancel << QList<QDateTime> {};
    }
    void choices()
    {
        QFETCH(QString, choice);
        QFETCH(QDialogButtonBox::StandardButton, button);
        QFETCH(QList<QDateTime>, received);
        ScriptedClock clock(m_ten);
        Clock::setCurrent(&clock);
        IScheduleSuspendDialog dialog;
        Controller controller;
        QCOMPARE(dialog.suspendSchedulingPopup()->count(), 8);
        dialog.showWithController(&controller, false);
        QVERIFY(dialog.isVisible());
        QVERIFY(dialog.isScheduleEnebled());
        dialog.suspendSchedulingPopup()->setCurrentText(choice);
        QCOMPARE(dialog.suspendSchedulingPopup()->currentText(), choice);
        press(dialog, button);
        QVERIFY(!dialog.isVisible());
        QCOMPARE(controller.choices, received);
        QCOMPARE(dialog.isScheduleEnebled(), button == QDialogButtonBox::Cancel);
        Clock::setCurrent(nullptr);
    }

    void escapeCancelsAndOtherObjectsAreNotCalled()
    {
        IScheduleSuspendDialog dialog;
        Controller controller;
        dialog.showWithController(&controller, false);
        QTest::keyClick(&dialog, Qt::Key_Escape);
        QVERIFY(!dialog.isVisible());
        QVERIFY(controller.choices.isEmpty());
        // A controller that does not take the choice: the date is kept, nothing is called.
        QObject plain;
        dialog.showWithController(&plain, false);
        dialog.okButton();
        QVERIFY(!dialog.isVisible());
        QVERIFY(dialog.scheduleResumeDate().isValid());
    }

    void placedAtThePointer_data()
    {
        QTest::addColumn<bool>("down");
        QTest::newRow("at") << false;
        QTest::newRow("down") << true;
    }
    void placedAtThePointer()
    {
        QFETCH(bool, down);
        IScheduleSuspendDialog dialog;
        QCursor::setPos(200, 300);
        QCOMPARE(QCursor::pos(), QPoint(200, 300));
        dialog.showWithController(nullptr, down);
        QVERIFY(dialog.isVisible());
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Suspend all processes"));
        QVERIFY(dialog.windowFlags() & Qt::WindowStaysOnTopHint);
        const QSize size = dialog.size();
        QCOMPARE(dialog.pos(), QPoint(200 - size.width() / 2, 300 + (down ? size.height() : 0)));
        dialog.cancelButton();
    }
};

QTEST_MAIN(TestScheduleSuspendDialog)
#include "tst_schedulesuspenddialog.moc"
