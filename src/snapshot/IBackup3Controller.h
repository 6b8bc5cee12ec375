#pragma once

#include <QObject>
#include <QString>

class IBackup3;
class ILocation;

// What the snapshot-backup engine calls in the snapshot-backup pane: refreshes, the text router,
// run ends, the destination chooser, the image size prompt and new project identifiers. The pane
// registers its implementation at start-up with setShared(); programs without the pane get the
// headless default, which refreshes nothing, answers every prompt with Cancel and still hands out
// identifiers. Main thread only: code on reader threads reaches it through runOnMain.
class IBackup3Controller
{
public:
    virtual ~IBackup3Controller() = default;

    static IBackup3Controller& shared();
    // nullptr restores the headless default; the caller keeps ownership
    static void setShared(IBackup3Controller* controller);

    // The device list changed (mount watcher).
    virtual void eventDeviceListChanged() = 0;
    // One run ended: 0 success or nothing started, 1 failed, 3 warnings, 4 stopped by the user.
    virtual void eventProcessFinished(int code) = 0;
    // Lets the user choose an existing destination folder for the location; true when chosen.
    virtual bool chooseDestPathByUser(ILocation* location) = 0;
    // While set, texts sent to the pane are dropped; the run engine clears it at every run end.
    virtual void setNoSendTextInfo(bool flag) = 0;
    // Delivers a text to the pane's targets (tp bits of LogOptions.h).
    virtual void sendTextInfo(const QString& text, qint32 type, quint8 target, QObject* sender) = 0;
    // A new identifier in the upper-case standard text form.
    virtual QString generateUUID() = 0;

    virtual void eventProjectChanged() = 0;
    virtual void eventProjectPropertyChanged() = 0;
    virtual void eventProjectListChanged() = 0;
    virtual void eventChangedProjectStatus(IBackup3* project) = 0;
    virtual void setStatus(const QString& text, bool isLog, bool isStatus) = 0;
    virtual void setProcessState(double state) = 0;
    virtual void validateStatusString() = 0;
    virtual void validateProcessIndicator() = 0;

    // Asks for a custom maximum image size between 0.1 and 1,000,000 GB, starting at oldValue;
    // true and *value set when confirmed.
    virtual bool getNewDICustomMaxSizeInGBByUserTo(double* value, double oldValue) = 0;

    // The upper-case identifier every implementation hands out.
    static QString newUUIDString();
};

// The default for programs without the pane.
class HeadlessBackup3Controller : public IBackup3Controller
{
public:
    void eventDeviceListChanged() override { }
    void eventProcessFinished(int) override { }
    bool chooseDestPathByUser(ILocation*) override { return false; }
    void setNoSendTextInfo(bool) override { }
    void sendTextInfo(const QString&, qint32, quint8, QObject*) override { }
    QString generateUUID() override { return newUUIDString(); }
    void eventProjectChanged() override { }
    void eventProjectPropertyChanged() override { }
    void eventProjectListChanged() override { }
    void eventChangedProjectStatus(IBackup3*) override { }
    void setStatus(const QString&, bool, bool) override { }
    void setProcessState(double) override { }
    void validateStatusString() override { }
    void validateProcessIndicator() override { }
    bool getNewDICustomMaxSizeInGBByUserTo(double*, double) override { return false; }
};
