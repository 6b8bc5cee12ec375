// kv-test: labels=gui timeout=120

#include "Screenshot.h"
#include "WhenOpen.h"
#include "shell/dialogs/Beep.h"
#include "shell/dialogs/IQVNumberField.h"
#include "shell/dialogs/WidgetUiPrompts.h"
#include "utilities/LocaleNumbers.h"

#include <QtTest>
#include <QtWidgets>

namespace {
QLocale locale(const QString& name)
{
    return QLocale(name);
}
} // namespace

class TestNumberFields : public QObject
{
    Q_OBJECT
    int m_beeps = 0;

private Q_SLOTS:
    void initTestCase()
    {
        Screenshot::fixConditions();
        Beep::setHook([this] { ++m_beeps; });
    }
    void init()
    {
        m_beeps = 0;
        QLocale::setDefault(QLocale(QStringLiteral("en_US")));
    }

    void parsing_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("number");
        QTest::addColumn<double>("value");
        QTest::newRow("en point") << "en_US"
                                  << "1.5" << true << 1.5;
        QTest::newRow("en comma is no decimal") << "en_US"
                                                << "1,5" << false << 0.0;
        QTest::newRow("de comma") << "de_DE"
                                  << "1,5" << true << 1.5;
        QTest::newRow("de point is no decimal") << "de_DE"
                                                << "1.5" << false << 0.0;
        QTest::newRow("de trailing comma") << "de_DE"
                                           << "1," << true << 1.0;
        QTest::newRow("de text left over") << "de_DE"
                                           << "12,5x" << false << 0.0;
        QTest::newRow("fr comma") << "fr_FR"
                                  << "2,25" << true << 2.25;
        QTest::newRow("fr grouping is no number")
            << "fr_FR" << QString::fromUtf8("1\u202f234,5") << false << 0.0;
        QTest::newRow("blank") << "en_US"
                               << "" << false << 0.0;
    }
    void parsing()
    {
        QFETCH(QString, locale);
        QFETCH(QString, text);
        QFETCH(bool, number);
        double v = -1;
        QCOMPARE(LocaleNumbers::localeStringToDouble(text, &v, 0, 0, ::locale(locale)), number);
        if (number)
            QTEST(v, "value");
        else
            QCOMPARE(v, -1.0); // left alone
    }

    void renderingAndGrouping()
    {
        QCOMPARE(
            LocaleNumbers::floatString(1234.5, locale(QStringLiteral("de_DE"))), QStringLiteral("1234,5"));
        QCOMPARE(
            LocaleNumbers::floatString(1234.5, locale(QStringLiteral("en_US"))), QStringLiteral("1234.5"));
        QCOMPARE(
            LocaleNumbers::floatString(1234.56, locale(QStringLiteral("fr_FR"))), QStringLiteral("1234,6"));
        const QLocale de = locale(QStringLiteral("de_DE"));
        QCOMPARE(LocaleNumbers::removeGropingSeparatorsFrom(QStringLiteral("1.000,5"), true, de),
            QStringLiteral("1000,5"));
        QCOMPARE(LocaleNumbers::removeGropingSeparatorsFrom(QStringLiteral("1.000,5"), false, de),
            QStringLiteral("1000.5"));
        QCOMPARE(LocaleNumbers::removeGropingSeparatorsFrom(
                     QString::fromUtf8("1\u202f234,5"), true, locale(QStringLiteral("fr_FR"))),
            QStringLiteral("1234,5"));
        // clamping happens only with a range
        double v = 0;
        QVERIFY(LocaleNumbers::localeStringToDouble(QStringLiteral("150"), &v, 0, 100, de));
        QCOMPARE(v, 100.0);
        qint64 n = 0;
        QVERIFY(LocaleNumbers::localeStringToInteger(QStringLiteral("-7"), &n, 1, 10));
        QCOMPARE(n, 1);
        QVERIFY(!LocaleNumbers::localeStringToInteger(QStringLiteral("1,5"), &n, 1, 10));
    }

    void checkCodes()
    {
        IQVNumberField field;
        field.setLocale(locale(QStringLiteral("de_DE")));
        field.setFloatModeMin(1, 100);
        QCOMPARE(field.isNumberOkInString(QStringLiteral("12,5")), int(IQVNumberField::NumberOk));
        QCOMPARE(field.isNumberOkInString(QStringLiteral("12,5x")), int(IQVNumberField::NotANumber));
        QCOMPARE(field.isNumberOkInString(QStringLiteral("100,5")), int(IQVNumberField::AboveMaximum));
        QCOMPARE(field.isNumberOkInString(QStringLiteral("0,5")), int(IQVNumberField::BelowMinimum));
        field.setText(QStringLiteral("100,5"));
        field.changeNumberFieldData();
        QCOMPARE(field.floatValue(), 100.0);
        QCOMPARE(field.text(), QStringLiteral("100,0"));
    }

    void modesAndLocale()
    {
        IQVNumberField field;
        field.setLocale(locale(QStringLiteral("en_US")));
        field.setFloatValue(50);
        field.setIntModeMin(1, 10);
        QCOMPARE(field.integerValue(), 10);
        QCOMPARE(field.text(), QStringLiteral("10"));
        field.setFloatModeMin(-5, 5);
        field.setFloatValue(1.5);
        QCOMPARE(field.text(), QStringLiteral("1.5"));
        field.setLocale(locale(QStringLiteral("de_DE")));
        QCOMPARE(field.text(), QStringLiteral("1,5"));
        field.setFloatValue(1234.5);
        field.setFloatModeMin(-1e7, 1e7);
        field.setFloatValue(1234.5);
        QCOMPARE(field.text(), QStringLiteral("1234,5")); // no grouping
    }

    void typing()
    {
        QWidget window;
        auto* layout = new QVBoxLayout(&window);
        auto* field = new IQVNumberField(&window);
        auto* other = new QLineEdit(&window);
        layout->addWidget(field);
        layout->addWidget(other);
        field->setIntModeMin(5, 100);
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        field->setFocus();
        field->selectAll();
        QTest::keyClicks(field, QStringLiteral("abc"));
        QCOMPARE(m_beeps, 3); // each letter refused
        QCOMPARE(field->text(), QStringLiteral("5"));
        QTest::keyClick(field, Qt::Key_End);
        QTest::keyClick(field, Qt::Key_Backspace); // deleting is never refused
        QCOMPARE(field->text(), QString());
        QTest::keyClicks(field, QStringLiteral("10")); // "1" is below the minimum, yet may be typed
        QCOMPARE(field->text(), QStringLiteral("10"));
        QTest::keyClicks(field, QStringLiteral("00")); // above the maximum: kept while typing
        QCOMPARE(field->text(), QStringLiteral("1000"));
        other->setFocus();
        QTRY_COMPARE(field->integerValue(), 100); // clamped when editing ends
        QCOMPARE(field->text(), QStringLiteral("100"));

        // a no-stop-exit field takes what it can read, clamped
        field->setNoStopExit(true);
        field->setFocus();
        field->setText(QStringLiteral("abc"));
        other->setFocus();
        QTRY_COMPARE(field->text(), QStringLiteral("5"));
        QCOMPARE(field->integerValue(), 5);
    }

    void sheetUnderGerman()
    {
        QLocale::setDefault(QLocale(QStringLiteral("de_DE")));
        QDialog sheet;
        sheet.setWindowTitle(QStringLiteral("Settings"));
        auto* form = new QFormLayout(&sheet);
        auto* field = new IQVNumberField(&sheet);
        field->setFloatModeMin(0, 1000);
        auto* next = new QLineEdit(&sheet);
        form->addRow(QStringLiteral("Keep versions for (days):"), field);
        form->addRow(QStringLiteral("Comment:"), next);
        int actions = 0;
        connect(field, &IQVNumberField::numberChanged, this, [&] { ++actions; });
        sheet.show();
        QVERIFY(QTest::qWaitForWindowActive(&sheet));
        field->setFocus();
        field->selectAll();
        QTest::keyClicks(field, QStringLiteral("12,5"));
        QTest::keyClick(field, Qt::Key_Tab);
        QTRY_COMPARE(field->floatValue(), 12.5);
        QCOMPARE(actions, 1);
        QCOMPARE(field->text(), QStringLiteral("12,5"));

        field->setFocus();
        field->setText(QStringLiteral("abc")); // pasted text that is no number
        m_beeps = 0;
        QTest::keyClick(field, Qt::Key_Tab);
        QTest::qWait(50);
        QCOMPARE(m_beeps, 1);
        QVERIFY(field->hasFocus());
        QCOMPARE(field->floatValue(), 12.5);
        QCOMPARE(actions, 1);
        field->setText(QStringLiteral("7,5"));
        Screenshot::save(&sheet, QStringLiteral("controls"), QStringLiteral("number-field-de"),
            QStringLiteral("A decimal field under German settings"));
        QTest::keyClick(field, Qt::Key_Escape); // Escape still closes the sheet
        QTRY_VERIFY(!sheet.isVisible());
        QCOMPARE(sheet.result(), int(QDialog::Rejected));
    }

    // A number asked through the prompts: the typed value, clamped; Cancel gives nothing.
    void numberPrompt()
    {
        WidgetUiPrompts prompts;
        UiPrompts::NumberRequest request;
        request.title = QStringLiteral("Disk image size");
        request.prompt = QStringLiteral("New size in GB:");
        request.value = 20;
        request.minimum = 10;
        request.maximum = 500;
        whenOpen<QDialog>([](QDialog* d) {
            auto* field = d->findChild<IQVNumberField*>();
            field->selectAll();
            QTest::keyClicks(field, QStringLiteral("900"));
            d->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
        });
        QCOMPARE(prompts.askNumber(request), std::optional<double>(500));
        whenOpen<QDialog>([](QDialog* d) { d->reject(); });
        QVERIFY(!prompts.askNumber(request));
    }
};

QTEST_MAIN(TestNumberFields)
#include "tst_numberfields.moc"
