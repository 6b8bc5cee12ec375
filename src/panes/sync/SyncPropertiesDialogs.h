#pragma once

#include "panes/sync/SyncPropertiesForm.h"

#include <QDialog>
#include <memory>

class ISynchron;
class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;
class SynchronizePaneController;

// The settings sheet of a synchronization: name, delete and date options, excludes and the name
// pattern (with its capture), extended attributes, run on mount, administrator rights, automount
// of network volumes and disk images with "mount now", start if late, colour. OK stores the form
// and drops the analysis results through the pane.
class SyncPropertiesDialog : public QDialog
{
    Q_OBJECT
public:
    SyncPropertiesDialog(SynchronizePaneController* pane, std::shared_ptr<ISynchron> project, QWidget* parent = nullptr);

    SyncPropertiesForm::SyncForm form() const;
    QLineEdit* nameField() const { return m_name; }
    QCheckBox* noDeleteBox() const { return m_noDelete; }
    QCheckBox* patternBox() const { return m_useePattern; }
    QLineEdit* patternField() const { return m_pattern; }
    QPushButton* captureButton() const { return m_capture; }
    QPushButton* mountButton() const { return m_mount; }
    QPushButton* okButton() const { return m_ok; }
    QCheckBox* automountBox() const { return m_automount; }
    // "Mount now": each network place through the volume mounter, each disk image that is not
    // mounted through its image; a failure is reported through the project with its options.
    static void mountNow(ISynchron& project);
    // The name field's rule: empty gives the project's name back; another name is made unique.
    void changeProjectName();
    void captureExcludePattern();
    void updateAutoMountControls();

private:
    void accept() override;
    void apply(const SyncPropertiesForm::SyncForm& f);

    SynchronizePaneController* m_pane;
    std::shared_ptr<ISynchron> m_project;
    SyncPropertiesForm::SyncForm m_loaded;
    QLineEdit* m_name = nullptr;
    QCheckBox* m_noDelete = nullptr;
    QCheckBox* m_modDate = nullptr;
    QCheckBox* m_exInvisible = nullptr;
    QCheckBox* m_exFinder = nullptr;
    QCheckBox* m_exApps = nullptr;
    QCheckBox* m_exAliases = nullptr;
    QCheckBox* m_useePattern = nullptr;
    QLineEdit* m_pattern = nullptr;
    QPushButton* m_capture = nullptr;
    QComboBox* m_xattrs = nullptr;
    QCheckBox* m_onMount = nullptr;
    QCheckBox* m_admin = nullptr;
    QCheckBox* m_automount = nullptr;
    QPushButton* m_mount = nullptr;
    QCheckBox* m_startIfLate = nullptr;
    QPushButton* m_ok = nullptr;
    QPushButton* m_help = nullptr;
    int m_captureRule = 0;
};

// The settings sheet of a clone: name, delete option, run on mount and USB automount (a USB
// removable destination only), the start warning, start if late, colour.
class ClonePropertiesDialog : public QDialog
{
    Q_OBJECT
public:
    ClonePropertiesDialog(SynchronizePaneController* pane, std::shared_ptr<ISynchron> project, QWidget* parent = nullptr);

    SyncPropertiesForm::CloneForm form() const;
    QLineEdit* nameField() const { return m_name; }
    QCheckBox* onMountBox() const { return m_onMount; }
    QCheckBox* usbAutomountBox() const { return m_usb; }
    QCheckBox* startWarningBox() const { return m_warning; }
    QPushButton* okButton() const { return m_ok; }

private:
    void accept() override;

    SynchronizePaneController* m_pane;
    std::shared_ptr<ISynchron> m_project;
    SyncPropertiesForm::CloneForm m_loaded;
    QLineEdit* m_name = nullptr;
    QCheckBox* m_noDelete = nullptr;
    QCheckBox* m_onMount = nullptr;
    QCheckBox* m_usb = nullptr;
    QCheckBox* m_warning = nullptr;
    QCheckBox* m_startIfLate = nullptr;
    QPushButton* m_ok = nullptr;
    QPushButton* m_help = nullptr;
};

// Opens the sheet of the project's kind (never for a running project) and, when it ends, does
// what the pane does at a sheet's end: on OK the properties event and a save, then the agent
// decision (a project that became scheduled may need the agent started at login).
void showSynchronProperties(SynchronizePaneController* pane, const std::shared_ptr<ISynchron>& project, QWidget* parent);
// The end of a sheet, without the sheet (the agent decision included).
void endSynchronProperties(SynchronizePaneController* pane, bool ok, ISynchron& project, bool wasScheduled);
