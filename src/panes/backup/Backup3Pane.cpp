#include "panes/backup/Backup3Pane.h"

#include "panes/backup/Backup3PaneController.h"
#include "panes/backup/Backup3PaneRules.h"
#include "panes/backup/IB3RestoreController.h"
#include "panes/backup/IBackup3PropertiesController.h"
#include "panes/backup/IDiskImageCreater.h"
#include "panes/backup/IExternalRestoreWindow.h"
#include "platform/DesktopServices.h"
#include "platform/MainThread.h"
#include "platform/NameCodec.h"
#include "projects/ILocation.h"
#include "projects/ITemplateTool.h"
#include "projects/ProjectColor.h"
#include "projects/SourceOutlineModel.h"
#include "shell/dialogs/IQV3ProjectListView.h"
#include "shell/dialogs/IQVProcessIndicatorView.h"
#include "shell/dialogs/ISourceOutlineView.h"
#include "snapshot/B3RestoreRequest.h"
#include "snapshot/IBackup3.h"
#include "snapshot/IBackup3Container.h"
#include "utilities/ICommon.h"
#include "utilities/IPathUtil.h"
#include "utilities/IShellServices.h"
#include "utilities/LogOptions.h"
#include "utilities/UiPrompts.h"

#include <QCoreApplication>
#include <QDir>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLocale>
#include <QMenu>
#include <QPushButton>
#include <QSplitter>
#include <QVBoxLayout>
#include <sys/stat.h>

namespace {

QString loc(const char* text)
{
    return QCoreApplication::translate("Localizable", text);
}


} // namespace

// ---- Backup3ListModel ---------------------------------------------------------------------------

Backup3ListModel::Backup3ListModel(Backup3PaneController* controller, QObject* parent)
    : ProjectListModel(parent)
    , m_controller(controller)
{ }

int Backup3ListModel::projectCount() const
{
    IBackup3Container* c = m_controller->container();
    return c ? int(c->countOfBackups3()) : 0;
}

ProjectListRow Backup3ListModel::projectRow(int row) const
{
    ProjectListRow r;
    IBackup3Container* c = m_controller->container();
    if (!c || row < 0 || row >= c->countOfBackups3())
        return r;
    const std::shared_ptr<IBackup3> p = c->backupList().at(row);
    r.name = p->name();
    const QDateTime last = p->lastProcessDate();
    r.status = last.isValid() ? QLocale().toString(last, QLocale::ShortFormat) : loc("Never done");
    if (p->color().isValid())
        r.color = p->color();
    r.scheduled = p->isScheduled() || p->isProcessOnMount();
    r.inProcess = p->isInProcess();
    r.inQueue = p->isInProcess() && p->currentOperation() == 6;
    return r;
}

bool Backup3ListModel::moveProject(int from, int to)
{
    IBackup3Container* c = m_controller->container();
    if (!c || !c->moveBackup3From(from, to))
        return false;
    c->save();
    return true;
}

bool Backup3ListModel::renameProject(int row, const QString& name)
{
    IBackup3Container* c = m_controller->container();
    if (!c || row < 0 || row >= c->countOfBackups3())
        return false;
    c->setCurrentBackup3ByIndex(row);
    return m_controller->renameCurrentProject(name);
}

bool Backup3ListModel::isNameEditable(int row) const
{
    IBackup3Container* c = m_controller->container();
    return c && row >= 0 && row < c->countOfBackups3() && !c->backupList().at(row)->isInProcess();
}

// ---- Backup3Pane --------------------------------------------------------------------------------

Backup3Pane* Backup3Pane::create(Backup3PaneController* controller, QWidget* parent)
{
    return new Backup3Pane(controller, parent);
}

Backup3Pane::Backup3Pane(Backup3PaneController* controller, QWidget* parent)
    : QWidget(parent)
    , m_controller(controller)
{
    m_listModel = std::make_unique<Backup3ListModel>(controller);
    m_outlineModel = std::make_unique<SourceOutlineModel>(&m_lister, &m_excludes);

    m_list = new IQV3ProjectListView(this);
    m_list->setModel(m_listModel.get());
    m_outline = new ISourceOutlineView(this);
    m_outline->setCheckColumn(SourceOutlineModel::ColIncluded);
    m_outline->setController(this);
    m_outline->setModel(m_outlineModel.get());
    m_outline->setUniformRowHeights(true);
    m_outline->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_outline->header()->setSectionsClickable(true);
    m_outline->header()->setStretchLastSection(false);
    m_outline->header()->setSectionResizeMode(SourceOutlineModel::ColName, QHeaderView::Stretch);
    m_outline->header()->resizeSection(SourceOutlineModel::ColIncluded, 28);
    m_outline->header()->resizeSection(SourceOutlineModel::ColKind, 90);
    m_outline->header()->resizeSection(SourceOutlineModel::ColDate, dateColumnWidth(m_outline, SourceOutlineModel::ColDate));
    m_outline->setTreePosition(SourceOutlineModel::ColName);
    if (IBackup3Container* c = controller->container())
        m_outlineModel->setHiddenList(c->defaultHiddensList());

    m_indicator = new IQVProcessIndicatorView(this);
    m_indicator->setOwner(this);
    m_indicator->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    m_indicator->setMinimumWidth(240);
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
    m_restore = new QPushButton(loc("Restore"), this);
    m_restore->setToolTip(loc("Choose one of the previous backups to restore"));

    m_properties = new QPushButton(QStringLiteral("\u2699"), this);
    m_properties->setToolTip(loc("Setup project Properties"));
    m_template = new QPushButton(loc("Apps Data+"), this);
    m_template->setToolTip(loc("Add app data to the project"));
    m_templateMenu = new QMenu(m_template);
    m_template->setMenu(m_templateMenu);
    prepareTemplatesMenu();

    m_projectMenu = new QMenu(this);
    connect(m_projectMenu->addAction(loc("Properties...")), &QAction::triggered, this,
        &Backup3Pane::showProperties);
    connect(m_projectMenu->addAction(loc("Restore from Folder...")), &QAction::triggered, this,
        &Backup3Pane::restoreExternal);
    connect(m_projectMenu->addAction(loc("Create Disk Image...")), &QAction::triggered, this,
        [this] { IDiskImageCreater::showDialog(window()); });
    connect(m_projectMenu->addAction(loc("Duplicate")), &QAction::triggered, this,
        [this] { m_controller->duplicateCurrentProject(); });
    connect(m_projectMenu->addAction(loc("Delete Project")), &QAction::triggered, this,
        [this] { m_controller->deleteCurrentProject(); });
    m_list->setDelegate(this);
    m_list->setMenu(m_projectMenu);

    m_outlineMenu = new QMenu(this);
    connect(m_outlineMenu->addAction(loc("Show in File Manager")), &QAction::triggered, this,
        &Backup3Pane::revealSelected);
    connect(m_outlineMenu->addAction(loc("Remove from Backup")), &QAction::triggered, this,
        &Backup3Pane::removeSelectedSources);
    m_outline->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_outline, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        if (current() && m_outline->indexAt(pos).isValid())
            m_outlineMenu->popup(m_outline->viewport()->mapToGlobal(pos));
    });

    auto* listButtons = new QHBoxLayout;
    listButtons->addWidget(m_add);
    listButtons->addWidget(m_delete);
    listButtons->addWidget(m_properties);
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
    fileButtons->addWidget(m_template);
    fileButtons->addStretch();
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
    bottom->setAlignment(m_indicator, Qt::AlignBottom);

    // Standing alone the pane lays out its own parts; the main window takes them apart.
    auto* splitter = new QSplitter(this);
    splitter->addWidget(m_listPart);
    splitter->addWidget(m_contentPart);
    splitter->setStretchFactor(1, 1);
    splitter->setSizes({ 260, 640 });
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(splitter, 1);
    layout->addWidget(m_statusPart);

    connect(m_add, &QPushButton::clicked, this, [this] { m_controller->addProject(); });
    connect(m_properties, &QPushButton::clicked, this, &Backup3Pane::showProperties);
    connect(m_restore, &QPushButton::clicked, this, &Backup3Pane::showRestore);
    connect(controller, &Backup3PaneController::propertiesRequested, this, &Backup3Pane::showProperties);
    connect(controller, &Backup3PaneController::deviceListChanged, this, [this] {
        if (m_sheet)
            m_sheet->volumeBaseUpdated();
    });
    connect(m_delete, &QPushButton::clicked, this, [this] { m_controller->deleteCurrentProject(); });
    connect(m_addFile, &QPushButton::clicked, this, &Backup3Pane::addFilesByUser);
    connect(m_removeFile, &QPushButton::clicked, this, &Backup3Pane::removeSelectedSources);
    connect(m_outlineModel.get(), &SourceOutlineModel::excludesEdited, this, &Backup3Pane::storeExcludes);
    connect(m_outline, &ISourceOutlineView::checkAllToggled, this, [this](bool checkAll) {
        // The check column's header toggles every row.
        if (current() && !current()->isInProcess())
            m_outlineModel->setAllIncluded(checkAll);
    });
    connect(m_list->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
        [this](const QModelIndex& index) {
            if (m_selectingByCode || !index.isValid() || !m_controller->container())
                return;
            m_controller->container()->setCurrentBackup3ByIndex(index.row());
            m_controller->eventProjectChanged();
        });
    connect(m_outline->selectionModel(), &QItemSelectionModel::selectionChanged, this,
        &Backup3Pane::validateButtons);
    connect(controller, &Backup3PaneController::statusLineChanged, m_status, &QLabel::setText);
    connect(controller, &Backup3PaneController::projectListChanged, this, &Backup3Pane::reloadList);
    connect(controller, &Backup3PaneController::projectChanged, this, &Backup3Pane::reloadOutline);
    connect(controller, &Backup3PaneController::buttonsChanged, this, &Backup3Pane::validateButtons);
    connect(controller, &Backup3PaneController::indicatorChanged, this, &Backup3Pane::validateIndicator);

    reloadList();
    reloadOutline();
    validateButtons();
    validateIndicator();
    m_status->setText(controller->statusLine());
}

Backup3Pane::~Backup3Pane()
{
    // The views go before the models they show; in the main window the window may have
    // deleted the parts already.
    delete m_listPart.data();
    delete m_contentPart.data();
    delete m_statusPart.data();
}

std::shared_ptr<IBackup3> Backup3Pane::current() const
{
    IBackup3Container* c = m_controller->container();
    return c ? c->currentBackup3() : nullptr;
}

void Backup3Pane::reloadList()
{
    m_selectingByCode = true;
    m_listModel->reloadProjects();
    IBackup3Container* c = m_controller->container();
    if (c && c->currentBackup3Index() >= 0)
        m_list->setCurrentIndex(
            m_listModel->index(int(c->currentBackup3Index()), ProjectListModel::NameColumn));
    m_selectingByCode = false;
}

void Backup3Pane::reloadOutline()
{
    const std::shared_ptr<IBackup3> p = current();
    m_excludes.setEntries(p && p->excludePathList() ? *p->excludePathList() : QStringList());
    QList<SourceOutlineModel::Source> sources;
    if (p) {
        const auto& locations = p->srcLocations();
        for (qsizetype i = 0; i < locations.size(); ++i)
            if (locations.at(i))
                sources.append({ locations.at(i)->getUnverifiedFullPath(), qint64(i) });
    }
    m_outlineModel->setSources(sources);
    m_outline->viewport()->update();
    validateButtons();
    validateIndicator();
}

void Backup3Pane::storeExcludes()
{
    const std::shared_ptr<IBackup3> p = current();
    if (!p)
        return;
    p->setExcludePathList(
        m_excludes.entries().isEmpty() ? std::nullopt : std::optional(m_excludes.entries()));
    if (IBackup3Container* c = m_controller->container())
        c->save();
    validateButtons();
}

void Backup3Pane::validateButtons()
{
    const std::shared_ptr<IBackup3> p = current();
    Backup3PaneRules::ButtonInput in;
    IBackup3Container* c = m_controller->container();
    in.projectCount = c ? int(c->countOfBackups3()) : 0;
    if (p) {
        in.currentInProcess = p->isInProcess();
        in.hasSources = !p->srcLocations().isEmpty();
        in.hasLastVersion = !p->lastProcessFolder().isEmpty();
        in.useImage = p->useBDI();
        in.hasImageObject = p->BDI() != nullptr;
    }
    const QModelIndexList rows = m_outline->selectionModel()->selectedRows(SourceOutlineModel::ColIncluded);
    in.hasOutlineSelection = !rows.isEmpty();
    for (const QModelIndex& i : rows) {
        const quint32 attr = i.data(SourceOutlineModel::AttrRole).toUInt();
        if (!i.parent().isValid() || (attr & (OutlineNode::Included | OutlineNode::Partly)))
            in.selectionCheckedOrTopLevel = true;
    }
    const Backup3PaneRules::Buttons b = Backup3PaneRules::validateButtons(in);
    if (!b.apply)
        return;
    m_delete->setEnabled(b.deleteProject);
    m_properties->setEnabled(b.deleteProject);
    m_template->setEnabled(b.addFile);
    m_addFile->setEnabled(b.addFile);
    m_removeFile->setEnabled(b.removeFile);
    m_restore->setEnabled(b.restore);
}

void Backup3Pane::validateIndicator()
{
    const std::shared_ptr<IBackup3> p = current();
    m_indicator->setStateButton(p ? p->mainButtonState() : 0, p ? p->indicatorPosition() : 0);
    // The rows show the new state; the current project stays selected.
    reloadList();
}

void Backup3Pane::addFilesByUser()
{
    if (!current())
        return;
    UiPrompts::ItemChoiceRequest r;
    r.prompt = loc("Choose files and folders to add to the backup");
    r.okButton = loc("Choose");
    r.files = true;
    r.folders = true;
    r.multiple = true;
    const QStringList paths = UiPrompts::shared().chooseItems(r);
    if (!paths.isEmpty())
        addFilesToContent(paths);
}

void Backup3Pane::addFilesToContent(const QStringList& paths)
{
    const std::shared_ptr<IBackup3> p = current();
    if (!p)
        return;
    for (const QString& raw : paths) {
        const QString path = IPathUtil::expandHome(raw);
        struct stat st = {};
        if (::lstat(NameCodec::encode(path).constData(), &st) != 0) {
            m_controller->sendTextInfo(
                loc("File Adding Error: file <%1> was not found.").arg(path), 1, tpFullLog, nullptr);
            continue;
        }
        std::shared_ptr<ILocation> location(ILocation::create());
        if (location->setupWithPath(path))
            p->addSrcLocation(location);
    }
    if (IBackup3Container* c = m_controller->container())
        c->save();
    m_controller->eventProjectChanged();
}

void Backup3Pane::removeSelectedSources()
{
    const std::shared_ptr<IBackup3> p = current();
    if (!p || p->isInProcess())
        return;
    QList<int> topRows;
    for (const QModelIndex& i : m_outline->selectionModel()->selectedRows(SourceOutlineModel::ColIncluded))
        if (!i.parent().isValid())
            topRows << i.row();
    if (topRows.isEmpty())
        return;
    UiPrompts::Alert a;
    a.style = UiPrompts::AlertStyle::Warning;
    a.title = loc("Do you want to stop backing up the selected file/folder?");
    a.buttons = { loc("OK"), loc("Cancel") };
    if (UiPrompts::shared().showAlert(a) != 0)
        return;
    std::sort(topRows.begin(), topRows.end(), std::greater<int>());
    for (int row : topRows) {
        const OutlineNode* node = m_outlineModel->nodeAt(m_outlineModel->index(row, 0));
        if (!node)
            continue;
        p->removePathFromExcludePathList(node->path());
        p->deleteSrcLocationByIndex(long(node->sourceIndex));
    }
    if (IBackup3Container* c = m_controller->container())
        c->save();
    m_controller->eventProjectChanged();
}

bool Backup3Pane::isDragAndDrop()
{
    IBackup3Container* c = m_controller->container();
    return current() && c && !c->isProcessing();
}

void Backup3Pane::prepareTemplatesMenu()
{
    m_templateMenu->clear();
    ITemplateTool* tool = ITemplateTool::shared();
    if (!tool)
        return;
    const bool photos = ICommon::isPhotosInstalled();
    for (int i = 0; i < tool->count(); ++i) {
        const QString name = tool->templateName(i);
        if ((name == QLatin1String("Photos") && !photos) || (name == QLatin1String("iPhoto") && photos))
            continue;
        QAction* a = m_templateMenu->addAction(tool->templateIcon(name), loc(name.toUtf8().constData()));
        connect(a, &QAction::triggered, this, [this, name] { addTemplateByName(name); });
    }
}

void Backup3Pane::addTemplateByName(const QString& name)
{
    addTemplateToContent(name, QImage());
}

void Backup3Pane::addTemplateToContent(const QString& description, const QImage&)
{
    ITemplateTool* tool = ITemplateTool::shared();
    if (!tool || !current())
        return;
    const std::optional<QStringList> paths = tool->templateContent(description);
    if (paths && !paths->isEmpty())
        addFilesToContent(*paths);
}

void Backup3Pane::showProperties()
{
    const std::shared_ptr<IBackup3> p = current();
    if (!p || p->isInProcess() || m_sheet)
        return;
    const bool wasScheduled = p->isScheduled();
    m_sheet = new IBackup3PropertiesController(m_controller, p, window());
    connect(m_sheet, &QDialog::finished, this, [this, p, wasScheduled](int result) {
        m_controller->endBackup3Properties(p.get(), result == QDialog::Accepted, wasScheduled);
        if (m_sheet)
            m_sheet->deleteLater();
    });
    m_sheet->open();
}

bool Backup3Pane::showRestore()
{
    const std::shared_ptr<IBackup3> p = current();
    if (!p || p->isInProcess() || (m_restoreSheet && m_restoreSheet->isVisible()))
        return false;
    if (!m_restoreSheet)
        m_restoreSheet = new IB3RestoreController(m_controller, window());
    return m_restoreSheet->showForBackup(p);
}

bool Backup3Pane::restoreExternal()
{
    if (m_restoreSheet && m_restoreSheet->isVisible())
        return false;
    const QString folder = m_controller->chooseExternalRestoreFolder();
    if (folder.isEmpty())
        return false;
    if (!m_restoreSheet)
        m_restoreSheet = new IB3RestoreController(m_controller, window());
    if (!m_externalWindow) {
        m_externalWindow = new IExternalRestoreWindow(m_controller, window());
        connect(m_restoreSheet, &IB3RestoreController::externalRestoreStarted, m_externalWindow,
            &IExternalRestoreWindow::start);
    }
    const QString name = folder.mid(folder.lastIndexOf(QLatin1Char('/')) + 1);
    return m_restoreSheet->showForFolder(folder, B3RestoreRequest::externalRestoreName(name));
}

void Backup3Pane::revealSelected()
{
    const QModelIndex index = m_outline->currentIndex();
    const OutlineNode* node = index.isValid() ? m_outlineModel->nodeAt(index) : nullptr;
    struct stat st = {};
    if (node && ::lstat(NameCodec::encode(node->path()).constData(), &st) == 0
        && DesktopServices::reveal(node->path()))
        return;
    UiPrompts::Alert a;
    a.style = UiPrompts::AlertStyle::Critical;
    a.title = loc("File or folder not found");
    a.buttons = { loc("OK") };
    ModalDepthGuard modal;
    UiPrompts::shared().showAlert(a);
}

void Backup3Pane::kitAction(Action action)
{
    switch (action) {
    case Action::AddProject:
        m_controller->addProject();
        break;
    case Action::DeleteProject:
        m_controller->deleteCurrentProject();
        break;
    case Action::ProjectProperties:
        showProperties();
        break;
    case Action::ProcessProject:
        mainButtonClickedOn(m_indicator);
        break;
    case Action::RestoreProject:
        showRestore();
        break;
    }
}

void Backup3Pane::actAddProject(QObject*)
{
    m_controller->addProject();
}

void Backup3Pane::actShowProjectProperties(QObject*)
{
    showProperties();
}

void Backup3Pane::menuColorLabelSelect(int tag)
{
    if (tag >= 0 && tag < ProjectColor::kLabelCount)
        m_controller->setCurrentProjectColor(ProjectColor::kLabels[tag].color());
}

void Backup3Pane::reloadViewData()
{
    m_controller->eventProjectPropertyChanged();
}

bool Backup3Pane::isEmptyContentAndString(QString* text)
{
    IBackup3Container* c = m_controller->container();
    const std::shared_ptr<IBackup3> p = current();
    const bool empty = !c || c->countOfBackups3() == 0 || !p || p->srcLocations().isEmpty();
    if (text)
        *text = (c && c->countOfBackups3() > 0 && empty)
            ? loc("Add files and folders to the backup using \"File+\" button below or drag and drop them.")
            : QString();
    return empty;
}

void Backup3Pane::mainButtonClickedOn(IProcessIndicator* indicator)
{
    IBackup3Container* c = m_controller->container();
    if (!c || !indicator)
        return;
    if (indicator->buttonState() == 1)
        c->processCurrentProject();
    else if (indicator->buttonState() == 2)
        c->abortProcessCurrentProject();
    validateIndicator();
}

void Backup3Pane::setKitStatusText(const QString& text)
{
    m_status->setText(text);
}
