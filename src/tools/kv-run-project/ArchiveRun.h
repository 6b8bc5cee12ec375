#pragma once

#include "RunOptions.h"

#include <QString>

// "--kit archive": creates an archive project (--new), or builds or restores one of the
// workspace headless, as the archive pane and the run queue would.
class ArchiveRun
{
public:
    explicit ArchiveRun(const RunOptions& options);
    // 0 success, 1 failed, 2 not started, 3 warnings, 4 stopped, 5 nothing to do.
    int exec();
    QString lastLine() const { return m_last; }

private:
    int createProject();
    int runProject();
    int runTriggerCheck();
    int notStarted(const QString& why);

    RunOptions m_options;
    QString m_last;
};
