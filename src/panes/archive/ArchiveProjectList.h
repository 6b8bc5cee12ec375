#pragma once

#include <QString>
#include <QStringList>
#include <QVariantList>
#include <vector>

class CBackup;
class CBackupContainer;
class ArchiveCoordinator;

// The archive projects in the order the main window's list shows them (which differs from the
// container's own order and is stored by the snapshot-backup list file under "ArchiveOrderList"),
// and the list's commands: add, delete, reorder, colour, and project files to save and open.
// No widgets: prompts go through UiPrompts, texts through IShellServices.
class ArchiveProjectList
{
public:
    ArchiveProjectList(CBackupContainer* container, ArchiveCoordinator* coordinator);

    CBackupContainer* container() const { return m_container; }

    // ---- order ----
    // The saved order (UUID strings; anything else is skipped, a UUID named twice counts once),
    // then every container project not yet listed, in container order.
    void setupProjectList(const QVariantList& savedOrder);
    void setupProjectListWithContainerOrder() { setupProjectList({}); }
    // Appends the UUIDs in display order.
    void saveProjectOrderListToDict(QVariantList& list) const;
    // The project at from is inserted at to (0..count) and taken from its old place.
    bool moveBackupFrom(int from, int to);
    // Takes the project out of the display list; the project to select next (the following one,
    // the previous one for the last), nullptr when none is left or it was not listed.
    CBackup* deleteBackupAndGetCurrent(CBackup* backup);
    void append(CBackup* backup);
    // Drops projects the container no longer has and appends those it has and the list lacks.
    void syncWithContainer();

    int backupCount() const { return int(m_list.size()); }
    CBackup* backupAt(int index) const;
    int indexOf(const CBackup* backup) const;
    // The container's first selected project, and its row here (-1 when none).
    CBackup* currentBackup() const;
    int currentBackupIndex() const;
    // Makes the project at that row the container's single selection.
    bool selectRow(int row);

    // ---- commands ----
    // "+": "Untitled" made unique, named by the user; removed again when the naming is cancelled.
    CBackup* addProject();
    // The alert "Save & Remove" (saved to a file first), "Cancel", "Remove"; true when removed.
    bool deleteCurrentProject();
    // 0 saved, -1 failed, -2 cancelled.
    int saveCurrentBackupToFile();
    // Opens .bif files and .bifx folders chosen in the open panel; true when one was opened.
    bool openBackupFromFile();
    // Opens the given project files (what the panel answered); the projects added.
    int openBackupFiles(const QStringList& paths);
    // The label of that menu tag (0..8) for the current project.
    bool setCurrentProjectColorLabel(int tag);

    // A project name taken from a file name: unique against the container ("%@%d").
    QString getLegalNameForBackup(const QString& name) const;

private:
    // Opens one file; 1 opened, 0 skipped, -1 the whole operation stops.
    int openOne(const QString& path);
    CBackupContainer* m_container;
    ArchiveCoordinator* m_coordinator;
    std::vector<CBackup*> m_list;
};
