// kv-test: labels=gui timeout=60

#include "Screenshot.h"
#include "platform/AppPaths.h"
#include "shell/dialogs/CCWellcomeWindowController.h"

#include <QtTest>
#include <QtWidgets>

class TestWelcomeWindow : public QObject
{
    Q_OBJECT
    QTemporaryDir m_config;

private Q_SLOTS:
    void initTestCase()
    {
        Screenshot::fixConditions();
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_config.path()));
        AppPaths::resetAppSettings();
    }

    void showsThePageAndKeepsTheChoice()
    {
        CCWellcomeWindowController window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QVERIFY(window.browser()->toPlainText().contains(QStringLiteral("Welcome to Kelvane Pro 3")));
        QVERIFY(!window.showAtStartBox()->isChecked());
        Screenshot::save(&window, QStringLiteral("controls"), QStringLiteral("welcome"),
            QStringLiteral("The welcome window with the page of the resources"));
        window.showAtStartBox()->click();
        QVERIFY(AppPaths::appSettings()->value(QStringLiteral("FTNeedShowWellcomeWindow")).toBool());
        QVERIFY(!CCWellcomeWindowController::isNeedShowWellcomeWindow());
        // written under the temporary configuration folder
        QDirIterator files(m_config.path(), QDir::Files, QDirIterator::Subdirectories);
        bool found = false;
        while (files.hasNext()) {
            QFile f(files.next());
            found
                = found || (f.open(QIODevice::ReadOnly) && f.readAll().contains("FTNeedShowWellcomeWindow"));
        }
        QVERIFY(found);
        QTest::keyClick(&window, Qt::Key_R, Qt::ControlModifier); // reload keeps the page
        QVERIFY(window.browser()->toPlainText().contains(QStringLiteral("Welcome to Kelvane Pro 3")));
    }
};

QTEST_MAIN(TestWelcomeWindow)
#include "tst_welcomewindow.moc"
