#pragma once

#include "archive/IArchiveKit.h"
#include "panes/archive/ArchiveCoordinator.h"
#include "projects/IDDOutlineViewController.h"
#include "projects/IProcessIndicator.h"
#include "shell/dialogs/IKitPane.h"
#include "shell/dialogs/IQV3ProjectListView.h"
#include "shell/dialogs/ProjectListModel.h"

#include <QPointer>
#include <QWidget>
#include <memory>

class ArchiveContentModel;
class ArchiveProjectList;
class CBackup;
class CBackupContainer;
class IDDOutlineView;
class IQVProcessIndicatorView;
class QAction;
class QLabel;
class QPushButton;

// The archive projects of the main window's list, in display order. Dropped files and folders
// (file URLs) make a new project of them; rows move between rows only.
class ArchiveListModel : public ProjectListModel
{
    Q_OBJECT
public:
    ArchiveListModel(ArchiveProjectList* list, ArchiveCoordinator* coordinator, QObject* parent = nullptr);
    int projectCount() const override;
    ProjectListRow projectRow(int row) const override;
    bool moveProject(int from, int to) override;
    bool renameProject(int row, const QString& name) override;
    bool isNameEditable(int row) const override;

    QStringList mimeTypes() const override;
    Qt::DropActions supportedDropActions() const override;
    bool canDropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column,
        const QModelIndex& parent) const override;
    bool dropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column,
        const QModelIndex& parent) override;

signals:
    // Files were dropped on the list: a project was made of them.
    void projectCreated(CBackup* backup);
    void orderChanged();

private:
    ArchiveProjectList* m_list;
    ArchiveCoordinator* m_coordinator;
};

// The archive pane (function kit 2): the project list, the content outline with its include
// check boxes, the start/stop control, the status line and the buttons. It is the coordinator's
// views and the hub's archive kit; the decisions are the coordinator's and the list's.
class ArchivePane : public QWidget,
                    public IArchiveViews,
                    public IArchiveKit,
                    public IDDOutlineViewController,
                    public IMainButtonOwner,
                    public IProjectListAddAction,
                    public IProjectListPropertiesAction,
                    public IProjectListColorAction,
                    public IKitPane
{
    Q_OBJECT
public:
    ArchivePane(CBackupContainer* container, QWidget* parent = nullptr);
    ~ArchivePane() override;
    // The pane for the main window's kit-2 page.
    static ArchivePane* create(CBackupContainer* container, QWidget* parent);

    ArchiveCoordinator* coordinator() const { return m_coordinator.get(); }
    ArchiveProjectList* projectList() const { return m_projects.get(); }
    ArchiveListModel* listModel() const { return m_listModel.get(); }
    ArchiveContentModel* contentModel() const { return m_contentModel.get(); }
    IQV3ProjectListView* listView() const { return m_list; }
    IDDOutlineView* outlineView() const { return m_outline; }
    IQVProcessIndicatorView* indicatorView() const { return m_indicator; }
    QLabel* statusLabel() const { return m_status; }
    QPushButton* addProjectButton() const { return m_add; }
    QPushButton* deleteProjectButton() const { return m_delete; }
    QPushButton* addFileButton() const { return m_addFile; }
    QPushButton* removeFileButton() const { return m_removeFile; }
    QPushButton* restoreButton() const { return m_restore; }
    QPushButton* settingsButton() const { return m_settings; }
    QPushButton* contentButton() const { return m_content; }

    // Reads the stored order (the snapshot list file's "ArchiveOrderList") and shows the list.
    void loadBackups(const QVariantList& savedOrder);
    CBackup* current() const;
    // Makes the project at that list row current.
    void selectRow(int row);

    // The projects pane's actions.
    bool newBackupByUser(); // "Choose files and folders to add to the backup"
    void addFilesByUser(); // "File+"
    bool removeSelectedContent(); // "File-", after the user agreed
    void openRestoreView(); // the restore sheet of the current project
    void openSettings(); // the settings sheet of the current project
    void showDetailedContent(); // "View Content": the larger outline of the current project
    bool saveCurrent();

    // ---- IArchiveViews ----
    int contentRowCount() override;
    QString firstContentRowName() override;
    void build() override;
    void reloadContent(IBackup* backup, bool full) override;
    void addFilesToContent(const QStringList& paths) override;
    void redrawProjectList() override;
    void validateControls() override;
    IProcessIndicator* indicator() override;
    // ---- IArchiveKit ----
    IBackup* currentBackup() override;
    IBackup* getViewIBackup() override;
    void reloadContentViewData(IBackup* backup) override;
    void eventChangedCurrentBackup() override;
    void saveProjectOrderListToDict(QVariantList& list) override;
    void appClosing() override;
    // ---- IDDOutlineViewController ----
    bool isDragAndDrop() override;
    void addTemplateToContent(const QString& description, const QImage& icon) override;
    void reloadViewData() override;
    bool isEmptyContentAndString(QString* text) override;
    // ---- IMainButtonOwner ----
    void mainButtonClickedOn(IProcessIndicator* indicator) override;
    // ---- project list delegate ----
    void actAddProject(QObject* sender) override;
    void actShowProjectProperties(QObject* sender) override;
    void menuColorLabelSelect(int tag) override;
    // ---- IKitPane ----
    QWidget* kitProjectListPart() override { return m_listPart; }
    QWidget* kitContentPart() override { return m_contentPart; }
    QWidget* kitStatusPart() override { return m_statusPart; }
    IQV3ProjectListView* kitListView() override { return m_list; }
    void setKitStatusText(const QString& text) override;
    void kitAction(Action action) override;
    QList<QAction*> kitMenuActions() override;

    // The archive menu items: build (1401), stop (1402), restore to the original places (1403)
    // and restore into a folder (1404); their tags are their data.
    QAction* menuAction(int tag) const;
    // Sets their enable states from the run queue and the current project.
    void validateMenuActions();

signals:
    void currentProjectChanged();

private:
    void syncSelectionWithData();
    void refreshRunState();
    void toggleAllChecks(int section);

    CBackupContainer* m_container;
    std::unique_ptr<ArchiveCoordinator> m_coordinator;
    std::unique_ptr<ArchiveProjectList> m_projects;
    std::unique_ptr<ArchiveListModel> m_listModel;
    std::unique_ptr<ArchiveContentModel> m_contentModel;
    QPointer<QWidget> m_listPart, m_contentPart, m_statusPart;
    IQV3ProjectListView* m_list = nullptr;
    IDDOutlineView* m_outline = nullptr;
    IQVProcessIndicatorView* m_indicator = nullptr;
    QLabel* m_status = nullptr;
    QPushButton* m_add = nullptr;
    QPushButton* m_delete = nullptr;
    QPushButton* m_addFile = nullptr;
    QPushButton* m_removeFile = nullptr;
    QPushButton* m_restore = nullptr;
    QPushButton* m_settings = nullptr;
    QPushButton* m_content = nullptr;
    bool m_selectingByCode = false;
    bool m_checkToAll = false;
    bool m_validating = false;
    int m_externalChanges = 0;
    class QTimer* m_runTimer = nullptr;
    QList<QAction*> m_menuActions;
};
