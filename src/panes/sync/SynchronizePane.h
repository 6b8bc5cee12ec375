#pragma once

#include "projects/ExcludeToggler.h"
#include "projects/IProcessIndicator.h"
#include "projects/OutlineLister.h"
#include "shell/dialogs/IKitPane.h"
#include "shell/dialogs/ProjectListModel.h"

#include <QPointer>
#include <QWidget>
#include <memory>

class AnalyzeOutlineModel;
class IQV3ProjectListView;
class IQVProcessIndicatorView;
class IQVSyncAnalyzeView;
class IQVSynchronizerTopPanel;
class ISynchron;
class QComboBox;
class QLabel;
class QPushButton;
class QTreeView;
class SourceOutlineModel;
class SynchronizePaneController;

// The project list of one kind (0 synchronizations, 1 clones) over the container's list.
class SyncListModel : public ProjectListModel
{
    Q_OBJECT
public:
    SyncListModel(SynchronizePaneController* controller, int kind, QObject* parent = nullptr);
    int kind() const { return m_kind; }
    int projectCount() const override;
    ProjectListRow projectRow(int row) const override;
    bool moveProject(int from, int to) override;
    bool isMoving() const { return m_moving; }

private:
    SynchronizePaneController* m_controller;
    int m_kind;
    bool m_moving = false;
};

// The synchronization pane (kind 0: the project list, the top panel with the two folders and the
// direction, the analysis outline) or the clone pane (kind 1: the project list, the disk pickers
// with the verdict line, the source's content outline), each with the start/stop control, the
// status line and the buttons. The controller decides; the pane binds its widgets.
class SynchronizePane : public QWidget, public IKitPane
{
    Q_OBJECT
public:
    SynchronizePane(SynchronizePaneController* controller, int kind, QWidget* parent = nullptr);
    ~SynchronizePane() override;
    // The pane for the main window's kit-4 (kind 0) or kit-3 (kind 1) page.
    static SynchronizePane* create(SynchronizePaneController* controller, int kind, QWidget* parent);

    // IKitPane
    QWidget* kitProjectListPart() override { return m_listPart; }
    QWidget* kitContentPart() override { return m_contentPart; }
    QWidget* kitStatusPart() override { return m_statusPart; }
    IQV3ProjectListView* kitListView() override { return m_list; }

    int kind() const { return m_kind; }
    SyncListModel* listModel() const { return m_listModel.get(); }
    IQV3ProjectListView* listView() const { return m_list; }
    IQVProcessIndicatorView* indicator() const { return m_indicator; }
    QLabel* statusLabel() const { return m_status; }
    QPushButton* addProjectButton() const { return m_add; }
    QPushButton* deleteProjectButton() const { return m_delete; }
    QPushButton* propertiesButton() const { return m_properties; }
    // Synchronization pane.
    IQVSynchronizerTopPanel* topPanel() const { return m_topPanel; }
    IQVSyncAnalyzeView* analyzeView() const { return m_analyzeView; }
    QPushButton* analyzeButton() const { return m_analyze; }
    QLabel* analyzeLabel() const { return m_analyzeLabel; }
    QPushButton* mountImagesButton() const { return m_mountImages; }
    // Clone pane.
    QComboBox* sourcePicker() const { return m_sourcePicker; }
    QComboBox* destinationPicker() const { return m_destinationPicker; }
    QLabel* verdictLabel() const { return m_verdict; }
    // The clone outline menu's "Show in Finder": reveals each selected item that exists.
    void revealSelectedCloneItems();
    QLabel* verdictIcon() const { return m_verdictIcon; }
    QTreeView* cloneView() const { return m_cloneView; }
    SourceOutlineModel* cloneModel() const { return m_cloneModel.get(); }

    // Rebuilds both pickers from the disk array for the current clone.
    void rebuildPickers();

private:
    std::shared_ptr<ISynchron> current() const;
    void reloadList();
    void applyButtons();
    void applyFolders();
    void applyVerdict();
    void applyAnalyzeState();
    void reloadCloneOutline();
    void storeCloneExcludes();
    void fillPicker(QComboBox* picker, bool source);
    void showPropertiesSheet();

    QPointer<SynchronizePaneController> m_controller; // the application may end it first
    int m_kind;
    std::unique_ptr<SyncListModel> m_listModel;
    IQV3ProjectListView* m_list = nullptr;
    IQVProcessIndicatorView* m_indicator = nullptr;
    QLabel* m_status = nullptr;
    QPushButton* m_add = nullptr;
    QPushButton* m_delete = nullptr;
    QPushButton* m_properties = nullptr;
    QPushButton* m_log = nullptr;
    IQVSynchronizerTopPanel* m_topPanel = nullptr;
    IQVSyncAnalyzeView* m_analyzeView = nullptr;
    QPushButton* m_analyze = nullptr;
    QLabel* m_analyzeLabel = nullptr;
    QPushButton* m_mountImages = nullptr;
    QComboBox* m_sourcePicker = nullptr;
    QComboBox* m_destinationPicker = nullptr;
    QLabel* m_verdict = nullptr;
    QLabel* m_verdictIcon = nullptr;
    QTreeView* m_cloneView = nullptr;
    DirOutlineLister m_lister;
    StringExcludeList m_cloneExcludes;
    std::unique_ptr<SourceOutlineModel> m_cloneModel;
    QString m_cloneSourceShown;
    QPointer<QWidget> m_listPart, m_contentPart, m_statusPart;
    bool m_selectingByCode = false;
    bool m_fillingPickers = false;
    bool m_cloneCheckToAll = false;
};
