#pragma once

#include "panes/backup/IB3RestoreController.h"
#include "panes/backup/IBackup3PropertiesController.h"
#include "panes/backup/IExternalRestoreWindow.h"
#include "projects/ExcludeToggler.h"
#include "projects/IDDOutlineViewController.h"
#include "projects/IProcessIndicator.h"
#include "projects/OutlineLister.h"
#include "shell/dialogs/IKitPane.h"
#include "shell/dialogs/IQV3ProjectListView.h"
#include "shell/dialogs/ProjectListModel.h"

#include <QPointer>
#include <QWidget>
#include <memory>

class Backup3PaneController;
class IBackup3;
class ISourceOutlineView;
class IQV3ProjectListView;
class IQVProcessIndicatorView;
class QLabel;
class QMenu;
class QPushButton;
class SourceOutlineModel;

// The project list of the snapshot-backup pane, over the container's list.
class Backup3ListModel : public ProjectListModel
{
    Q_OBJECT
public:
    explicit Backup3ListModel(Backup3PaneController* controller, QObject* parent = nullptr);
    int projectCount() const override;
    ProjectListRow projectRow(int row) const override;
    bool moveProject(int from, int to) override;
    bool renameProject(int row, const QString& name) override;
    bool isNameEditable(int row) const override;

private:
    Backup3PaneController* m_controller;
};

// The snapshot-backup pane (function kit 1): the project list, the outline of the current
// project's sources with their include check boxes, the start/stop indicator, the status line and
// the buttons. Every decision is the controller's; the pane binds widgets to it. The main window's
// kit-1 page takes the pane with Backup3Pane::create.
class Backup3Pane : public QWidget,
                    public IDDOutlineViewController,
                    public IMainButtonOwner,
                    public IKitPane,
                    public IProjectListAddAction,
                    public IProjectListPropertiesAction,
                    public IProjectListColorAction
{
    Q_OBJECT
public:
    explicit Backup3Pane(Backup3PaneController* controller, QWidget* parent = nullptr);
    ~Backup3Pane() override;
    // The pane for the main window's kit-1 page.
    static Backup3Pane* create(Backup3PaneController* controller, QWidget* parent);

    IQV3ProjectListView* listView() const { return m_list; }
    ISourceOutlineView* outlineView() const { return m_outline; }
    SourceOutlineModel* outlineModel() const { return m_outlineModel.get(); }
    IQVProcessIndicatorView* indicator() const { return m_indicator; }
    QLabel* statusLabel() const { return m_status; }
    QPushButton* addProjectButton() const { return m_add; }
    QPushButton* deleteProjectButton() const { return m_delete; }
    QPushButton* addFileButton() const { return m_addFile; }
    QPushButton* removeFileButton() const { return m_removeFile; }
    QPushButton* restoreButton() const { return m_restore; }
    QPushButton* propertiesButton() const { return m_properties; }
    QPushButton* templateButton() const { return m_template; }
    QMenu* templateMenu() const { return m_templateMenu; }
    QMenu* projectMenu() const { return m_projectMenu; }
    // The open settings sheet, null when none.
    IBackup3PropertiesController* propertiesSheet() const { return m_sheet; }

    // The restore sheet for the current project; false when there is nothing to restore.
    bool showRestore();
    // A restore from a project folder chosen on disk (the external restore).
    bool restoreExternal();
    IB3RestoreController* restoreSheet() const { return m_restoreSheet; }
    IExternalRestoreWindow* externalRestoreWindow() const { return m_externalWindow; }

    // The settings sheet for the current project (not while it runs).
    void showProperties();
    // "Apps Data+": the template's paths become sources.
    void addTemplateByName(const QString& name);
    // The selected outline row in the file manager; "File or folder not found" when it is gone.
    void revealSelected();

    // "File+": files and folders chosen in the open dialog become sources.
    void addFilesByUser();
    // "File-": the selected sources are removed.
    void removeSelectedSources();

    // IDDOutlineViewController
    bool isDragAndDrop() override;
    void addTemplateToContent(const QString& description, const QImage& icon) override;
    void addFilesToContent(const QStringList& paths) override;
    void reloadViewData() override;
    bool isEmptyContentAndString(QString* text) override;
    // IMainButtonOwner
    void mainButtonClickedOn(IProcessIndicator* indicator) override;
    // The project list's double click and colour menu
    void actAddProject(QObject* sender) override;
    void actShowProjectProperties(QObject* sender) override;
    void menuColorLabelSelect(int tag) override;
    // IKitPane
    QWidget* kitProjectListPart() override { return m_listPart; }
    QWidget* kitContentPart() override { return m_contentPart; }
    QWidget* kitStatusPart() override { return m_statusPart; }
    IQV3ProjectListView* kitListView() override { return m_list; }
    void setKitStatusText(const QString& text) override;
    void kitAction(Action action) override;

private:
    std::shared_ptr<IBackup3> current() const;
    void reloadList();
    void reloadOutline();
    void validateButtons();
    void validateIndicator();
    void storeExcludes();
    void prepareTemplatesMenu();

    Backup3PaneController* m_controller;
    std::unique_ptr<Backup3ListModel> m_listModel;
    DirOutlineLister m_lister;
    StringExcludeList m_excludes;
    std::unique_ptr<SourceOutlineModel> m_outlineModel;
    QPointer<QWidget> m_listPart, m_contentPart, m_statusPart;
    IQV3ProjectListView* m_list = nullptr;
    ISourceOutlineView* m_outline = nullptr;
    IQVProcessIndicatorView* m_indicator = nullptr;
    QLabel* m_status = nullptr;
    QPushButton* m_add = nullptr;
    QPushButton* m_delete = nullptr;
    QPushButton* m_addFile = nullptr;
    QPushButton* m_removeFile = nullptr;
    QPushButton* m_restore = nullptr;
    QPushButton* m_properties = nullptr;
    QPushButton* m_template = nullptr;
    QMenu* m_templateMenu = nullptr;
    QMenu* m_projectMenu = nullptr;
    QMenu* m_outlineMenu = nullptr;
    QPointer<IBackup3PropertiesController> m_sheet;
    QPointer<IB3RestoreController> m_restoreSheet;
    QPointer<IExternalRestoreWindow> m_externalWindow;
    bool m_selectingByCode = false;
};
