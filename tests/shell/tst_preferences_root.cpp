// kv-test: labels=root,gui timeout=120 fixtures=kv_loop_cleanup env=DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent
// The preferences' temporary folder on a read-only bind mount: root may write into any folder
// of a writable file system (a 0555 folder passes), but not there. The chooser is offered; a
// folder still read-only switches the custom folder off.
#include "../utilities/WorkspaceFixture.h"
#include "LoopImage.h"
#include "RecordingShellServices.h"
#include "ScopedMount.h"
#include "ScriptedUiPrompts.h"
#include "TempTree.h"
#include "shell/IBPreferencesController.h"
#include "shell/IPreferencesHub.h"

#include <QtTest>
#include <QtWidgets>

namespace {
class QuietHub : public IPreferencesHub
{
public:
    bool removeAgentIfNeed() override { return true; }
    bool isAgentWorking() override { return false; }
    void startAgent() override { }
    void sendCMWithActiveDatas() override { }
    bool automaticallyChecksForUpdates() override { return false; }
    void setAutomaticallyChecksForUpdates(bool) override { }
    double updateCheckInterval() override { return 86400; }
    void setUpdateCheckInterval(double) override { }
};
} // namespace

class TestPreferencesRoot : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void readOnlyTemporaryFolder()
    {
        if (!KvTest::isRoot())
            QSKIP("bind mounts need root");
        WorkspaceFixture home;
        RecordingShellServices shell;
        ShellServicesScope scope(&shell);
        MainPreferences::shared().loadPreferences();
        TempTree tree(QStringLiteral("rotmp"));
        QVERIFY(tree.mkdir("locked", 0555));
        QVERIFY(IBPreferencesController::isWritableFolder(tree.filePath(QStringLiteral("locked"))));
        QVERIFY(tree.mkdir("source"));
        ScopedMount bind;
        const QString target = LoopImage::loopRoot() + QStringLiteral("/prefs-ro");
        QVERIFY2(bind.mount({ QStringLiteral("--bind"), tree.filePath(QStringLiteral("source")) }, target),
            qPrintable(bind.errorString()));
        QString out;
        QVERIFY2(LoopImage::runTool(QStringLiteral("mount"),
                     { QStringLiteral("-o"), QStringLiteral("remount,bind,ro"), target }, &out),
            qPrintable(out));
        QVERIFY(!IBPreferencesController::isWritableFolder(target));

        QuietHub hub;
        IBPreferencesController d(hub);
        d.setupDialog();
        d.show();
        QVERIFY(QTest::qWaitForWindowExposed(&d));
        d.customTmpFolder()->setText(target);
        ScriptedUiPrompts prompts;
        prompts.expectFolder(target); // the user picks the same folder again
        d.useCustomTmpFolder()->setChecked(true);
        QCOMPARE(prompts.folderRequests.size(), 1);
        QVERIFY(!d.useCustomTmpFolder()->isChecked());
        d.hide();
    }
};

QTEST_MAIN(TestPreferencesRoot)
#include "tst_preferences_root.moc"
