#pragma once

#include "projects/ExcludeToggler.h"
#include "projects/OutlineLister.h"
#include "snapshot/B3RestoreRequest.h"

#include <QDialog>
#include <memory>

class Backup3PaneController;
class IBackup3;
class ILocation;
class ModalDepthGuard;
class QComboBox;
class QLabel;
class QPushButton;
class QRadioButton;
class QTreeView;
class SourceOutlineModel;

// The restore sheet of a snapshot-backup project, or of a project folder found on disk (an
// external restore): the versions of the project folder newest first, the content of the chosen
// one as a read-only outline, the target (the original places or another folder), and "Restore
// All" or "Restore Selected". The request goes to the container, which runs it like a backup.
class IB3RestoreController : public QDialog
{
    Q_OBJECT
public:
    enum Tag
    {
        TagCancel = 0,
        TagAll = 1,
        TagSelected = 2
    };
    enum Target
    {
        TargetFolder = 1,
        TargetOriginal = 2
    };

    explicit IB3RestoreController(Backup3PaneController* controller, QWidget* parent = nullptr);
    ~IB3RestoreController() override;

    // Finds the project's versions (asking about a missing device or backup through alerts) and
    // opens the sheet; false, with nothing shown, when there is nothing to restore.
    bool showForBackup(std::shared_ptr<IBackup3> project);
    // The sheet for a project folder outside the list; the temporary project is made at Restore.
    bool showForFolder(const QString& projectFolder, const QString& projectName);

    std::shared_ptr<IBackup3> project() const { return m_backup; }
    QString projectFolderPath() const { return m_projectFolderPath; }
    const B3RestoreRequest::Listing& listing() const { return m_listing; }

    QComboBox* versionsPopup() const { return m_versions; }
    QTreeView* contentView() const { return m_view; }
    SourceOutlineModel* contentModel() const { return m_model.get(); }
    QRadioButton* originalTarget() const { return m_original; }
    QRadioButton* folderTarget() const { return m_folder; }
    QPushButton* restoreAllButton() const { return m_all; }
    QPushButton* restoreSelectedButton() const { return m_selected; }
    QPushButton* cancelButton() const { return m_cancel; }

    void restoreButton(int tag);

Q_SIGNALS:
    // An external restore started: its temporary project runs now.
    void externalRestoreStarted(std::shared_ptr<IBackup3> project);

private:
    bool findAndPrepareRestoreData();
    bool fillBackupArchives(const QString& folder);
    void changeBackupArchive();
    void validateControls();
    bool handOver(bool selection, const QString& targetFolder);
    void restoreOriginalDestination();

    Backup3PaneController* m_controller;
    std::shared_ptr<IBackup3> m_backup;
    QString m_projectFolderPath;
    QString m_externalName;
    B3RestoreRequest::Listing m_listing;
    QList<B3RestoreRequest::SourceRow> m_rows;
    std::shared_ptr<ILocation> m_originalBDILocation;
    std::unique_ptr<ModalDepthGuard> m_modal;

    DirOutlineLister m_lister;
    StringExcludeList m_excludes;
    std::unique_ptr<SourceOutlineModel> m_model;
    QComboBox* m_versions = nullptr;
    QLabel* m_prompt = nullptr;
    QTreeView* m_view = nullptr;
    QRadioButton* m_original = nullptr;
    QRadioButton* m_folder = nullptr;
    QPushButton* m_all = nullptr;
    QPushButton* m_selected = nullptr;
    QPushButton* m_cancel = nullptr;
};
