#include "panes/sync/SynchronizePane.h"

#include "panes/sync/AnalyzeOutlineModel.h"
#include "panes/sync/IQVSyncAnalyzeView.h"
#include "panes/sync/IQVSynchronizerTopPanel.h"
#include "panes/sync/SyncPropertiesDialogs.h"
#include "panes/sync/SynchronizePaneController.h"
#include "platform/DesktopServices.h"
#include "platform/MainThread.h"
#include "projects/ILocation.h"
#include "projects/SourceOutlineModel.h"
#include "shell/dialogs/IQV3ProjectListView.h"
#include "shell/dialogs/IQVProcessIndicatorView.h"
#include "sync/ISynchron.h"
#include "sync/ISynchronContainer.h"
#include "utilities/HelpAnchor.h"
#include "utilities/ICommon.h"
#include "utilities/IDiskUtil.h"
#include "utilities/IShellServices.h"
#include "utilities/UiPrompts.h"

#include <QComboBox>
#include <QFileInfo>
#include <QCoreApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QIcon>
#include <QItemSelectionModel>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QRegularExpression>
#include <QSplitter>
#include <QStandardItemModel>
#include <QTreeView>
#include <QVBoxLayout>

namespace {

QString loc(const char* text)
{
    return QCoreApplication::translate("Localizable", text);
}

// The whole device a volume lives on: "sda1" -> "sda", "nvme0n1p2" -> "nvme0n1", "loop3s256" ->
// "loop3"; anything else stands for itself.
QString wholeDevice(const QString& name)
{
    static const QRegularExpression sub(QStringLiteral("^(.*\\d)s\\d+$"));
    static const QRegularExpression part(QStringLiteral("^(.*\\d)p\\d+$"));
    static const QRegularExpression sd(QStringLiteral("^((?:sd|hd|vd|xvd)[a-z]+)\\d+$"));
    QString n = name;
    if (const auto m = sub.match(n); m.hasMatch())
        n = m.captured(1);
    if (const auto m = part.match(n); m.hasMatch())
        return m.captured(1);
    if (const auto m = sd.match(n); m.hasMatch())
        return m.captured(1);
    return n;
}

QIcon verdictIconOf(CloneVerdict::Icon icon)
{
    switch (icon) {
    case CloneVerdict::Icon::Ok:
        return QIcon(QStringLiteral(":/icons/CloneStatus_ok.svg"));
    case CloneVerdict::Icon::Warning:
        return QIcon(QStringLiteral(":/icons/CloneStatus_warning.svg"));
    case CloneVerdict::Icon::Error:
        break;
    }
    return QIcon(QStringLiteral(":/icons/CloneStatus_error.svg"));
}

} // namespace

// ---- SyncListModel -----------------------------------------------------------------------------

SyncListModel::SyncListModel(SynchronizePaneController* controller, int kind, QObject* parent)
    : ProjectListModel(parent)
    , m_controller(controller)
    , m_kind(kind)
{ }

int SyncListModel::projectCount() const
{
    ISynchronContainer* c = m_controller->container();
    return c ? int(c->countOfSynchronsByType(m_kind)) : 0;
}

ProjectListRow SyncListModel::projectRow(int row) const
{
    ProjectListRow r;
    ISynchronContainer* c = m_controller->container();
    const std::shared_ptr<ISynchron> p = c ? c->synchronByIndex(row, m_kind) : nullptr;
    if (!p)
        return r;
    r.name = p->name();
    const QDateTime last = p->lastProcessDate();
    r.status = last.isValid() ? ICommon::generalStringFromDateTime(last) : loc("Never done");
    if (p->color().isValid())
        r.color = p->color();
    r.scheduled = p->isScheduled() || p->isProcessOnMount();
    r.inProcess = p->isInProcess() && p->currentOperation() != ISynchron::OpAnalysing;
    r.inQueue = p->isInProcess() && p->currentOperation() == ISynchron::OpQueued;
    return r;
}

bool SyncListModel::moveProject(int from, int to)
{
    ISynchronContainer* c = m_controller->container();
    if (!c)
        return false;
    // The container announces the new order; the rows are being moved already, so that
    // announcement must not reset this model in the middle of the move.
    m_moving = true;
    const bool moved = c->moveSynchronFrom(from, to, m_kind);
    m_moving = false;
    if (moved)
        c->save();
    return moved;
}

// ---- SynchronizePane ---------------------------------------------------------------------------

SynchronizePane::SynchronizePane(SynchronizePaneController* controller, int kind, QWidget* parent)
    : QWidget(parent)
    , m_controller(controller)
    , m_kind(kind == 1 ? 1 : 0)
{
    m_listModel = std::make_unique<SyncListModel>(controller, m_kind);
    m_list = new IQV3ProjectListView(this);
    m_list->setModel(m_listModel.get());

    m_indicator = new IQVProcessIndicatorView(this);
    m_status = new QLabel(this);
    m_indicator->setOwner(controller);
    m_indicator->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    m_indicator->setMinimumWidth(240);
    m_indicator->setToolTip(loc("Synchronize Now"));
    controller->setIndicator(m_kind, m_indicator);
    m_status->setTextInteractionFlags(Qt::TextSelectableByMouse);

    m_add = new QPushButton(QIcon(QStringLiteral(":/icons/plus_n.svg")), QString(), this);
    m_add->setToolTip(loc("Add new project"));
    m_delete = new QPushButton(QIcon(QStringLiteral(":/icons/minus_n.svg")), QString(), this);
    m_delete->setToolTip(loc("Delete project from the list"));
    m_properties = new QPushButton(QIcon(QStringLiteral(":/icons/properties_n.svg")), QString(), this);
    m_properties->setToolTip(loc("Setup project Properties"));
    m_log = new QPushButton(QIcon(QStringLiteral(":/icons/report.svg")), QString(), this);
    m_log->setToolTip(loc("Open Log window"));

    auto* listButtons = new QHBoxLayout;
    listButtons->addWidget(m_add);
    listButtons->addWidget(m_delete);
    listButtons->addWidget(m_properties);
    listButtons->addStretch();
    listButtons->addWidget(m_log);
    m_listPart = new QWidget(this);
    auto* leftLayout = new QVBoxLayout(m_listPart);
    leftLayout->setContentsMargins(0, 0, 0, 0);
    leftLayout->addWidget(m_list);
    leftLayout->addLayout(listButtons);
    m_listPart->setFocusProxy(m_list);

    m_contentPart = new QWidget(this);
    QWidget* right = m_contentPart;
    auto* rightLayout = new QVBoxLayout(right);
    rightLayout->setContentsMargins(0, 0, 0, 0);
    if (m_kind == 0) {
        m_topPanel = new IQVSynchronizerTopPanel(right);
        m_topPanel->setDropCheck(
            [this](int side, const QString& path) { return m_controller->folderRefusal(side, path); });
        m_analyze = new QPushButton(loc("Analyze"), right);
        m_analyze->setToolTip(loc("Run analytics before actual sync"));
        m_analyzeLabel = new QLabel(right);
        m_mountImages = new QPushButton(loc("Mount Disk Images"), right);
        m_analyzeView = new IQVSyncAnalyzeView(right);
        m_analyzeView->setAnalyzeModel(controller->analyzeModel());
        m_analyzeView->setEmptyState([this] {
            const auto P = current();
            SyncPaneRules::EmptyInput in;
            in.closing = IShellServices::shared().isWindowClosing();
            in.hasProject = P != nullptr;
            if (P) {
                in.ready = P->getReady();
                auto inactive = [](const std::shared_ptr<ILocation>& l, bool image) {
                    return l && !l->getUnverifiedFullPath().isEmpty() && !l->isActive()
                        && (image ? l->isBDI() : l->getDeviceType() == 6);
                };
                in.networkInactive = inactive(P->firstLocation(), false) || inactive(P->secondLocation(), false);
                in.imageInactive = inactive(P->firstLocation(), true) || inactive(P->secondLocation(), true);
                in.samePlaces = !P->firstFolder().isEmpty() && P->firstFolder() == P->secondFolder();
                if (!in.samePlaces && SynchronizePaneController::foldersNested(*P))
                    in.samePlaces = true;
            }
            const AnalyzeOutlineModel* m = m_controller->analyzeModel();
            if (!in.closing && in.hasProject && (in.ready & ISynchron::ReadyLoadContent) && m->treeRoot())
                return SyncPaneRules::EmptyState();
            return SyncPaneRules::analysisEmptyState(in);
        });
        m_analyzeView->setEditable([this] {
            const auto P = current();
            return P && !P->isInProcess();
        });
        auto* analyzeRow = new QHBoxLayout;
        analyzeRow->addWidget(m_analyze);
        analyzeRow->addWidget(m_analyzeLabel, 1);
        analyzeRow->addWidget(m_mountImages);
        rightLayout->addWidget(m_topPanel);
        rightLayout->addLayout(analyzeRow);
        rightLayout->addWidget(m_analyzeView, 1);

        connect(m_topPanel, &IQVSynchronizerTopPanel::chooseFolderRequested, this,
            [this](int side) { m_controller->chooseFolder(side); });
        connect(m_topPanel, &IQVSynchronizerTopPanel::folderDropped, this,
            [this](int side, const QString& path) { m_controller->setFolder(side, path); });
        connect(m_topPanel, &IQVSynchronizerTopPanel::dropRefused, this, [](const QString& why) {
            // As the folder choosers refuse: a critical alert with the reason.
            UiPrompts::Alert a;
            a.style = UiPrompts::AlertStyle::Critical;
            a.title = why;
            a.buttons = { loc("OK") };
            ModalDepthGuard modal;
            UiPrompts::shared().showAlert(a);
        });
        connect(m_topPanel, &IQVSynchronizerTopPanel::directionChosen, this,
            [this](int d) { m_controller->setDirectionFromPanel(d); });
        connect(m_topPanel, &IQVSynchronizerTopPanel::revealRequested, this, [this](int side) {
            const auto P = current();
            const QString path = P ? (side == 0 ? P->firstFolder() : P->secondFolder()) : QString();
            if (path.isEmpty())
                return;
            if (!IQVSynchronizerTopPanel::isFolderActive(path)) {
                UiPrompts::Alert a;
                a.style = UiPrompts::AlertStyle::Critical;
                a.title = loc("File or folder not found");
                a.buttons = { loc("OK") };
                UiPrompts::shared().showAlert(a);
                return;
            }
            DesktopServices::reveal(path);
        });
        connect(m_analyze, &QPushButton::clicked, controller, &SynchronizePaneController::actSynchAnalyze);
        connect(m_mountImages, &QPushButton::clicked, this, [this] {
            if (const auto P = current())
                P->doMount();
            m_controller->eventProjectPropertyChanged(6);
        });
        connect(controller, &SynchronizePaneController::analyzeStateChanged, this,
            &SynchronizePane::applyAnalyzeState);
    } else {
        m_sourcePicker = new QComboBox(right);
        m_sourcePicker->setToolTip(loc("Choose source volume for cloning"));
        m_destinationPicker = new QComboBox(right);
        m_destinationPicker->setToolTip(loc("Choose destination volume for cloning"));
        m_verdictIcon = new QLabel(right);
        m_verdictIcon->setFixedSize(18, 18);
        m_verdict = new QLabel(right);
        m_verdict->setTextFormat(Qt::RichText);
        m_verdict->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
        m_verdict->setOpenExternalLinks(false);
        connect(m_verdict, &QLabel::linkActivated, this, [](const QString& anchor) { MyGotoHelpAnchor(anchor); });
        m_cloneModel = std::make_unique<SourceOutlineModel>(&m_lister, &m_cloneExcludes);
        if (ISynchronContainer* c = controller->container())
            m_cloneModel->setHiddenList(c->defaultHiddensList());
        m_cloneView = new QTreeView(right);
        m_cloneView->setModel(m_cloneModel.get());
        m_cloneView->setUniformRowHeights(true);
        m_cloneView->setSelectionMode(QAbstractItemView::ExtendedSelection);
        m_cloneView->header()->setSectionsClickable(true);
        m_cloneView->header()->setStretchLastSection(false);
        m_cloneView->header()->setSectionResizeMode(SourceOutlineModel::ColName, QHeaderView::Stretch);
        m_cloneView->header()->resizeSection(SourceOutlineModel::ColIncluded, 28);
        m_cloneView->header()->resizeSection(SourceOutlineModel::ColKind, 90);
        m_cloneView->header()->resizeSection(SourceOutlineModel::ColDate, 150);
        m_cloneView->setTreePosition(SourceOutlineModel::ColName);
        // The menu reveals the selected items; a click outside the selection selects that row first.
        m_cloneView->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(m_cloneView, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
            const QModelIndex row = m_cloneView->indexAt(pos);
            QItemSelectionModel* selection = m_cloneView->selectionModel();
            if (row.isValid() && !selection->isSelected(row))
                selection->select(row, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
            QMenu menu(m_cloneView);
            QAction* reveal = menu.addAction(loc("Show in Finder"));
            reveal->setEnabled(!selection->selectedRows().isEmpty());
            if (menu.exec(m_cloneView->viewport()->mapToGlobal(pos)) == reveal)
                revealSelectedCloneItems();
        });

        auto* pickers = new QHBoxLayout;
        pickers->addWidget(new QLabel(loc("Source:"), right));
        pickers->addWidget(m_sourcePicker, 1);
        pickers->addSpacing(12);
        pickers->addWidget(new QLabel(loc("Destination:"), right));
        pickers->addWidget(m_destinationPicker, 1);
        auto* verdictRow = new QHBoxLayout;
        verdictRow->addWidget(m_verdictIcon);
        verdictRow->addWidget(m_verdict, 1);
        rightLayout->addLayout(pickers);
        rightLayout->addLayout(verdictRow);
        rightLayout->addWidget(m_cloneView, 1);

        auto chosen = [this](QComboBox* picker, bool source) {
            if (m_fillingPickers)
                return;
            m_controller->chooseDisk(source, picker->currentData(Qt::UserRole).toInt());
        };
        connect(m_sourcePicker, &QComboBox::activated, this, [this, chosen] { chosen(m_sourcePicker, true); });
        connect(m_destinationPicker, &QComboBox::activated, this, [this, chosen] { chosen(m_destinationPicker, false); });
        connect(m_cloneModel.get(), &SourceOutlineModel::excludesEdited, this, &SynchronizePane::storeCloneExcludes);
        connect(m_cloneView->header(), &QHeaderView::sectionClicked, this, [this](int section) {
            const auto P = current();
            if (section != SourceOutlineModel::ColIncluded || !P || P->isInProcess())
                return;
            m_cloneModel->setAllIncluded(m_cloneCheckToAll);
            m_cloneCheckToAll = !m_cloneCheckToAll;
        });
        connect(controller, &SynchronizePaneController::verdictChanged, this, &SynchronizePane::applyVerdict);
        connect(controller, &SynchronizePaneController::disksChanged, this, [this] {
            rebuildPickers();
            reloadCloneOutline();
        });
    }
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
    splitter->setSizes({ 240, 660 });
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(splitter, 1);
    layout->addWidget(m_statusPart);

    connect(m_add, &QPushButton::clicked, this, [this] {
        if (m_controller->addProject())
            showPropertiesSheet();
    });
    connect(m_delete, &QPushButton::clicked, this, [this] { m_controller->deleteCurrentProject(); });
    connect(m_properties, &QPushButton::clicked, this, &SynchronizePane::showPropertiesSheet);
    connect(m_log, &QPushButton::clicked, this, [] { IShellServices::shared().showLog(); });
    connect(m_list->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
        [this](const QModelIndex& index) {
            ISynchronContainer* c = m_controller->container();
            if (m_selectingByCode || !index.isValid() || !c)
                return;
            if (c->currentSynchronIndexByType(m_kind) == index.row())
                return;
            c->setCurrentSynchronByIndex(index.row(), m_kind);
            m_controller->eventProjectChanged(4);
        });
    connect(controller, &SynchronizePaneController::statusLineChanged, this, [this](int k, const QString& text) {
        if (k == m_kind)
            m_status->setText(text);
    });
    connect(controller, &SynchronizePaneController::projectListChanged, this, [this](int k) {
        if (k == m_kind)
            reloadList();
    });
    connect(controller, &SynchronizePaneController::buttonsChanged, this, &SynchronizePane::applyButtons);
    connect(controller, &SynchronizePaneController::foldersChanged, this, &SynchronizePane::applyFolders);

    if (m_kind == 1)
        rebuildPickers();
    reloadList();
    applyButtons();
    applyFolders();
    applyVerdict();
    applyAnalyzeState();
    reloadCloneOutline();
    m_status->setText(controller->statusLine(m_kind));
}

SynchronizePane::~SynchronizePane()
{
    if (m_controller)
        m_controller->setIndicator(m_kind, nullptr);
    // The views go before the models they show; in the main window the window may have deleted
    // the parts already.
    delete m_listPart.data();
    delete m_contentPart.data();
    delete m_statusPart.data();
}

SynchronizePane* SynchronizePane::create(SynchronizePaneController* controller, int kind, QWidget* parent)
{
    return new SynchronizePane(controller, kind, parent);
}

std::shared_ptr<ISynchron> SynchronizePane::current() const
{
    return m_controller->currentOfKind(m_kind);
}

void SynchronizePane::reloadList()
{
    if (m_listModel->isMoving())
        return;
    m_selectingByCode = true;
    m_listModel->reloadProjects();
    ISynchronContainer* c = m_controller->container();
    if (c && c->currentSynchronIndexByType(m_kind) >= 0)
        m_list->setCurrentIndex(
            m_listModel->index(int(c->currentSynchronIndexByType(m_kind)), ProjectListModel::NameColumn));
    m_selectingByCode = false;
}

void SynchronizePane::applyButtons()
{
    if (m_controller->kind() != m_kind)
        return;
    const SyncPaneRules::Buttons b = m_controller->buttons();
    m_add->setEnabled(b.add);
    m_delete->setEnabled(b.deleteProject);
    m_properties->setEnabled(b.properties);
    if (m_kind == 0) {
        m_topPanel->setEnable(b.topPanel);
        m_topPanel->setEnabled(b.topPanel);
        m_topPanel->setDirectionChangeEnabled(b.directionChange);
        m_mountImages->setEnabled(b.mountImages);
        m_mountImages->setVisible(b.mountImages);
        applyAnalyzeState();
    } else {
        m_sourcePicker->setEnabled(b.pickers);
        m_destinationPicker->setEnabled(b.pickers);
    }
}

void SynchronizePane::applyFolders()
{
    if (m_kind != 0)
        return;
    const auto P = current();
    if (!P) {
        m_topPanel->setFirstFolder(QString());
        m_topPanel->setSecondFolder(QString());
        m_topPanel->setDirection(0);
    } else {
        m_topPanel->setFirstFolder(P->firstFolder());
        m_topPanel->setSecondFolder(P->secondFolder());
        m_topPanel->setDirection(P->direction());
    }
    m_topPanel->verifyFolders();
    m_analyzeView->viewport()->update();
}

void SynchronizePane::applyVerdict()
{
    if (m_kind != 1)
        return;
    const CloneVerdict::Result& v = m_controller->verdict();
    if (!current() || v.text.isEmpty()) {
        m_verdict->clear();
        m_verdictIcon->clear();
        return;
    }
    m_verdict->setText(m_controller->verdictHtml());
    m_verdictIcon->setPixmap(verdictIconOf(v.icon).pixmap(16, 16));
}

void SynchronizePane::applyAnalyzeState()
{
    if (m_kind != 0)
        return;
    const bool running = m_controller->isSyncAnalyzeProcess();
    m_analyze->setText(running ? loc("Stop Analyze") : loc("Analyze"));
    m_analyze->setEnabled(m_controller->isSyncAnalyzeEnabled() || running);
    m_analyzeLabel->setText(m_controller->analyzeLabel());
    m_analyzeLabel->setVisible(running || !m_controller->analyzeLabel().isEmpty());
    m_analyzeView->viewport()->update();
}

// ---- Clone pane --------------------------------------------------------------------------------

void SynchronizePane::fillPicker(QComboBox* picker, bool source)
{
    const auto P = current();
    const auto& disks = m_controller->diskArray();
    QList<SyncPaneRules::DiskFacts> facts;
    for (const auto& l : disks) {
        SyncPaneRules::DiskFacts f;
        f.title = source ? l->getMenuTitleUsedSpace() : l->getMenuTitleSpaceForClone();
        f.tooltip = l->getMenuItemTooltip();
        f.device = wholeDevice(l->getBSDName());
        f.deviceType = l->getDeviceType();
        f.role = l->getRole();
        f.writable = l->isWritable();
        f.doubleVolume = l->isDoubleVolume();
        f.startup = l->getMountPoint() == QLatin1String("/");
        f.systemOfNewerHost = l->isFlag(64 | 128);
        facts.append(f);
    }
    auto* model = new QStandardItemModel(picker);
    int selectRow = 0;
    const std::shared_ptr<ILocation> own = P ? (source ? P->firstLocation() : P->secondLocation()) : nullptr;
    const QString ownMount = own ? own->getMountPoint() : QString();
    const QString ownUuid = own ? own->getVolumeUUID() : QString();
    for (const SyncPaneRules::PickerItem& it : SyncPaneRules::pickerItems(facts, source, int(IDiskUtil::systemVersion()))) {
        auto* item = new QStandardItem(it.title);
        item->setData(it.tag, Qt::UserRole);
        item->setToolTip(it.tooltip);
        if (it.tag == SyncPaneRules::TagSeparator) {
            QFont f = item->font();
            f.setBold(true);
            item->setFont(f);
        }
        item->setEnabled(it.enabled);
        if (!it.enabled)
            item->setFlags(item->flags() & ~(Qt::ItemIsEnabled | Qt::ItemIsSelectable));
        model->appendRow(item);
        // The project's volume: by its UUID (a volume mounted again may sit elsewhere), else by
        // its mount point.
        if (it.tag >= 0 && it.tag < disks.size() && own) {
            const ILocation& d = *disks.at(it.tag);
            const bool sameUuid = !ownUuid.isEmpty() && d.getVolumeUUID() == ownUuid;
            if (sameUuid || (!ownMount.isEmpty() && d.getMountPoint() == ownMount))
                selectRow = model->rowCount() - 1;
        }
    }
    // A chosen volume that is not here now stays as the remembered item.
    if (own && !own->getDisplayName().isEmpty() && selectRow == 0 && !own->correctActive()) {
        auto* sep = new QStandardItem(QString());
        sep->setData(SyncPaneRules::TagSeparator, Qt::UserRole);
        sep->setFlags(Qt::NoItemFlags);
        model->appendRow(sep);
        auto* item = new QStandardItem(own->getDisplayName());
        item->setData(source ? SyncPaneRules::TagSourceRemembered : SyncPaneRules::TagDestinationRemembered,
            Qt::UserRole);
        model->appendRow(item);
        selectRow = model->rowCount() - 1;
    }
    picker->setModel(model);
    picker->setCurrentIndex(selectRow);
}

void SynchronizePane::rebuildPickers()
{
    if (m_kind != 1)
        return;
    m_fillingPickers = true;
    m_controller->fillActiveDiskArray();
    fillPicker(m_sourcePicker, true);
    fillPicker(m_destinationPicker, false);
    m_fillingPickers = false;
}

void SynchronizePane::reloadCloneOutline()
{
    if (m_kind != 1)
        return;
    const auto P = current();
    const auto S = P ? P->firstLocation() : nullptr;
    const QString root = S && S->isActive() ? S->getUnverifiedFullPath() : QString();
    m_cloneExcludes.setEntries(P && P->excludePathList() ? *P->excludePathList() : QStringList());
    if (root == m_cloneSourceShown && !root.isEmpty()) {
        m_cloneModel->reload();
        return;
    }
    m_cloneSourceShown = root;
    QList<SourceOutlineModel::Source> sources;
    if (!root.isEmpty())
        sources.append({ root, 0 });
    m_cloneModel->setSources(sources);
    if (!sources.isEmpty())
        m_cloneView->expand(m_cloneModel->index(0, 0));
}

void SynchronizePane::storeCloneExcludes()
{
    const auto P = current();
    if (!P)
        return;
    P->setExcludePathList(
        m_cloneExcludes.entries().isEmpty() ? std::nullopt : std::optional(m_cloneExcludes.entries()));
    P->setModified(true);
    if (ISynchronContainer* c = m_controller->container())
        c->save();
}

void SynchronizePane::showPropertiesSheet()
{
    const auto P = current();
    if (!P || P->isInProcess())
        return;
    showSynchronProperties(m_controller, P, this);
}

void SynchronizePane::revealSelectedCloneItems()
{
    if (!m_cloneView)
        return;
    for (const QModelIndex& row : m_cloneView->selectionModel()->selectedRows()) {
        const QString path = row.data(SourceOutlineModel::PathRole).toString();
        if (!path.isEmpty() && (QFileInfo(path).exists() || QFileInfo(path).isSymLink()))
            DesktopServices::reveal(path);
    }
}
