#pragma once

#include "shell/ILogWindow.h"
#include "shell/LogSink.h"
#include "utilities/IMessageUtil.h"
#include "utilities/IShellServices.h"

// The application shell as the headless driver provides it: texts go through the real log sink
// (the same lines, the same run log in the workspace), the log window is standard error, user
// notifications are not shown, and nothing is redrawn. The agent link, the preferences and the
// autostart file are never touched. The archive order list stays what the list file holds,
// because the list keeps the one it loaded when the shell gives none.
class IBackup;
class DriverShellServices : public HeadlessShellServices
{
public:
    DriverShellServices();
    ~DriverShellServices() override;

    void processMessage(const LogText& text, quint64 options, QObject* sender) override;
    void sendTextInfo(const QString& text, qint32 type, quint8 target, QObject* sender) override;
    // The cat tool's requests go to the archive project the run set here.
    void qv3CatFileRequestProcess() override;
    void qv3CatFileErrorProcess(const QString& path) override;
    void setArchiveInProcess(IBackup* project) { m_archive = project; }

private:
    // The log window: each line to standard error, as it comes.
    class StderrWindow : public ILogWindow
    {
    public:
        void appendLog(const QString& text) override;
    };
    // Notifications would reach the user's desktop: the driver shows none.
    class SilentNotifier : public IMessageUtil
    {
    public:
        void showLocalNotificationTitle(const QString&, const QString&) override { }
    };

    StderrWindow m_window;
    SilentNotifier m_notifier;
    LogSink m_sink;
    IBackup* m_archive = nullptr;
};
