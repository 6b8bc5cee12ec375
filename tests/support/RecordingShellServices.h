#pragma once

#include "utilities/IShellServices.h"

#include <QByteArray>
#include <QList>
#include <QMutex>
#include <QStringList>

// A shell that records every call, for tests. Install it with IShellServices::setShared(&fake)
// (the ShellServicesScope helper below restores the default at the end of the test).
// Thread-safe: the log sink and the text router are called from reader threads.
class RecordingShellServices : public IShellServices
{
public:
    struct Message
    {
        QByteArray text; // UTF-8; null when the caller passed a null text
        quint64 options = 0;
        QObject* sender = nullptr;
    };
    struct TextInfo
    {
        QString text;
        qint32 type = 0;
        quint8 target = 0;
        QObject* sender = nullptr;
    };

    // Answers the fake gives.
    bool closing = false;
    bool startedByAgent = false;
    bool burnResult = false;
    QVariantList projectOrder; // appended by saveProjectOrderListToDict
    QDateTime nextDate;
    IBackup* current = nullptr;

    QList<Message> messages() const;
    QList<TextInfo> textInfos() const;
    // Every other call, as "name" or "name:argument", in call order.
    QStringList calls() const;
    void clear();

    void processMessage(const LogText& text, quint64 options, QObject* sender) override;
    void sendTextInfo(const QString& text, qint32 type, quint8 target, QObject* sender) override;
    QWindow* window() override { return nullptr; }
    void funcSelectorRedraw() override { record("funcSelectorRedraw"); }
    void eventChangedProjectStatus(IProject* project) override;
    void DIIProcessIndicatorPositionCollect(IProject* project) override;
    void DIITEvent() override { record("DIITEvent"); }
    void validateProcessIndicator() override { record("validateProcessIndicator"); }
    void validateStatusString() override { record("validateStatusString"); }
    IBackup* currentBackup() override { return current; }
    IBackup* getViewIBackup() override { return current; }
    void reloadContentViewData(IBackup*) override { record("reloadContentViewData"); }
    void eventChangedCurrentBackup() override { record("eventChangedCurrentBackup"); }
    void registerStartRestore() override { record("registerStartRestore"); }
    void registerStopRestore() override { record("registerStopRestore"); }
    bool burnDisc(int volume) override;
    bool toastDisc(int volume) override;
    bool isWindowClosing() override { return closing; }
    bool isStartedByAgent() override { return startedByAgent; }
    void validateDeviceMount(const QString& devicePath) override;
    void volumeBaseUpdated() override { record("volumeBaseUpdated"); }
    void qv3CatFileRequestProcess() override { record("qv3CatFileRequestProcess"); }
    // Recorded as "connectMessageProcess:<type>".
    void connectMessageProcess(const QVConnectMessage& message) override;
    void validateScheduleSuspenderControls() override { record("validateScheduleSuspenderControls"); }
    void SSD_OkButton(const std::optional<QDateTime>& resumeDate) override;
    QDateTime nextGlobalProcessDate() override { return nextDate; }
    void prepareDataForNextScheduleProcess() override { record("prepareDataForNextScheduleProcess"); }
    void saveProjectOrderListToDict(QVariantList& list) override;
    void setSandboxFirstNotNormalMigration(bool flag) override;
    void qv3CatFileErrorProcess(const QString& path) override { record("qv3CatFileErrorProcess:" + path); }
    void saveMainState() override { record("saveMainState"); }
    void appendToWinLog(const QString& text) override { record("appendToWinLog:" + text); }

private:
    void record(const QString& call);

    mutable QMutex m_mutex;
    QList<Message> m_messages;
    QList<TextInfo> m_textInfos;
    QStringList m_calls;
};

// Installs a shell for the life of the scope and restores the headless default afterwards.
class ShellServicesScope
{
public:
    explicit ShellServicesScope(IShellServices* services) { IShellServices::setShared(services); }
    ~ShellServicesScope() { IShellServices::setShared(nullptr); }
    ShellServicesScope(const ShellServicesScope&) = delete;
    ShellServicesScope& operator=(const ShellServicesScope&) = delete;
};
