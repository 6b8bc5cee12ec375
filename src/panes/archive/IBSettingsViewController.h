#pragma once

#include <QDialog>
#include <QString>

class ATColorButton;
class ArchiveCoordinator;
class CBackup;
class DestinationMenu;
class CBackupContainer;
class IQVNumberField;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTabWidget;
class ScheduleControls;

// The settings sheet of an archive project: name, destination device and folder, automount,
// administrator rights and colour; method and compression; encryption and the keychain; the split
// size limit; the schedule with run-on-mount; exclusions with their pattern. Nothing is stored
// before OK; an invalid custom size keeps the sheet open with a beep. A running project cannot be
// edited.
class IBSettingsViewController : public QDialog
{
    Q_OBJECT
public:
    IBSettingsViewController(CBackupContainer* container, ArchiveCoordinator* coordinator, QWidget* parent = nullptr);

    // Fills the sheet from the project and runs it; true after OK.
    bool showWindowForBackup(CBackup* backup);
    // Fills the controls from the project (without running the sheet).
    void updateControls(CBackup* backup);
    // OK: false (a beep, the sheet stays) for an invalid custom size.
    bool clickOk();

    // Split size limit in KB of a pop-up tag (5: the custom value in MB x 1000).
    static quint64 sizeLimitForTag(int tag, quint64 customMB);
    // The pop-up tag of a stored limit (5 for any other value).
    static int tagForSizeLimit(quint64 limitKB);
    // A name typed into the name field, ready to store: the name function, an empty one gives
    // the project's name, a taken one gets 1, 2, ...
    QString legalDisplayName(const QString& text) const;

    QTabWidget* tabs() const { return m_tabs; }
    QLineEdit* nameField() const { return m_name; }
    DestinationMenu* device() const { return m_device; }
    QLineEdit* folderField() const { return m_folder; }
    QPushButton* chooseFolderButton() const { return m_choose; }
    QLabel* destinationStatus() const { return m_destStatus; }
    QCheckBox* compression() const { return m_compress; }
    QRadioButton* methodFull() const { return m_method211; }
    QRadioButton* methodIncremental() const { return m_method212; }
    QCheckBox* keepPreviousBackups() const { return m_keepPrevious; }
    QComboBox* encryption() const { return m_encryption; }
    QCheckBox* passwordInKeychain() const { return m_keychain; }
    QComboBox* sizeLimit() const { return m_sizeLimit; }
    IQVNumberField* customSizeLimit() const { return m_customSize; }
    ScheduleControls* schedule() const { return m_schedule; }
    QCheckBox* startLate() const { return m_startLate; }
    QCheckBox* processOnMount() const { return m_processOnMount; }
    QCheckBox* automount() const { return m_automount; }
    QCheckBox* admin() const { return m_admin; }
    ATColorButton* colorButton() const { return m_color; }
    QCheckBox* excludeBox(int bit) const; // CBFilterInvisible ... CBFilterByPattern
    QLineEdit* excludePattern() const { return m_exclude; }
    QPushButton* captureButton() const { return m_capture; }

    // The agent state after the sheet ended with OK: a project scheduled (or run on mount) for
    // the first time asks for the agent and its start at login.
    static void updateAgentState(bool wasScheduled, const CBackup& backup);

private:
    void changeBackupMethod();
    void changeBackupSizeLimit();
    void changeEncryption();
    void changeBackupDrive(qint64 tag);
    bool selectBackupLocationOrReturnToTag(qint64 tag);
    void updateLocationControls();
    void showDestinationStatus();
    void validateProcessOnMount();
    void capturePattern();
    void updateStartLate();

    CBackupContainer* m_container;
    ArchiveCoordinator* m_coordinator;
    CBackup* m_backup = nullptr;
    qint64 m_lastSelectedTag = -1;
    QTabWidget* m_tabs = nullptr;
    QLineEdit* m_name = nullptr;
    QLineEdit* m_folder = nullptr;
    DestinationMenu* m_device = nullptr;
    QPushButton* m_choose = nullptr;
    QCheckBox* m_automount = nullptr;
    QPushButton* m_mount = nullptr;
    QLabel* m_destIcon = nullptr;
    QLabel* m_destStatus = nullptr;
    QCheckBox* m_admin = nullptr;
    ATColorButton* m_color = nullptr;
    QCheckBox* m_excl[5] = {};
    QLineEdit* m_exclude = nullptr;
    QPushButton* m_capture = nullptr;
    QCheckBox* m_processOnMount = nullptr;
    QCheckBox* m_compress = nullptr;
    QRadioButton* m_method211 = nullptr;
    QRadioButton* m_method212 = nullptr;
    QCheckBox* m_keepPrevious = nullptr;
    QComboBox* m_encryption = nullptr;
    QCheckBox* m_keychain = nullptr;
    QComboBox* m_sizeLimit = nullptr;
    IQVNumberField* m_customSize = nullptr;
    QLabel* m_customLabel = nullptr;
    ScheduleControls* m_schedule = nullptr;
    QCheckBox* m_startLate = nullptr;
    bool m_storedStartLate = false;
};
