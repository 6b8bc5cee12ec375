#include "IQV3MainWindow.h"

#include "archive/CBackup.h"
#include "archive/IArchiveContainer.h"
#include "archive/IBackup.h"
#include "platform/AppPaths.h"
#include "projects/IProject.h"
#include "shell/ILogDrawerController.h"
#include "shell/MainWndController.h"
#include "shell/dialogs/IKitPane.h"
#include "shell/dialogs/IQV3ProjectListView.h"
#include "shell/dialogs/IScheduleSuspendDialog.h"
#include "shell/dialogs/ProjectListModel.h"
#include "snapshot/IBackup3.h"
#include "snapshot/IBackup3Container.h"
#include "sync/ISynchron.h"
#include "sync/ISynchronContainer.h"
#include "utilities/ICommon.h"
#include "utilities/IIconUtil.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenuBar>
#include <QPointer>
#include <QScreen>
#include <QSettings>
#include <QSplitter>
#include <QStackedWidget>
#include <QToolButton>
#include <QVBoxLayout>

namespace {
// The kit's projects as the generic list reads them.
QList<IProject*> projectsOf(MainWndController* hub, int kit)
{
    QList<IProject*> list;
    if (kit == 1) {
        if (IBackup3Container* c = hub->backup3Container())
            for (const auto& p : c->backupList())
                list << p.get();
    } else if (kit == 2) {
        IArchiveContainer& c = IArchiveContainer::shared();
        for (int i = 0; i < c.backupCount(); ++i)
            if (CBackup* b = c.backupAt(i); b && b->getIBackup())
                list << b->getIBackup();
    } else if (ISynchronContainer* c = hub->synchronContainer()) {
        for (const auto& p : c->listByType(kit == 3 ? 1 : 0))
            list << p.get();
    }
    return list;
}

IProject* currentOf(MainWndController* hub, int kit)
{
    if (kit == 1) {
        IBackup3Container* c = hub->backup3Container();
        return c ? c->currentBackup3().get() : nullptr;
    }
    if (kit == 2) {
        IArchiveContainer& c = IArchiveContainer::shared();
        return c.backupCount() > 0 && c.backupAt(0) ? c.backupAt(0)->getIBackup() : nullptr;
    }
    ISynchronContainer* c = hub->synchronContainer();
    return c ? c->currentSynchronByType(kit == 3 ? 1 : 0).get() : nullptr;
}
} // namespace

IQV3MainWindow::IQV3MainWindow(MainWndController* hub, QWidget* parent)
    : QMainWindow(parent)
    , m_hub(hub)
{
    setObjectName(QStringLiteral("MainWindow"));
    setAttribute(Qt::WA_DeleteOnClose, false);
    setMinimumSize(kMinWidth, kMinHeight);
    resize(kMinWidth, kMinHeight);
    QScreen* screen = QGuiApplication::primaryScreen();
    move(placement(screen ? std::optional<QRect>(screen->availableGeometry()) : std::nullopt));

    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    m_selector = new IQVFuncSelectorView(central);
    m_selector->setController(this);
    layout->addWidget(m_selector);

    m_splitter = new QSplitter(Qt::Horizontal, central);
    m_splitter->setChildrenCollapsible(false);
    m_projects = new QStackedWidget(m_splitter);
    m_contents = new QStackedWidget(m_splitter);
    m_projects->setMinimumWidth(kLeftMin);
    m_contents->setMinimumWidth(kRightMin - m_splitter->handleWidth());
    m_splitter->addWidget(m_projects);
    m_splitter->addWidget(m_contents);
    m_splitter->setStretchFactor(0, 0);
    m_splitter->setStretchFactor(1, 1);
    connect(m_splitter, &QSplitter::splitterMoved, this, [this] { m_leftWidth = leftPaneWidth(); });
    layout->addWidget(m_splitter, 1);

    auto* statusRow = new QWidget(central);
    auto* statusLayout = new QHBoxLayout(statusRow);
    statusLayout->setContentsMargins(8, 2, 8, 2);
    m_suspender = new QToolButton(statusRow);
    m_suspender->setAutoRaise(true);
    m_suspender->setIconSize(QSize(20, 20));
    connect(m_suspender, &QToolButton::clicked, this, [this] { m_hub->menuSuspendStartSchedule(false); });
    m_statuses = new QStackedWidget(statusRow);
    m_status = new QLabel(statusRow);
    m_status->setTextInteractionFlags(Qt::NoTextInteraction);
    statusLayout->addWidget(m_suspender);
    statusLayout->addWidget(m_statuses, 1);
    statusLayout->addWidget(m_status, 2);
    layout->addWidget(statusRow);
    setCentralWidget(central);

    buildKitPages();
    buildMenus();
    restoreFrame();
    connect(m_hub, &MainWndController::controlsChanged, this, &IQV3MainWindow::validateMenus);
    showKit(m_hub->currentKit());
    validateSuspender();
}

IQV3MainWindow::~IQV3MainWindow() = default;

QString IQV3MainWindow::kitIdentifier(int kit)
{
    static const char* ids[] = { "backup3", "backup", "clone", "synchron" };
    return QString::fromLatin1(ids[(kit >= 1 && kit <= 4 ? kit : 1) - 1]);
}

void IQV3MainWindow::buildKitPages()
{
    for (int kit = 1; kit <= 4; ++kit) {
        // An empty list until the kit's pane brings its own list and model.
        auto* list = new IQV3ProjectListView(m_projects);
        list->setObjectName(kitIdentifier(kit));
        m_lists.insert(kit, list);
        m_projects->addWidget(list);
        // The content and status pages, too, stay empty until the kit's pane fills them.
        auto* content = new QWidget(m_contents);
        content->setObjectName(kitIdentifier(kit));
        content->setAutoFillBackground(true);
        m_contents->addWidget(content);
        auto* status = new QWidget(m_statuses);
        status->setObjectName(kitIdentifier(kit));
        m_statuses->addWidget(status);
    }
}

IQV3ProjectListView* IQV3MainWindow::listView(int kit) const
{
    return m_lists.value(kit);
}

void IQV3MainWindow::setKitPages(int kit, QWidget* projectList, QWidget* content, QWidget* status)
{
    if (kit < 1 || kit > 4)
        return;
    const auto replace = [&](QStackedWidget* stack, QWidget* page) {
        if (!page)
            return;
        QWidget* old = stack->widget(kit - 1);
        page->setObjectName(kitIdentifier(kit));
        stack->insertWidget(kit - 1, page);
        stack->removeWidget(old);
        old->deleteLater();
    };
    replace(m_projects, projectList);
    replace(m_contents, content);
    replace(m_statuses, status);
    if (projectList)
        m_lists.remove(kit);
    showKit(m_hub->currentKit());
}

void IQV3MainWindow::setKitPane(int kit, QWidget* pane)
{
    auto* parts = dynamic_cast<IKitPane*>(pane);
    if (kit < 1 || kit > 4 || !parts)
        return;
    pane->setParent(this);
    pane->hide();
    QWidget* list = parts->kitProjectListPart();
    QWidget* content = parts->kitContentPart();
    // The window's clamps hold for the pane's parts as for its own pages.
    list->setMinimumWidth(kLeftMin);
    content->setMinimumWidth(kRightMin - m_splitter->handleWidth());
    if (parts->kitStatusPart())
        m_statusPanes.insert(kit, pane);
    setKitPages(kit, list, content, parts->kitStatusPart());
    if (IQV3ProjectListView* view = parts->kitListView()) {
        m_lists.insert(kit, view);
        list->setFocusProxy(view);
    }
    // The "Process" menu acts on the pane of the kit shown.
    const std::pair<MenuItem, IKitPane::Action> routes[] = {
        { MenuAddProject, IKitPane::Action::AddProject },
        { MenuDeleteProject, IKitPane::Action::DeleteProject },
        { MenuProjectProperties, IKitPane::Action::ProjectProperties },
        { MenuProcessProject, IKitPane::Action::ProcessProject },
        { MenuRestoreProject, IKitPane::Action::RestoreProject },
    };
    QPointer<QWidget> guard(pane);
    for (const auto& [item, act] : routes) {
        if (QAction* a = action(item))
            connect(a, &QAction::triggered, pane, [this, guard, parts, kit, act = act] {
                if (guard && m_hub->currentKit() == kit)
                    parts->kitAction(act);
            });
    }
    if (const QList<QAction*> own = parts->kitMenuActions(); !own.isEmpty()) {
        if (QMenu* process = menuBar()->findChild<QMenu*>(QStringLiteral("Process"))) {
            m_kitMenuActions.insert(kit, process->addSeparator());
            for (QAction* a : own) {
                process->addAction(a);
                m_kitMenuActions.insert(kit, a);
            }
        }
    }
    showKit(m_hub->currentKit());
}

QAction* IQV3MainWindow::addMenuAction(
    QMenu* menu, MenuItem item, const QString& title, const QKeySequence& key)
{
    QAction* a = menu->addAction(title);
    a->setShortcut(key);
    // Menu shortcuts also work while the log window is the active window.
    a->setShortcutContext(Qt::ApplicationShortcut);
    m_actions.insert(item, a);
    m_inProcessMenu.insert(a, menu->objectName() == QLatin1String("Process"));
    return a;
}

void IQV3MainWindow::buildMenus()
{
    QMenu* file = menuBar()->addMenu(tr("File"));
    file->setObjectName(QStringLiteral("File"));
    QAction* diskImage = file->addAction(tr("Create Disk Image..."));
    diskImage->setObjectName(QStringLiteral("CreateDiskImage"));
    connect(diskImage, &QAction::triggered, this, &IQV3MainWindow::createDiskImageRequested);
    file->addSeparator();
    connect(addMenuAction(file, MenuQuit, tr("Quit"), QKeySequence::Quit), &QAction::triggered, this,
        [this] { m_hub->requestQuit(); });

    QMenu* process = menuBar()->addMenu(tr("Process"));
    process->setObjectName(QStringLiteral("Process"));
    addMenuAction(process, MenuAddProject, tr("New Project"), QKeySequence(Qt::CTRL | Qt::Key_N));
    addMenuAction(process, MenuDeleteProject, tr("Delete Project"));
    addMenuAction(process, MenuProjectProperties, tr("Properties..."), QKeySequence(Qt::CTRL | Qt::Key_I));
    QAction* color = addMenuAction(process, MenuColorLabel, tr("Color label"));
    color->setData(IQV3ProjectListView::kColorMenuTag);
    process->addSeparator();
    addMenuAction(process, MenuProcessProject, startTitle(1), QKeySequence(Qt::CTRL | Qt::Key_R));
    addMenuAction(process, MenuProcessProject2, tr("Start Cloning (Block copy)"));
    addMenuAction(process, MenuRestoreProject, tr("Restore..."));
    process->addSeparator();
    connect(addMenuAction(process, MenuSuspendStartSchedule, tr("Suspend scheduler")), &QAction::triggered,
        this, [this] { m_hub->menuSuspendStartSchedule(true); });

    QMenu* windowMenu = menuBar()->addMenu(tr("Window"));
    windowMenu->setObjectName(QStringLiteral("Window"));
    connect(addMenuAction(windowMenu, MenuToggleLog, tr("Show Log"), QKeySequence(Qt::CTRL | Qt::Key_L)),
        &QAction::triggered, m_hub, &MainWndController::toggleLog);
    windowMenu->addSeparator();
    for (int kit = 1; kit <= 4; ++kit) {
        QAction* a = windowMenu->addAction(IQVFuncSelectorView::caption(kit));
        a->setShortcut(QKeySequence(Qt::CTRL | (Qt::Key_0 + kit)));
        a->setShortcutContext(Qt::ApplicationShortcut);
        connect(a, &QAction::triggered, this, [this, kit] { m_hub->toggleFunctionKit(kit); });
        m_kitActions.insert(kit, a);
    }
    QMenu* help = menuBar()->addMenu(tr("Help"));
    help->setObjectName(QStringLiteral("Help"));
    addMenuAction(help, MenuShowWelcome, tr("Welcome Window"));
    help->addSeparator();
    connect(help->addAction(tr("Kelvane Pro 3 Help")), &QAction::triggered, m_hub, &MainWndController::showHelp);
    connect(help->addAction(tr("Kelvane Pro 3 Web Site")), &QAction::triggered, m_hub,
        &MainWndController::goToProductSite);
    connect(help->addAction(tr("Check for Updates...")), &QAction::triggered, m_hub,
        &MainWndController::onlineUpdate);
    connect(help->addAction(tr("Send Feedback...")), &QAction::triggered, m_hub, &MainWndController::sendFeedback);

    for (QMenu* m : { file, process, windowMenu, help })
        connect(m, &QMenu::aboutToShow, this, &IQV3MainWindow::validateMenus);
}

QString IQV3MainWindow::startTitle(int kit)
{
    switch (kit) {
    case 3:
        return tr("Start Cloning");
    case 4:
        return tr("Start Synchronize");
    default:
        return tr("Start Backup");
    }
}

QString IQV3MainWindow::stopTitle(int kit)
{
    switch (kit) {
    case 3:
        return tr("Stop Cloning");
    case 4:
        return tr("Stop Synchronize");
    default:
        return tr("Stop Backup");
    }
}

MenuItemState IQV3MainWindow::menuRule(MenuItem item, const KitState& given, bool inProcessMenu)
{
    KitState s = given;
    if (!inProcessMenu && item != MenuToggleLog && item != MenuSuspendStartSchedule && item != MenuQuit) {
        s.empty = true;
        s.running = false;
    }
    const bool idleProject = !s.empty && !s.running;
    MenuItemState r;
    switch (item) {
    case MenuShowWelcome:
        r.enabled = false;
        break;
    case MenuAddProject:
    case MenuQuit:
    case MenuSuspendStartSchedule:
    case MenuOther:
        r.enabled = true;
        break;
    case MenuDeleteProject:
    case MenuProjectProperties:
    case MenuColorLabel:
        r.enabled = idleProject;
        break;
    case MenuProcessProject:
        r.title = s.running ? stopTitle(s.kit) : startTitle(s.kit);
        // Kits 1 and 2 start a current project that has content; kits 3 and 4 also need the
        // project to be ready.
        if (s.kit <= 2)
            r.enabled = !s.empty && s.content;
        else
            r.enabled = !s.empty && s.ready && (s.kit == 3 || s.content);
        break;
    case MenuProcessProject2:
        r.enabled = s.kit == 3 && idleProject && s.content && s.ready;
        break;
    case MenuRestoreProject:
        r.enabled = (s.kit == 1 || s.kit == 2) && idleProject && s.versions;
        break;
    case MenuToggleLog:
        r.title = s.logVisible ? tr("Hide Log") : tr("Show Log");
        break;
    }
    // A disabled item is hidden, not greyed.
    r.visible = r.enabled;
    return r;
}

KitState IQV3MainWindow::kitState() const
{
    KitState s;
    s.kit = m_hub->currentKit();
    const IProject* current = currentOf(m_hub, s.kit);
    s.empty = projectsOf(m_hub, s.kit).isEmpty() || !current;
    if (current) {
        s.running = current->isInProcess();
        s.ready = current->isReadyForInterface();
        s.versions = current->lastProcessDate().isValid();
        if (s.kit == 1) {
            const auto* b = dynamic_cast<const IBackup3*>(current);
            s.content = b && b->srcLocationCount() > 0;
        } else if (s.kit == 2) {
            s.content = true;
        } else {
            s.content = s.ready;
        }
    }
    s.logVisible = m_hub->logWindow() && m_hub->logWindow()->isVisible();
    return s;
}

void IQV3MainWindow::validateMenus()
{
    if (g_appClosing)
        return;
    const KitState state = kitState();
    for (auto it = m_actions.cbegin(); it != m_actions.cend(); ++it) {
        QAction* a = it.value();
        if (it.key() == MenuSuspendStartSchedule) {
            a->setText(IScheduleSuspendDialog::scheduleEnabledToggleItemTitle(m_hub->agentState()));
            continue;
        }
        const MenuItemState r = menuRule(it.key(), state, m_inProcessMenu.value(a));
        a->setEnabled(r.enabled);
        a->setVisible(r.visible);
        if (!r.title.isNull())
            a->setText(r.title);
    }
    validateTitle();
}

void IQV3MainWindow::validateTitle()
{
    const int kit = m_hub->currentKit();
    const IProject* current = currentOf(m_hub, kit);
    const QString caption = kit == 2 ? tr("Archive") : IQVFuncSelectorView::caption(kit);
    setWindowTitle(current ? QStringLiteral("%1: %2").arg(caption, current->name()) : tr("No Projects"));
}

void IQV3MainWindow::validateSuspender()
{
    const QVAgentState& state = m_hub->agentState();
    const bool running = state.isOn(QVAgentState::ScheduleOn) && !state.isOn(QVAgentState::Suspended);
    m_suspender->setIcon(IIconUtil::shared().icon(running ? 11 : 12, 0));
    m_suspender->setToolTip(m_hub->suspenderToolTip());
    if (QAction* a = action(MenuSuspendStartSchedule))
        a->setText(IScheduleSuspendDialog::scheduleEnabledToggleItemTitle(state));
}

void IQV3MainWindow::showKit(int kit)
{
    if (kit < 1 || kit > 4)
        kit = 1;
    m_projects->setCurrentIndex(kit - 1);
    m_contents->setCurrentIndex(kit - 1);
    m_statuses->setCurrentIndex(kit - 1);
    // A kit whose pane brings its own status field has no second one beside it.
    m_status->setVisible(!m_statusPanes.value(kit));
    if (m_selector->currentButton() != kit) {
        // Set quietly: the hub already switched.
        m_selector->setController(nullptr);
        m_selector->setCurrentButton(kit);
        m_selector->setController(this);
    }
    for (auto it = m_kitActions.cbegin(); it != m_kitActions.cend(); ++it) {
        it.value()->setCheckable(true);
        it.value()->setChecked(it.key() == kit);
    }
    // A pane deleted before the window takes its items with it.
    for (auto it = m_kitMenuActions.cbegin(); it != m_kitMenuActions.cend(); ++it)
        if (it.value())
            it.value()->setVisible(it.key() == kit);
    if (IQV3ProjectListView* list = listView(kit))
        if (auto* m = list->projectModel())
            m->reloadProjects();
    validateMenus();
    focusActiveList();
}

void IQV3MainWindow::reloadLists()
{
    for (const QPointer<IQV3ProjectListView>& list : std::as_const(m_lists))
        if (auto* m = list ? list->projectModel() : nullptr)
            m->reloadProjects();
    m_selector->update();
    validateMenus();
}

void IQV3MainWindow::redrawSelector()
{
    m_selector->update();
}

void IQV3MainWindow::focusActiveList()
{
    if (QWidget* w = m_projects->currentWidget())
        w->setFocus(Qt::OtherFocusReason);
}

void IQV3MainWindow::setDockProgress(int position)
{
    m_dockPosition = position;
    m_selector->update();
}

void IQV3MainWindow::setStatusText(const QString& text)
{
    if (QWidget* pane = m_statusPanes.value(m_hub->currentKit()))
        if (auto* parts = dynamic_cast<IKitPane*>(pane)) {
            parts->setKitStatusText(text);
            return;
        }
    m_status->setText(text);
}

int IQV3MainWindow::leftPaneWidth() const
{
    const QList<int> sizes = m_splitter->sizes();
    return sizes.isEmpty() ? 0 : sizes.first();
}

bool IQV3MainWindow::funcSelectorNeedChangeFromIndex(int, int)
{
    return true;
}

bool IQV3MainWindow::funcSelectorNeedShowIndicator(int kit)
{
    switch (kit) {
    case 1:
        return m_hub->isBackupProcessing();
    case 2:
        return m_hub->isArchiveProcessing();
    case 3:
        return m_hub->isCloneProcessing();
    case 4:
        return m_hub->isSyncProcessing();
    default:
        return false;
    }
}

void IQV3MainWindow::changeCurrentFuncInterface3(int kit)
{
    m_projects->setCurrentIndex(kit - 1);
    m_contents->setCurrentIndex(kit - 1);
    m_statuses->setCurrentIndex(kit - 1);
}

void IQV3MainWindow::eventFunctionKitChanged()
{
    m_hub->toggleFunctionKit(m_selector->currentButton());
}

// ---- Frame and divider ---------------------------------------------------------------------

QPoint IQV3MainWindow::placement(const std::optional<QRect>& available)
{
    if (!available)
        return QPoint(50, 50);
    // 50 from the left and, on a screen taller than the window, 50 from the top; a short screen
    // keeps the title bar on it.
    return QPoint(
        available->left() + 50, available->height() > kMinHeight ? available->top() + 50 : available->top());
}

std::optional<QRect> IQV3MainWindow::frameFromPreference(const QVariant& value, const QList<QRect>& screens)
{
    if (value.typeId() != QMetaType::QVariantList)
        return std::nullopt;
    const QVariantList list = value.toList();
    if (list.size() != 4)
        return std::nullopt;
    int v[4];
    for (int i = 0; i < 4; ++i) {
        const int type = list.at(i).typeId();
        if (type != QMetaType::Int && type != QMetaType::LongLong && type != QMetaType::Double)
            return std::nullopt;
        v[i] = int(list.at(i).toDouble());
    }
    const QRect frame(v[0], v[1], qMax(v[2], int(kMinWidth)), qMax(v[3], int(kMinHeight)));
    for (const QRect& s : screens)
        if (s.intersects(frame))
            return frame;
    return std::nullopt;
}

void IQV3MainWindow::restoreFrame()
{
    QList<QRect> screens;
    for (QScreen* s : QGuiApplication::screens())
        screens << s->availableGeometry();
    const QVariant stored = ICommon::loadMainPrefValueForKey(QStringLiteral("MainWindowFrame"));
    const std::optional<QRect> frame = frameFromPreference(stored, screens);
    if (frame) {
        setGeometry(*frame);
    } else if (stored.isValid()) {
        m_hub->logSink().processMessage(
            LogText(QStringLiteral("MainWindowFrame ignored: not four integers on a screen")), 129, nullptr);
    }
}

void IQV3MainWindow::restoreSplitterPosition()
{
    int position = kLeftMin;
    const QVariant stored = AppPaths::appSettings()->value(QStringLiteral("MainSplitterPosition"));
    bool ok = false;
    const double value = stored.toDouble(&ok);
    if (stored.isValid() && ok && value > 0)
        position = int(value);
    else if (stored.isValid() && (!ok || value < 0))
        m_hub->logSink().processMessage(
            LogText(QStringLiteral("MainSplitterPosition ignored: not a positive number")), 129, nullptr);
    const int total = m_splitter->width() - m_splitter->handleWidth();
    position = qBound(
        int(kLeftMin), position, qMax(int(kLeftMin), total - (kRightMin - m_splitter->handleWidth())));
    m_splitter->setSizes({ position, qMax(0, total - position) });
    m_leftWidth = position;
}

void IQV3MainWindow::saveState()
{
    const QRect g = geometry();
    ICommon::saveMainPrefValue(
        QVariantList { g.x(), g.y(), g.width(), g.height() }, QStringLiteral("MainWindowFrame"));
    ICommon::saveMainPrefIntValue(m_hub->currentKit(), QStringLiteral("SelectedFunctionKit"));
    AppPaths::appSettings()->setValue(QStringLiteral("MainSplitterPosition"), double(leftPaneWidth()));
    AppPaths::appSettings()->sync();
}

void IQV3MainWindow::resizeEvent(QResizeEvent* event)
{
    QMainWindow::resizeEvent(event);
    // A resize keeps the left pane's width and gives the rest to the right pane.
    const int total = m_splitter->width() - m_splitter->handleWidth();
    const int left = qBound(
        int(kLeftMin), m_leftWidth, qMax(int(kLeftMin), total - (kRightMin - m_splitter->handleWidth())));
    m_splitter->setSizes({ left, qMax(0, total - left) });
    m_selector->update();
}

void IQV3MainWindow::closeEvent(QCloseEvent* event)
{
    // Closing the main window is quitting; the hub asks when work runs.
    event->ignore();
    m_hub->requestQuit();
}

void IQV3MainWindow::changeEvent(QEvent* event)
{
    QMainWindow::changeEvent(event);
    if (event->type() != QEvent::WindowStateChange)
        return;
    QWidget* log = m_hub->logWindow();
    if (!log || !log->isVisible())
        return;
    if (isMinimized())
        log->showMinimized();
    else
        log->showNormal();
}
