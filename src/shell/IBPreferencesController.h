#pragma once

#include <QDialog>

class IPreferencesHub;
class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTabWidget;

// The application-wide settings: scheduler and agent switches, logging, administrator rights
// and the keychain, the clone warning, notifications, the temporary folder and update checks.
// Every value is read afresh when the dialog is set up and written, with the preferences file
// saved, on OK; only the keychain deletions take effect at once.
class IBPreferencesController : public QDialog
{
    Q_OBJECT
public:
    explicit IBPreferencesController(IPreferencesHub& hub, QWidget* parent = nullptr);

    // setupDialog, then the dialog runs modally: 1 after OK, 0 after Cancel or closing.
    int runDialog();
    void setupDialog();
    bool isDialogShow() const { return isVisible(); }
    // Brings the dialog to the front.
    void clickEvent();

    // The update intervals of the pop-up's items 0, 1 and 2, in seconds.
    static constexpr double kIntervals[3] = { 86400, 604800, 2592000 };
    // Whether a file can be made in the folder (made and removed again).
    static bool isWritableFolder(const QString& path);

    // The pages and controls, for tests.
    QTabWidget* pages() const { return m_pages; }
    QCheckBox* enableSchedule() const { return m_enableSchedule; }
    QCheckBox* useAgent() const { return m_useAgent; }
    QCheckBox* showStatusMenu() const { return m_showStatusMenu; }
    QCheckBox* collectLogs() const { return m_collectLogs; }
    QButtonGroup* logsDetailLevel() const { return m_detailLevel; }
    QComboBox* logFileCountList() const { return m_logFileCount; }
    QLineEdit* logsFolder() const { return m_logsFolder; }
    QCheckBox* viewFilesAsAdmin() const { return m_viewFilesAsAdmin; }
    QCheckBox* adminInfoSaveToKeychain() const { return m_saveToKeychain; }
    QCheckBox* hideCloneWarning() const { return m_hideCloneWarning; }
    QCheckBox* onlyErrorsToSystemNotification() const { return m_onlyErrors; }
    QCheckBox* useCustomTmpFolder() const { return m_useCustomTmp; }
    QLineEdit* customTmpFolder() const { return m_customTmp; }
    QPushButton* chooseTmpFolderButton() const { return m_chooseTmp; }
    QCheckBox* checkUpdateAtStart() const { return m_checkUpdates; }
    QComboBox* checkInterval() const { return m_checkInterval; }
    QPushButton* clearLogsButton() const { return m_clearLogs; }
    bool usedAgent() const { return m_usedAgent; }

public Q_SLOTS:
    void okPressed();
    void cancelPressed();
    void helpPressed();
    void useCustomTmpFolderChanged();
    void chooseTmpFolderPressed();
    void chooseLogFolderPressed();
    void resetPathLogFiles();
    void revealInFinder();
    // Asks first, then deletes the old run logs of the logs folder and empties the log
    // window's file in place.
    void clearLogsFolder();
    void changeAdminInfoSaveToKeychain();
    void changeCheckUpdateAtStart();

protected:
    void reject() override; // closing is Cancel

private:
    QWidget* schedulerPage();
    QWidget* logsPage();
    QWidget* adminPage();
    QWidget* foldersPage();
    QWidget* updatesPage();
    QString chooseFolder(const QString& prompt, const QString& start);

    IPreferencesHub& m_hub;
    QTabWidget* m_pages = nullptr;
    QCheckBox* m_enableSchedule = nullptr;
    QCheckBox* m_useAgent = nullptr;
    QCheckBox* m_showStatusMenu = nullptr;
    QCheckBox* m_collectLogs = nullptr;
    QButtonGroup* m_detailLevel = nullptr;
    QComboBox* m_logFileCount = nullptr;
    QLineEdit* m_logsFolder = nullptr;
    QPushButton* m_clearLogs = nullptr;
    QCheckBox* m_viewFilesAsAdmin = nullptr;
    QCheckBox* m_saveToKeychain = nullptr;
    QCheckBox* m_hideCloneWarning = nullptr;
    QCheckBox* m_onlyErrors = nullptr;
    QCheckBox* m_useCustomTmp = nullptr;
    QLineEdit* m_customTmp = nullptr;
    QPushButton* m_chooseTmp = nullptr;
    QCheckBox* m_checkUpdates = nullptr;
    QComboBox* m_checkInterval = nullptr;
    bool m_usedAgent = false;
    bool m_settingUp = false;
};
