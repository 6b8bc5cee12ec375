#pragma once

#include "snapshot/IBackup3Controller.h"

#include <functional>

class DriverShellServices;

// The snapshot-backup pane as the headless driver provides it: texts go to the shell's router,
// the destination chooser and the image size prompt are answered Cancel (and logged), and the
// end of a run is handed to the driver.
class DriverBackup3Controller : public HeadlessBackup3Controller
{
public:
    explicit DriverBackup3Controller(DriverShellServices* shell);

    // Called with the result code of every finished run.
    void setFinishedHandler(std::function<void(int code)> handler) { m_finished = std::move(handler); }

    void eventProcessFinished(int code) override;
    bool chooseDestPathByUser(ILocation* location) override;
    void setNoSendTextInfo(bool flag) override { m_noSendTextInfo = flag; }
    void sendTextInfo(const QString& text, qint32 type, quint8 target, QObject* sender) override;
    bool getNewDICustomMaxSizeInGBByUserTo(double* value, double oldValue) override;

private:
    DriverShellServices* m_shell;
    std::function<void(int)> m_finished;
    bool m_noSendTextInfo = false;
};
