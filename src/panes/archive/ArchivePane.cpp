#include "panes/archive/ArchivePane.h"

#include "archive/ArchiveProjectCreate.h"
#include "archive/CBackup.h"
#include "archive/CBackupContainer.h"
#include "archive/CBackupItem.h"
#include "archive/IBackup.h"
#include "panes/archive/ArchiveContentModel.h"
#include "panes/archive/ArchivePaneRules.h"
#include "panes/archive/ArchiveProjectList.h"
#include "panes/archive/ArchiveRestoreView.h"
#include "panes/archive/IBSettingsViewController.h"
#include "panes/archive/IDetailedContentDrawerController.h"
#include "platform/MainThread.h"
#include "platform/NameCodec.h"
#include "projects/ProjectNames.h"
#include "shell/dialogs/IDDOutlineView.h"
#include "shell/dialogs/IQVProcessIndicatorView.h"
#include "utilities/IPathUtil.h"
#include "utilities/IShellServices.h"
#include "utilities/LogOptions.h"
#include "utilities/UiPrompts.h"

#include <QAction>
#include <QCoreApplication>
#include <QDir>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLocale>
#include <QMimeData>
#include <QPushButton>
#include <QSplitter>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <sys/stat.h>

namespace {

QString loc(const char* text)
{
    return QCoreApplication::translate("Localizable", text);
}


} // namespace

// ---- ArchiveListModel ---------------------------------------------------------------------------

ArchiveListModel::ArchiveListModel(ArchiveProjectList* list, ArchiveCoordinator* coordinator, QObject* parent)
    : ProjectListModel(parent)
    , m_list(list)
    , m_coordinator(coordinator)
{ }

int ArchiveListModel::projectCount() const
{
    return m_coordinator->isClosing() ? 0 : m_list->backupCount();
}

ProjectListRow ArchiveListModel::projectRow(int row) const
{
    ProjectListRow r;
    const CBackup* b = m_list->backupAt(row);
    if (!b)
        return r;
    r.name = QStringLiteral("%1. %2").arg(row + 1).arg(b->name());
    const QDateTime last = b->lastBuiltDate();
    r.status = last.isValid() ? QLocale().toString(last.toLocalTime(), QLocale::ShortFormat) : loc("Never done");
    if (b->color().isValid())
        r.color = b->color();
    r.scheduled = b->useSchedule() || b->startOnMount();
    r.inProcess = b->isInProcess();
    r.inQueue = b->isInProcess() && b->currentOperation() == 6;
    return r;
}

bool ArchiveListModel::moveProject(int from, int to)
{
    if (!m_list->moveBackupFrom(from, to))
        return false;
    emit orderChanged();
    return true;
}

bool ArchiveListModel::renameProject(int row, const QString& name)
{
    CBackup* b = m_list->backupAt(row);
    // A name typed in the cell passes the name function: "/" would reach the file names.
    const QString clean = ProjectNames::fromInput(name);
    if (!b || clean.isEmpty() || clean == b->name() || !m_coordinator->isUniqueName(clean, b))
        return false;
    if (!m_list->container()->renameBackup(b, clean))
        return false;
    b->saveProperties();
    return true;
}

bool ArchiveListModel::isNameEditable(int row) const
{
    const CBackup* b = m_list->backupAt(row);
    return b && !b->isInProcess();
}

QStringList ArchiveListModel::mimeTypes() const
{
    return ProjectListModel::mimeTypes() << QStringLiteral("text/uri-list");
}

Qt::DropActions ArchiveListModel::supportedDropActions() const
{
    // Rows move; files dropped from a file manager come as a copy or a link.
    return ProjectListModel::supportedDropActions() | Qt::CopyAction | Qt::LinkAction;
}

bool ArchiveListModel::canDropMimeData(
    const QMimeData* data, Qt::DropAction action, int row, int column, const QModelIndex& parent) const
{
    if (draggedRow(data) >= 0)
        return ProjectListModel::canDropMimeData(data, action, row, column, parent);
    return data && !m_coordinator->isClosing() && !DroppedData::localPaths(data).isEmpty();
}

bool ArchiveListModel::dropMimeData(
    const QMimeData* data, Qt::DropAction action, int row, int column, const QModelIndex& parent)
{
    if (draggedRow(data) >= 0)
        return ProjectListModel::dropMimeData(data, action, row, column, parent);
    const QStringList paths = DroppedData::localPaths(data);
    if (paths.isEmpty() || m_coordinator->isClosing())
        return false;
    CBackup* b = ArchiveProjectCreate::createBackup(*m_list->container(), paths);
    if (!b)
        return false;
    b->createUUID();
    m_list->append(b);
    b->save();
    reloadProjects();
    emit projectCreated(b);
    return true;
}

// ---- ArchivePane --------------------------------------------------------------------------------

ArchivePane::ArchivePane(CBackupContainer* container, QWidget* parent)
    : QWidget(parent)
    , m_container(container)
{
    m_coordinator = std::make_unique<ArchiveCoordinator>(container);
    m_projects = std::make_unique<ArchiveProjectList>(container, m_coordinator.get());
    m_coordinator->setProjectList(m_projects.get());
    m_coordinator->setViews(this);
    m_listModel = std::make_unique<ArchiveListModel>(m_projects.get(), m_coordinator.get());
    m_contentModel = std::make_unique<ArchiveContentModel>(ArchiveContentModel::Mode::Main);

    m_list = new IQV3ProjectListView(this);
    m_list->setModel(m_listModel.get());
    m_list->setDelegate(this);
    m_outline = new IDDOutlineView(this);
    m_outline->setController(this);
    m_outline->setModel(m_contentModel.get());
    IDetailedContentDrawerController::setupOutline(m_outline);

    m_indicator = new IQVProcessIndicatorView(this);
    m_indicator->setOwner(this);
    m_indicator->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    m_indicator->setMinimumWidth(240);
    m_indicator->setToolTip(loc("Backup Now"));
    m_status = new QLabel(this);
    m_status->setTextInteractionFlags(Qt::TextSelectableByMouse);

    m_add = new QPushButton(QStringLiteral("+"), this);
    m_add->setToolTip(loc("Add new project"));
    m_delete = new QPushButton(QStringLiteral("\u2212"), this);
    m_delete->setToolTip(loc("Delete project from the list"));
    m_addFile = new QPushButton(loc("File+"), this);
    m_addFile->setToolTip(loc("Add file/folder to the project"));
    m_removeFile = new QPushButton(loc("File-"), this);
    m_removeFile->setToolTip(loc("Remove file/folder from the project"));
    m_settings = new QPushButton(loc("Settings"), this);
    m_settings->setToolTip(loc("Project settings"));
    m_content = new QPushButton(loc("View Content"), this);
    m_content->setToolTip(loc("Show files/folders in this project"));
    m_restore = new QPushButton(loc("Restore"), this);
    m_restore->setToolTip(loc("Choose an archive you want to restore"));

    auto* listButtons = new QHBoxLayout;
    listButtons->addWidget(m_add);
    listButtons->addWidget(m_delete);
    listButtons->addStretch();
    m_listPart = new QWidget(this);
    auto* leftLayout = new QVBoxLayout(m_listPart);
    leftLayout->setContentsMargins(0, 0, 0, 0);
    leftLayout->addWidget(m_list);
    leftLayout->addLayout(listButtons);
    m_listPart->setFocusProxy(m_list);

    auto* fileButtons = new QHBoxLayout;
    fileButtons->addWidget(m_addFile);
    fileButtons->addWidget(m_removeFile);
    fileButtons->addStretch();
    fileButtons->addWidget(m_content);
    fileButtons->addWidget(m_settings);
    fileButtons->addWidget(m_restore);
    m_contentPart = new QWidget(this);
    auto* rightLayout = new QVBoxLayout(m_contentPart);
    rightLayout->setContentsMargins(0, 0, 0, 0);
    rightLayout->addWidget(m_outline, 1);
    rightLayout->addLayout(fileButtons);

    m_statusPart = new QWidget(this);
    auto* bottom = new QHBoxLayout(m_statusPart);
    bottom->setContentsMargins(0, 0, 0, 0);
    bottom->addWidget(m_indicator);
    bottom->addWidget(m_status, 1);

    // Standing alone the pane lays out its own parts; the main window takes them apart.
    auto* splitter = new QSplitter(this);
    splitter->addWidget(m_listPart);
    splitter->addWidget(m_contentPart);
    splitter->setStretchFactor(1, 1);
    splitter->setSizes({ 260, 640 });
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(splitter, 1);
    layout->addWidget(m_statusPart);

    const std::pair<int, const char*> menuItems[] = { { 1401, "Build Archive" }, { 1402, "Stop" },
        { 1403, "Restore to Original Location" }, { 1404, "Restore to Folder..." } };
    for (const auto& [tag, title] : menuItems) {
        auto* a = new QAction(loc(title), this);
        a->setData(tag);
        m_menuActions << a;
    }
    connect(m_menuActions[0], &QAction::triggered, this, [this] { build(); });
    connect(m_menuActions[1], &QAction::triggered, this, [this] {
        m_container->stopTar();
        refreshRunState();
    });
    connect(m_menuActions[2], &QAction::triggered, this, [this] {
        // Everything of the selected archive, to where it came from (asks first).
        if (!current())
            return;
        m_container->restoreSelectedBackups(QString(), RestoreMembers(), true);
        refreshRunState();
    });
    connect(m_menuActions[3], &QAction::triggered, this, &ArchivePane::openRestoreView);

    m_runTimer = new QTimer(this);
    m_runTimer->setInterval(250);
    connect(m_runTimer, &QTimer::timeout, this, &ArchivePane::refreshRunState);

    connect(m_add, &QPushButton::clicked, this, [this] { actAddProject(m_add); });
    connect(m_delete, &QPushButton::clicked, this, [this] {
        if (m_projects->deleteCurrentProject()) {
            redrawProjectList();
            syncSelectionWithData();
        }
    });
    connect(m_addFile, &QPushButton::clicked, this, &ArchivePane::addFilesByUser);
    connect(m_removeFile, &QPushButton::clicked, this, [this] {
        UiPrompts::Alert a;
        a.style = UiPrompts::AlertStyle::Warning;
        a.title = loc("Do you want to stop backing up the selected file/folder?");
        a.buttons = { loc("OK"), loc("Cancel") };
        int answer = -1;
        {
            ModalDepthGuard modal;
            answer = UiPrompts::shared().showAlert(a);
        }
        if (answer == 0)
            removeSelectedContent();
    });
    connect(m_restore, &QPushButton::clicked, this, &ArchivePane::openRestoreView);
    connect(m_settings, &QPushButton::clicked, this, &ArchivePane::openSettings);
    connect(m_outline, &QTreeView::collapsed, m_contentModel.get(), &ArchiveContentModel::collapsed);
    connect(m_contentModel.get(), &ArchiveContentModel::contentEdited, this, [this] {
        if (CBackup* b = current())
            b->save();
        validateControls();
    });
    connect(m_outline->header(), &QHeaderView::sectionClicked, this, &ArchivePane::toggleAllChecks);
    connect(m_content, &QPushButton::clicked, this, &ArchivePane::showDetailedContent);
    connect(m_list->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
        [this](const QModelIndex& index) {
            if (m_selectingByCode || !index.isValid())
                return;
            m_projects->selectRow(index.row());
            syncSelectionWithData();
        });
    // After the move has ended: the list is redrawn outside the model's move.
    connect(m_listModel.get(), &ArchiveListModel::orderChanged, this, [this] { redrawProjectList(); },
        Qt::QueuedConnection);
    connect(m_listModel.get(), &ArchiveListModel::projectCreated, this, [this](CBackup*) {
        redrawProjectList();
        syncSelectionWithData();
    });
    connect(m_outline->selectionModel(), &QItemSelectionModel::selectionChanged, this,
        &ArchivePane::validateControls);
    validateMenuActions();
}

ArchivePane::~ArchivePane()
{
    // The views go before the models they show; in the main window the window may have
    // deleted the parts already.
    delete m_listPart.data();
    delete m_contentPart.data();
    delete m_statusPart.data();
    m_contentModel->setProject(nullptr);
}

ArchivePane* ArchivePane::create(CBackupContainer* container, QWidget* parent)
{
    return new ArchivePane(container, parent);
}

void ArchivePane::loadBackups(const QVariantList& savedOrder)
{
    m_projects->setupProjectList(savedOrder);
    m_coordinator->initFirstBackup();
    syncSelectionWithData();
}

CBackup* ArchivePane::current() const
{
    return m_coordinator->isClosing() ? nullptr : m_projects->currentBackup();
}

void ArchivePane::selectRow(int row)
{
    m_projects->selectRow(row);
    redrawProjectList();
    syncSelectionWithData();
}

void ArchivePane::syncSelectionWithData()
{
    CBackup* b = current();
    if (b && b->loadState() == 1)
        b->reload(); // the list read the top level only
    m_contentModel->setProject(b);
    validateControls();
    emit currentProjectChanged();
}

bool ArchivePane::newBackupByUser()
{
    UiPrompts::ItemChoiceRequest r;
    r.prompt = loc("Choose files and folders to add to the backup");
    r.okButton = loc("Choose");
    r.files = true;
    r.folders = true;
    r.multiple = true;
    QStringList paths;
    {
        ModalDepthGuard modal;
        paths = UiPrompts::shared().chooseItems(r);
    }
    if (paths.isEmpty())
        return false;
    CBackup* b = ArchiveProjectCreate::createBackup(*m_container, paths);
    if (!b)
        return false;
    b->createUUID();
    m_projects->append(b);
    b->save();
    redrawProjectList();
    syncSelectionWithData();
    return true;
}

void ArchivePane::addFilesByUser()
{
    if (!current())
        return;
    UiPrompts::ItemChoiceRequest r;
    r.prompt = loc("Choose files and folders to add to the backup");
    r.okButton = loc("Choose");
    r.files = true;
    r.folders = true;
    r.multiple = true;
    QStringList paths;
    {
        ModalDepthGuard modal;
        paths = UiPrompts::shared().chooseItems(r);
    }
    if (!paths.isEmpty())
        m_coordinator->addFilesToContent(paths);
}

void ArchivePane::addFilesToContent(const QStringList& paths)
{
    CBackup* b = current();
    if (!b || b->isInProcess())
        return;
    IBackup* ib = b->getIBackup();
    ib->processMessage(loc("Reload content data..."), 0x4761, ib);
    int added = 0;
    m_contentModel->setProject(nullptr); // the tree changes below
    b->editTree([&] {
        for (const QString& raw : paths) {
            const QString path = IPathUtil::expandHome(raw);
            struct stat st = {};
            if (::lstat(NameCodec::encode(path).constData(), &st) != 0) {
                ib->processMessage(loc("File Adding Error: file <%1> was not found.").arg(path), 0x4781, ib);
                continue;
            }
            if (b->addItemFromDisk(path))
                ++added;
        }
    });
    ib->processMessage(QString(), 0x4022, ib);
    if (added > 0)
        b->save();
    m_contentModel->setProject(b);
    validateControls();
}

bool ArchivePane::removeSelectedContent()
{
    CBackup* b = current();
    if (!b || b->isInProcess())
        return false;
    QList<CBackupItem*> items;
    for (const QModelIndex& i : m_outline->selectionModel()->selectedRows(ArchiveContentModel::ColName))
        if (CBackupItem* item = m_contentModel->itemAt(i))
            items << item;
    if (items.isEmpty())
        return false;
    QList<CBackupItem*> deleted;
    QList<CBackupItem*> uncheck;
    QList<CBackupItem*> remove;
    for (CBackupItem* item : items) {
        if (!item->getParent()) {
            // Kept while older archives hold it.
            if (item->lastBackupDate().isValid())
                deleted << item;
            else
                remove << item;
        } else if (item->flags() & (BIF_LOCATED | BIF_EXISTS)) {
            uncheck << item;
        } else {
            remove << item;
        }
    }
    for (CBackupItem* item : uncheck) {
        const QModelIndex i = m_contentModel->indexOfItem(item);
        if (i.isValid())
            m_contentModel->setIncluded(i, false);
    }
    for (CBackupItem* item : deleted)
        m_contentModel->setDeletedFromBackup(item, true);
    if (!remove.isEmpty()) {
        m_contentModel->setProject(nullptr); // before the tree frees the items
        b->editTree([&] {
            // Deepest first, so a parent never goes before its selected children.
            std::sort(remove.begin(), remove.end(), [](const CBackupItem* a, const CBackupItem* c) {
                int da = 0, dc = 0;
                for (auto* p = a->getParent(); p; p = p->getParent())
                    ++da;
                for (auto* p = c->getParent(); p; p = p->getParent())
                    ++dc;
                return da > dc;
            });
            for (CBackupItem* item : remove) {
                if (CBackupItem* parent = item->getParent())
                    parent->removeItem(item);
                else
                    b->removeItem(item);
            }
        });
        m_contentModel->setProject(b);
    }
    b->setTreeChanged(true);
    b->getIBackup()->registerExternalChange(5);
    b->save();
    validateControls();
    return true;
}

void ArchivePane::openRestoreView()
{
    CBackup* b = current();
    if (!b || b->isInProcess())
        return;
    // The view reads the project again from its file: the outline lets go of its items first.
    m_contentModel->setProject(nullptr);
    {
        ArchiveRestoreView view(m_container, b, this);
        view.exec();
    }
    m_contentModel->setProject(b);
    refreshRunState();
}

void ArchivePane::openSettings()
{
    CBackup* b = current();
    if (!b || b->isInProcess())
        return;
    IBSettingsViewController sheet(m_container, m_coordinator.get(), this);
    if (sheet.showWindowForBackup(b))
        redrawProjectList();
    validateControls();
}

void ArchivePane::toggleAllChecks(int section)
{
    // The check column's header: uncheck all, then check all.
    if (section != ArchiveContentModel::ColIncluded || !current() || current()->isInProcess())
        return;
    m_contentModel->setAllIncluded(m_checkToAll);
    m_checkToAll = !m_checkToAll;
}

void ArchivePane::showDetailedContent()
{
    CBackup* b = current();
    if (!b || b->isInProcess())
        return;
    IDetailedContentDrawerController sheet(m_contentModel.get(), this, b->name(), window());
    connect(sheet.contentView()->header(), &QHeaderView::sectionClicked, this, &ArchivePane::toggleAllChecks);
    {
        ModalDepthGuard modal;
        sheet.exec();
    }
    reloadViewData();
    validateControls();
}

bool ArchivePane::saveCurrent()
{
    CBackup* b = current();
    return b && b->save();
}

// ---- IArchiveViews ----

int ArchivePane::contentRowCount()
{
    return m_contentModel->rowCount();
}

QString ArchivePane::firstContentRowName()
{
    return m_contentModel->rowCount() > 0
        ? m_contentModel->index(0, ArchiveContentModel::ColName).data().toString()
        : QString();
}

void ArchivePane::build()
{
    CBackup* b = current();
    if (!b)
        return;
    m_externalChanges = b->getIBackup()->externalChangeCount();
    m_container->buildSelectedBackups();
    refreshRunState();
}

void ArchivePane::reloadContent(IBackup* backup, bool)
{
    m_contentModel->setProject(backup ? backup->backup() : nullptr);
}

void ArchivePane::redrawProjectList()
{
    m_selectingByCode = true;
    m_listModel->reloadProjects();
    m_list->selectRowByCode(m_projects->currentBackupIndex());
    m_selectingByCode = false;
}

void ArchivePane::validateControls()
{
    // The coordinator's state check asks for this validation again.
    if (m_validating)
        return;
    m_validating = true;
    CBackup* b = current();
    const bool running = b && b->isInProcess();
    m_delete->setEnabled(b && !running);
    m_addFile->setEnabled(b && !running);
    m_removeFile->setEnabled(b && !running && m_outline->selectionModel()->hasSelection());
    m_settings->setEnabled(b && !running);
    m_content->setEnabled(b && !running);
    m_restore->setEnabled(b && !running && (!b->archives().empty() || b->lastBuiltDate().isValid()));
    m_coordinator->checkBackupButtonState();
    m_status->setText(b ? ProjectNames::trimStatus(b->getIBackup()->lastStatusString()) : QString());
    if (CBackup::m_nTarRunning > 0 || (b && b->isInProcess()))
        m_runTimer->start();
    validateMenuActions();
    m_validating = false;
}

QAction* ArchivePane::menuAction(int tag) const
{
    for (QAction* a : m_menuActions)
        if (a->data().toInt() == tag)
            return a;
    return nullptr;
}

QList<QAction*> ArchivePane::kitMenuActions()
{
    return m_menuActions;
}

void ArchivePane::validateMenuActions()
{
    CBackup* b = current();
    ArchivePaneRules::MenuInput in;
    in.queueEmpty = !m_container->isQueueNotEmpty();
    in.runListEmpty = !m_container->getBackupInProcess();
    in.tarRunning = CBackup::m_nTarRunning > 0;
    in.archiveSelected = b && !b->archives().empty(); // a restore has an archive to read
    const ArchivePaneRules::MenuStates s = ArchivePaneRules::menuStates(in);
    m_menuActions[0]->setEnabled(s.build && b);
    m_menuActions[1]->setEnabled(s.stop);
    m_menuActions[2]->setEnabled(s.restoreToOriginal);
    m_menuActions[3]->setEnabled(s.restoreToFolder);
}

void ArchivePane::kitAction(Action action)
{
    switch (action) {
    case Action::AddProject:
        actAddProject(nullptr);
        break;
    case Action::DeleteProject:
        m_delete->click();
        break;
    case Action::ProjectProperties:
        openSettings();
        break;
    case Action::ProcessProject:
        mainButtonClickedOn(m_indicator);
        break;
    case Action::RestoreProject:
        openRestoreView();
        break;
    }
}

IProcessIndicator* ArchivePane::indicator()
{
    return m_indicator;
}

void ArchivePane::refreshRunState()
{
    const bool busy = CBackup::m_nTarRunning > 0 || m_container->isQueueNotEmpty()
        || m_container->getBackupInProcess();
    CBackup* b = current();
    const int state = m_coordinator->checkBackupButtonState();
    if (state == 2 && b)
        m_indicator->setStateButton(2, b->getIBackup()->indicatorPosition());
    m_status->setText(b ? ProjectNames::trimStatus(b->getIBackup()->lastStatusString()) : QString());
    m_listModel->reloadProjects();
    // The run changed the project's tree: the outline shows it again.
    if (b && b->getIBackup()->externalChangeCount() != m_externalChanges) {
        m_externalChanges = b->getIBackup()->externalChangeCount();
        m_contentModel->setProject(b);
    }
    if (busy) {
        // A run began outside the control (the restore view, the menu): follow it to its end.
        if (!m_runTimer->isActive())
            m_runTimer->start();
    } else {
        m_runTimer->stop();
        if (b)
            m_contentModel->setProject(b);
        validateControls();
    }
    validateMenuActions();
}

// ---- IArchiveKit ----

IBackup* ArchivePane::currentBackup()
{
    CBackup* b = current();
    return b ? b->getIBackup() : nullptr;
}

IBackup* ArchivePane::getViewIBackup()
{
    CBackup* b = m_contentModel->project();
    return b ? b->getIBackup() : nullptr;
}

void ArchivePane::reloadContentViewData(IBackup* backup)
{
    reloadContent(backup, false);
}

void ArchivePane::eventChangedCurrentBackup()
{
    redrawProjectList();
    syncSelectionWithData();
}

void ArchivePane::saveProjectOrderListToDict(QVariantList& list)
{
    m_projects->saveProjectOrderListToDict(list);
}

void ArchivePane::appClosing()
{
    m_coordinator->appClosing();
    m_runTimer->stop();
}

// ---- IDDOutlineViewController ----

bool ArchivePane::isDragAndDrop()
{
    return current() && m_coordinator->isDragAndDrop();
}

void ArchivePane::addTemplateToContent(const QString&, const QImage&) { }

void ArchivePane::reloadViewData()
{
    m_coordinator->fullReloadBackupData();
}

bool ArchivePane::isEmptyContentAndString(QString* text)
{
    CBackup* b = current();
    const bool empty = !b || b->count() == 0;
    if (text)
        *text = b && empty
            ? loc("Add files and folders to the backup using \"File+\" button below or drag and drop them.")
            : QString();
    return empty;
}

void ArchivePane::mainButtonClickedOn(IProcessIndicator* indicator)
{
    m_coordinator->mainButtonClickedOn(indicator);
    refreshRunState();
}

void ArchivePane::actAddProject(QObject*)
{
    if (m_projects->addProject()) {
        redrawProjectList();
        syncSelectionWithData();
    }
}

void ArchivePane::actShowProjectProperties(QObject*)
{
    openSettings();
}

void ArchivePane::menuColorLabelSelect(int tag)
{
    if (m_projects->setCurrentProjectColorLabel(tag)) {
        if (CBackup* b = current())
            b->saveProperties();
        m_listModel->reloadProjects();
    }
}

void ArchivePane::setKitStatusText(const QString& text)
{
    m_status->setText(text);
}
