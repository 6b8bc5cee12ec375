#pragma once

#include "utilities/UiPrompts.h"

#include <QDialog>
#include <QTimer>

class QLabel;
class QProgressBar;
class MountWatcher;

// Waits for the volume of a location to be mounted before a run goes on: a countdown with OK
// and Cancel. Answers 1 once the location reports itself active (asked when the window opens,
// on every mount and on every tick, so a mount just before the window opened is seen too),
// 1 on OK, 0 on Cancel or closing, -1 when the time ran out.
class ILocationDialog : public QDialog
{
    Q_OBJECT
public:
    explicit ILocationDialog(QWidget* parent = nullptr);
    ~ILocationDialog() override;

    int executeLocation(const UiPrompts::VolumeWaitRequest& request);

    // The length of one countdown step (1 s); tests shorten it.
    static void setTickIntervalMs(int ms);
    static QString deviceIconName(int deviceType);

    int remaining() const { return m_restTime; }
    QLabel* timerLabel() const { return m_timerLabel; }

private:
    void tick();
    void checkActive();
    void showRemaining();

    QLabel* m_icon = nullptr;
    QLabel* m_location = nullptr;
    QLabel* m_timerLabel = nullptr;
    QProgressBar* m_progress = nullptr;
    QTimer m_timer;
    MountWatcher* m_watcher = nullptr;
    std::function<bool()> m_isActive;
    int m_restTime = 30;
    int m_total = 30;
};
