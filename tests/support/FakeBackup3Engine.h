#pragma once

#include "snapshot/IBackup3Engine.h"

#include <QList>
#include <QString>
#include <memory>

class IBackup3;

// A run engine for tests of the snapshot-backup list: it records each project it is asked to
// run and keeps it "running" (operation state 12, or 2 for a restore) until the test calls
// finish(). With failStart set, a run does not start and the project is idle again at once.
class FakeBackup3Engine : public IBackup3Engine
{
public:
    struct Started
    {
        std::shared_ptr<IBackup3> project;
        bool restore = false;
        bool bySchedule = false;
        QString runTag;
    };

    QList<Started> started;
    bool failStart = false;
    bool toolFound = true;
    int terminations = 0;
    QList<int> terminationReasons;
    int preprocessFailures = 0;

    // Ends the current run with a result code as the real engine would: idle state, the pane told.
    void finish(int code = 0);

    void processProject(const std::shared_ptr<IBackup3>& project) override;
    bool terminateProcess() override;
    bool terminateProcessWithReason(int reason) override;
    void preprocessFailed() override;
    std::shared_ptr<IBackup3> backup3() const override { return m_current; }
    bool canWork() const override { return toolFound; }

private:
    std::shared_ptr<IBackup3> m_current;
};
