#pragma once

#include <QDialog>
#include <memory>

class Backup3PaneController;
class IBackup3;
class QLabel;
class QPushButton;

// The sheet that follows a restore from a project folder outside the list: "Restoring...", the
// run's status, and "Stop" (then "Close"); once the run has ended, "Show in File Manager" opens
// where the files went and "Log" shows the log window.
class IExternalRestoreWindow : public QDialog
{
    Q_OBJECT
public:
    explicit IExternalRestoreWindow(Backup3PaneController* controller, QWidget* parent = nullptr);

    void start(std::shared_ptr<IBackup3> project);
    std::shared_ptr<IBackup3> project() const { return m_project; }
    QString resultPath() const { return m_resultPath; }

    QLabel* promptLabel() const { return m_prompt; }
    QLabel* statusLabel() const { return m_status; }
    QPushButton* okButton() const { return m_ok; }
    QPushButton* showButton() const { return m_show; }
    QPushButton* logButton() const { return m_log; }

    // The project's status changed (the pane's status events).
    void projectStatusChanged(IBackup3* project);

private:
    void validateERWButtons();
    void actOk();
    void actShowInFinder();

    Backup3PaneController* m_controller;
    std::shared_ptr<IBackup3> m_project;
    QString m_resultPath;
    QLabel* m_prompt = nullptr;
    QLabel* m_status = nullptr;
    QPushButton* m_ok = nullptr;
    QPushButton* m_show = nullptr;
    QPushButton* m_log = nullptr;
};
