#pragma once

#include <QObject>
#include <QString>

class ISynchron;

// What the synchronization engine and the shell call in the synchronization pane: the events of
// the project lists, the text router, the status line and the run controls, the analysis view,
// and the clone pre-flight check. It is also the interface controller of a run. The pane
// registers its implementation at start-up with setShared(); programs without the pane get the
// headless default, which redraws nothing and answers the pre-flight check with "not checked".
// Main thread only.
class ISynchronizeController
{
public:
    virtual ~ISynchronizeController() = default;

    static ISynchronizeController& shared();
    // nullptr restores the headless default; the caller keeps ownership
    static void setShared(ISynchronizeController* controller);

    // Events with the codes of the panes (3 list changed, 4 list rebuilt or current changed, 5
    // colour, 6 places or properties, 8 run finished, 9 the application is closing, 10 volume list,
    // 11 a volume was unmounted).
    virtual void eventProjectChanged(int code) = 0;
    virtual void eventProjectPropertyChanged(int code) = 0;
    virtual void eventProjectListChanged(int code) = 0;
    virtual void eventChangedProjectStatus(ISynchron* project) = 0;
    // A run ended: 0 success, 1 failed, 3 warnings, 4 stopped by the user.
    virtual void eventProcessFinished(int code) = 0;
    virtual void eventAppClosing(int code) = 0;

    // Delivers a text to the pane's targets (tp bits of LogOptions.h).
    virtual void sendTextInfo(const QString& text, qint32 type, quint8 target, QObject* sender) = 0;
    virtual void validateStatusString() = 0;
    virtual void validateButtons() = 0;
    virtual void processIndicator() = 0;
    virtual void volumeBaseUpdated() = 0;
    // While set, texts sent to the pane are dropped; a run clears it at its end.
    virtual void setNoSendTextInfo(bool flag) = 0;

    // The analysis view and its controls.
    virtual void setSyncAnalyzeEnabled(bool enabled) = 0;
    virtual void setSyncAnalyzeProcess(bool inProcess) = 0;
    virtual void sendAnalyzeInfo(const QString& text, quint32 status) = 0;
    virtual void stopAnalyze(ISynchron* project) = 0;
    virtual void clearAnalyzeView() = 0;

    // The clone pre-flight check: true when the clone may run; *text tells why not (or what to
    // know). show: the result is shown in the pane.
    virtual bool analyzeClone(ISynchron* project, bool show, QString* text) = 0;
};

// The default for programs without the pane.
class HeadlessSynchronizeController : public ISynchronizeController
{
public:
    void eventProjectChanged(int) override { }
    void eventProjectPropertyChanged(int) override { }
    void eventProjectListChanged(int) override { }
    void eventChangedProjectStatus(ISynchron*) override { }
    void eventProcessFinished(int) override { }
    void eventAppClosing(int) override { }
    void sendTextInfo(const QString&, qint32, quint8, QObject*) override { }
    void validateStatusString() override { }
    void validateButtons() override { }
    void processIndicator() override { }
    void volumeBaseUpdated() override { }
    void setNoSendTextInfo(bool) override { }
    void setSyncAnalyzeEnabled(bool) override { }
    void setSyncAnalyzeProcess(bool) override { }
    void sendAnalyzeInfo(const QString&, quint32) override { }
    void stopAnalyze(ISynchron*) override { }
    void clearAnalyzeView() override { }
    // Without the pane no check can run: a clone is not confirmed (the run driver installs its own
    // controller with the real verdict).
    bool analyzeClone(ISynchron* project, bool show, QString* text) override;
};
