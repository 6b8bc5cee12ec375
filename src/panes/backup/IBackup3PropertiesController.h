#pragma once

#include "panes/backup/Backup3SettingsForm.h"

#include <QDialog>
#include <memory>

class ATColorButton;
class Backup3PaneController;
class DestinationMenu;
class IBackup3;
class IQVNumberField;
class ModalDepthGuard;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTabWidget;
class ScheduleControls;

// The settings sheet of one snapshot-backup project: name, destination (folder or disk image on
// a chosen volume), automount, copy options, exclusions and patterns, colour, schedule, thinning,
// administrator rights and the image's maximum size. It opens window-modal (open()); the project
// is written only on OK, through applyForm. While it is up the modal depth is raised, so the
// schedule timers wait.
class IBackup3PropertiesController : public QDialog
{
    Q_OBJECT
public:
    IBackup3PropertiesController(
        Backup3PaneController* controller, std::shared_ptr<IBackup3> project, QWidget* parent = nullptr);
    ~IBackup3PropertiesController() override;

    std::shared_ptr<IBackup3> project() const { return m_project; }
    // The form the widgets show now.
    Backup3SettingsForm form() const;
    // The destination menu was refilled (the volume table changed).
    void volumeBaseUpdated();

    QTabWidget* tabs() const { return m_tabs; }
    QLineEdit* nameField() const { return m_name; }
    QComboBox* targetTypePopup() const { return m_targetType; }
    DestinationMenu* destinationMenu() const { return m_device; }
    QLineEdit* folderField() const { return m_folder; }
    QPushButton* chooseFolderButton() const { return m_chooseFolder; }
    QPushButton* mountButton() const { return m_mount; }
    QLineEdit* excludeField() const { return m_exclude; }
    QPushButton* captureExcludeButton() const { return m_captureExclude; }
    QLabel* destinationStatusLabel() const { return m_statusText; }
    ScheduleControls* scheduleControls() const { return m_schedule; }
    QCheckBox* adminCheck() const { return m_admin; }
    QComboBox* sizeTypePopup() const { return m_sizeType; }
    IQVNumberField* customSizeField() const { return m_customSize; }
    QPushButton* okButton() const { return m_ok; }
    QPushButton* cancelButton() const { return m_cancel; }

public Q_SLOTS:
    void clickOk();

private:
    void build();
    void updateControls();
    void updateLocationControls();
    void changeBackupDrive(qint64 tag);
    bool selectBackupLocationOrReturnToTag(qint64 tag);
    void refreshAccess();
    void mountDestination();
    void validateDIControls();
    void validateThinning();
    void validateStartIfLate();
    void validateProcessOnMount();
    void capturePattern(QLineEdit* field, const QString& title);

    Backup3PaneController* m_controller;
    std::shared_ptr<IBackup3> m_project;
    std::unique_ptr<ModalDepthGuard> m_modal;
    qint64 m_lastSelectedTag = 0;
    bool m_startIfLateStored = true;

    QTabWidget* m_tabs = nullptr;
    QLineEdit* m_name = nullptr;
    QComboBox* m_targetType = nullptr;
    DestinationMenu* m_device = nullptr;
    QLabel* m_folderLabel = nullptr;
    QLineEdit* m_folder = nullptr;
    QPushButton* m_chooseFolder = nullptr;
    QCheckBox* m_automount = nullptr;
    QPushButton* m_mount = nullptr;
    QLabel* m_statusIcon = nullptr;
    QLabel* m_statusText = nullptr;
    QCheckBox* m_admin = nullptr;
    QComboBox* m_sizeType = nullptr;
    IQVNumberField* m_customSize = nullptr;
    QLabel* m_customSizeLabel = nullptr;
    QCheckBox* m_excludeInvisible = nullptr;
    QCheckBox* m_excludeFinderData = nullptr;
    QCheckBox* m_excludeApplications = nullptr;
    QCheckBox* m_excludeAliases = nullptr;
    QComboBox* m_extAttrs = nullptr;
    QCheckBox* m_useExclude = nullptr;
    QLineEdit* m_exclude = nullptr;
    QPushButton* m_captureExclude = nullptr;
    QCheckBox* m_useInclude = nullptr;
    QLineEdit* m_include = nullptr;
    QPushButton* m_captureInclude = nullptr;
    QCheckBox* m_neverDelete = nullptr;
    QCheckBox* m_considerDate = nullptr;
    ATColorButton* m_color = nullptr;
    ScheduleControls* m_schedule = nullptr;
    QCheckBox* m_startIfLate = nullptr;
    QCheckBox* m_processOnMount = nullptr;
    QComboBox* m_cuttingType = nullptr;
    IQVNumberField* m_cuttingCount = nullptr;
    QComboBox* m_cuttingUnit = nullptr;
    QLabel* m_cuttingOne = nullptr;
    QPushButton* m_ok = nullptr;
    QPushButton* m_cancel = nullptr;
};
