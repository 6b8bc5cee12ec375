#pragma once

#include "snapshot/IBackup3Controller.h"

#include <QList>
#include <QStringList>
#include <optional>

// A snapshot-backup pane that records every call, for tests. Install it with
// IBackup3Controller::setShared(&fake) or hand it to the list with setInterfaceController.
// Main thread only, like the pane. Each run end is recorded with the thread it arrived on.
class RecordingBackup3Controller : public IBackup3Controller
{
public:
    struct TextInfo
    {
        QString text;
        qint32 type = 0;
        quint8 target = 0;
        QObject* sender = nullptr;
    };

    // Answers the fake gives.
    QString nextUUID; // handed out once when set, else a real new one
    bool chooseAnswer = false;
    QString choosePath; // with chooseAnswer: the folder the location is set up with
    std::optional<double> sizeAnswer; // confirmed value, or cancel

    QList<int> finishedCodes;
    QList<bool> finishedOnMainThread;
    QList<TextInfo> texts;
    QList<IBackup3*> statusChanges;
    QStringList calls; // every other call, as "name" or "name:argument"
    bool noSendTextInfo = false;

    void clear();

    void eventDeviceListChanged() override { calls << QStringLiteral("eventDeviceListChanged"); }
    void eventProcessFinished(int code) override;
    bool chooseDestPathByUser(ILocation*) override;
    void setNoSendTextInfo(bool flag) override;
    void sendTextInfo(const QString& text, qint32 type, quint8 target, QObject* sender) override;
    QString generateUUID() override;
    void eventProjectChanged() override { calls << QStringLiteral("eventProjectChanged"); }
    void eventProjectPropertyChanged() override { calls << QStringLiteral("eventProjectPropertyChanged"); }
    void eventProjectListChanged() override { calls << QStringLiteral("eventProjectListChanged"); }
    void eventChangedProjectStatus(IBackup3* project) override { statusChanges << project; }
    void setStatus(const QString& text, bool isLog, bool isStatus) override;
    void setProcessState(double state) override;
    void validateStatusString() override { calls << QStringLiteral("validateStatusString"); }
    void validateProcessIndicator() override { calls << QStringLiteral("validateProcessIndicator"); }
    bool getNewDICustomMaxSizeInGBByUserTo(double* value, double oldValue) override;
};

// Installs a pane for the life of the scope and restores the headless default afterwards.
class Backup3ControllerScope
{
public:
    explicit Backup3ControllerScope(IBackup3Controller* c) { IBackup3Controller::setShared(c); }
    ~Backup3ControllerScope() { IBackup3Controller::setShared(nullptr); }
    Backup3ControllerScope(const Backup3ControllerScope&) = delete;
    Backup3ControllerScope& operator=(const Backup3ControllerScope&) = delete;
};
