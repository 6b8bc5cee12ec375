#pragma once

#include "panes/archive/ArchivePopup.h"

#include <QDialog>
#include <memory>

class ArchiveContentModel;
class CBackup;
class CBackupContainer;
class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QRadioButton;
class QTreeView;

// The restore sheet of an archive project: the archive pop-up (newest first, "multi-volume",
// "(N/A) …" for one that cannot be reached now), the project's content as the chosen archive
// holds it, the target (the original places or another folder), and "Restore selected" and
// "Restore all", which queue the restore in the archive container.
class ArchiveRestoreView : public QDialog
{
    Q_OBJECT
public:
    ArchiveRestoreView(CBackupContainer* container, CBackup* backup, QWidget* parent = nullptr,
        const ArchivePopup::Environment& env = ArchivePopup::Environment::system());
    ~ArchiveRestoreView() override;

    QComboBox* archives() const { return m_archives; }
    QTreeView* outline() const { return m_outline; }
    ArchiveContentModel* model() const { return m_model.get(); }
    QRadioButton* originalPlaces() const { return m_original; }
    QRadioButton* otherFolder() const { return m_folder; }
    QPushButton* restoreSelectedButton() const { return m_restoreSelected; }
    QPushButton* restoreAllButton() const { return m_restoreAll; }
    QCheckBox* fromSelectedArchive() const { return m_fromSelected; }

    // Applies the pop-up's choice to the project.
    void changeBackupArchive(int popupIndex);
    // tag 1 everything, tag 2 the selected rows; true when a restore was queued.
    bool restoreButton(int tag);
    void validateControls();
    // The folder last chosen as a target.
    QString restoreTargetFolder() const { return m_lastTarget; }

private:
    CBackupContainer* m_container;
    CBackup* m_backup;
    std::unique_ptr<ArchiveContentModel> m_model;
    QComboBox* m_archives = nullptr;
    QTreeView* m_outline = nullptr;
    QRadioButton* m_original = nullptr;
    QRadioButton* m_folder = nullptr;
    QCheckBox* m_fromSelected = nullptr;
    QPushButton* m_restoreSelected = nullptr;
    QPushButton* m_restoreAll = nullptr;
    QString m_lastTarget;
};
