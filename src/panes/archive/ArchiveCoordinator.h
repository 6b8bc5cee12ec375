#pragma once

#include "archive/ICoordinator.h"

#include <QColor>
#include <QString>
#include <QStringList>

class CBackup;
class CBackupContainer;
class IBackup;
class ISynchronizeController;
class ArchiveProjectList;
class ISettingsDrawerController;

// What the coordinator reaches of the archive views (the pane implements it; tests use fakes).
class IArchiveViews
{
public:
    virtual ~IArchiveViews() = default;
    // Rows of the content outline's top level, and the name of its first row.
    virtual int contentRowCount() = 0;
    virtual QString firstContentRowName() = 0;
    // The projects pane's build of the selected projects.
    virtual void build() = 0;
    // The content view shows the project again (full: re-read from the project's tree).
    virtual void reloadContent(IBackup* backup, bool full) = 0;
    virtual void addFilesToContent(const QStringList& paths) = 0;
    virtual void redrawProjectList() = 0;
    // The hub's revalidation of the kit's controls.
    virtual void validateControls() = 0;
    virtual IProcessIndicator* indicator() = 0;
};

// The archive kit's coordinator: answers the archive views' questions about the container,
// turns a click on the start/stop control into a build or a stop, lets the user name a project
// and choose a destination. Holds no widget of its own. Start-up registers it with
// ICoordinator::setShared in place of the headless one.
class ArchiveCoordinator : public ICoordinator
{
public:
    explicit ArchiveCoordinator(CBackupContainer* container);
    ~ArchiveCoordinator() override;

    void setViews(IArchiveViews* views) { m_views = views; }
    void setProjectList(ArchiveProjectList* list) { m_list = list; }
    CBackupContainer* container() const { return m_container; }
    // The settings side panel, when one exists (not owned; it registers and unregisters itself).
    void setSettingsDrawer(ISettingsDrawerController* drawer) { m_settingsDrawer = drawer; }
    ISettingsDrawerController* settingsDrawer() const { return m_settingsDrawer; }
    // True while the settings panel is opening or open; false without one.
    bool isSettingsDrawerOpened() const;

    // ---- ICoordinator ----
    bool isUniqueName(const QString& name, const CBackup* excluded) override;
    void fullReloadBackupData() override;
    bool chooseDestPathByUser(ILocation* location) override;
    int newBackupIndex() override { return -1; }
    IProcessIndicator* processIndicator() override;

    // ---- queries ----
    int backupCount() const;
    int currentBackupIndex() const; // first selected, -1 when none
    bool setCurrentBackupIndex(int index);
    bool isCurrentNewBackup() const { return currentBackupIndex() == -1; }
    bool isBackupRunning() const;
    bool isProcessing() const { return isBackupRunning(); }
    bool isDragAndDrop() const { return !isBackupRunning(); }
    QColor backupColorAt(int index) const;
    void setCurrentBackupColor(const QColor& color);

    // ---- navigation ----
    int nextBPLItemIndex(int index) const;
    int prevBPLItemIndex(int index) const;
    void nextBackup();
    void prevBackup();
    // The project named by "QVCurrentBackupName", else project 0, becomes the selection.
    void initFirstBackup();

    // ---- naming and removal ----
    // "Create project": the answer, through the name function, made unique with 1, 2, ...;
    // a project not yet listed is added to the list. False on Cancel or an empty answer.
    bool renameBackupByUser(CBackup* backup);
    // Removes the selected project (after the user agreed) and selects the next one.
    bool closeCurrentBackup();

    // ---- the start/stop control ----
    // 0 the content outline is empty, 2 an archive tool job runs, else 1; set on the control.
    int checkBackupButtonState();
    // A click: state 1 (after the access prompt) builds, 2 stops the selected project's job,
    // 0 does nothing.
    void mainButtonClickedOn(IProcessIndicator* indicator);
    void clickOnBB(int state);

    // ---- content ----
    void changedCurrentBackupContent();
    void addFilesToContent(const QStringList& paths);

    // The application closes: queries answer NO or 0 from now on; the synchronization controller
    // (when one was obtained) gets event 9 once.
    void appClosing();
    bool isClosing() const { return m_closing; }
    ISynchronizeController* synchronizeController();

private:
    CBackup* current() const;
    CBackupContainer* m_container;
    IArchiveViews* m_views = nullptr;
    ArchiveProjectList* m_list = nullptr;
    ISynchronizeController* m_sync = nullptr;
    ISettingsDrawerController* m_settingsDrawer = nullptr;
    bool m_closing = false;
};
