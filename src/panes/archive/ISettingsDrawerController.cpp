#include "panes/archive/ISettingsDrawerController.h"

#include "panes/archive/ArchiveCoordinator.h"
#include "panes/archive/IBSettingsViewController.h"
#include "shell/dialogs/DestinationMenu.h"

#include <QButtonGroup>
#include <QCoreApplication>
#include <QEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QStackedWidget>
#include <QTabWidget>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>

namespace {

QString loc(const char* text)
{
    return QCoreApplication::translate("Localizable", text);
}

constexpr int kPagesMinHeight = 193;
constexpr int kGap = 8;
constexpr int kScrollMinHeight = 60;

void releaseWidth(QWidget* w)
{
    w->setMinimumWidth(0);
    w->setMaximumWidth(QWIDGETSIZE_MAX);
}

} // namespace

ISettingsDrawerController::ISettingsDrawerController(
    IBSettingsViewController* sheet, ArchiveCoordinator* coordinator, QWidget* parent)
    : QDialog(parent)
    , m_sheet(sheet)
    , m_coordinator(coordinator)
{
    setObjectName(QStringLiteral("SettingsDrawerWindow"));
    setWindowTitle(loc("Settings"));
    setWindowModality(Qt::WindowModal);

    m_drawer = new QFrame(this);
    m_drawer->setObjectName(QStringLiteral("SettingsDrawer"));
    m_drawer->setFrameShape(QFrame::StyledPanel);
    m_drawer->hide();
    m_drawer->installEventFilter(this);

    // The segments are the sheet's tab titles, in its order.
    m_switcherBar = new QWidget(m_drawer);
    m_optionSwitcher = new QButtonGroup(this);
    m_optionSwitcher->setExclusive(true);
    auto* segments = new QHBoxLayout(m_switcherBar);
    segments->setContentsMargins(0, 0, 0, 0);
    segments->setSpacing(0);
    if (m_sheet) {
        QTabWidget* tabs = m_sheet->tabs();
        for (int i = 0; i < tabs->count(); ++i) {
            m_pages.append(tabs->widget(i));
            m_titles.append(tabs->tabText(i));
            auto* segment = new QToolButton(m_switcherBar);
            segment->setText(tabs->tabText(i));
            segment->setCheckable(true);
            segment->setAutoRaise(false);
            segments->addWidget(segment);
            m_optionSwitcher->addButton(segment, i);
        }
        m_chooseText = m_sheet->chooseFolderButton()->text();
    }
    if (QAbstractButton* first = m_optionSwitcher->button(0))
        first->setChecked(true);
    m_switcherBar->adjustSize();

    m_tabView = new QStackedWidget(m_drawer);
    m_scrollView = new QScrollArea(m_drawer);
    m_scrollView->setWidgetResizable(true);
    m_summary = new QLabel(m_scrollView);
    m_summary->setObjectName(QStringLiteral("SettingsSummary"));
    m_summary->setWordWrap(true);
    m_summary->setAlignment(Qt::AlignTop | Qt::AlignLeft);
    m_summary->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_summary->setContentsMargins(6, 4, 6, 4);
    m_scrollView->setWidget(m_summary);

    m_toggle = new QPushButton(loc("Hide Settings"), this);
    m_close = new QPushButton(loc("Close"), this);
    m_close->setDefault(true);
    auto* drawerRow = new QHBoxLayout;
    drawerRow->addWidget(m_drawer);
    drawerRow->addStretch(1);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_toggle);
    buttons->addStretch(1);
    buttons->addWidget(m_close);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(drawerRow, 1);
    layout->addLayout(buttons);

    connect(m_optionSwitcher, &QButtonGroup::idClicked, this, &ISettingsDrawerController::switchTabs);
    connect(m_toggle, &QPushButton::clicked, this, &ISettingsDrawerController::toggle);
    connect(m_close, &QPushButton::clicked, this, &ISettingsDrawerController::closeButton);

    setSizeMax(720, 420, 540, 0, 0);
    if (m_coordinator)
        m_coordinator->setSettingsDrawer(this);
}

ISettingsDrawerController::~ISettingsDrawerController()
{
    if (m_coordinator && m_coordinator->settingsDrawer() == this)
        m_coordinator->setSettingsDrawer(nullptr);
    returnPages();
}

int ISettingsDrawerController::pagesHeight() const
{
    int h = kPagesMinHeight;
    for (const QPointer<QWidget>& page : m_pages)
        if (page)
            h = std::max(h, page->minimumSizeHint().height());
    return h;
}

void ISettingsDrawerController::showWindowForParentWindow(QWidget* parent, std::function<void(int)> didEnd)
{
    if (isVisible())
        return;
    m_didEnd = std::move(didEnd);
    if (parent && parentWidget() != parent)
        setParent(parent, windowFlags() | Qt::Sheet);
    setWindowModality(Qt::WindowModal);
    openDrawer();
    adjustSize();
    show();
    raise();
    activateWindow();
}

void ISettingsDrawerController::closeButton()
{
    const bool wasShown = isVisible();
    closeDrawer();
    hide();
    setResult(QDialog::Accepted);
    if (!wasShown && !m_didEnd)
        return;
    // Taken first: the delegate may show the window again.
    std::function<void(int)> didEnd = std::move(m_didEnd);
    m_didEnd = nullptr;
    if (didEnd)
        didEnd(QDialog::Accepted);
}

void ISettingsDrawerController::switchTabs()
{
    const int index = m_optionSwitcher->checkedId();
    if (index >= 0 && index < m_tabView->count())
        m_tabView->setCurrentIndex(index);
    updateSummary();
}

void ISettingsDrawerController::setSizeMax(
    int maxWidth, int minWidth, int contentWidth, int leadingOffset, int trailingOffset)
{
    m_minWidth = std::max(0, minWidth);
    m_maxWidth = std::max(m_minWidth, maxWidth);
    m_contentWidth = std::clamp(contentWidth, m_minWidth, m_maxWidth);
    m_leadingOffset = std::max(0, leadingOffset);
    m_trailingOffset = std::max(0, trailingOffset);
    m_drawer->setFixedWidth(m_contentWidth);
    const int barHeight = m_switcherBar->sizeHint().height();
    m_drawer->setMinimumHeight(
        kSwitcherTop + barHeight + kGap + pagesHeight() + kGap + kScrollMinHeight + kMargin);
    if (auto* row = qobject_cast<QBoxLayout*>(layout()->itemAt(0)->layout()))
        row->setContentsMargins(0, m_leadingOffset, 0, m_trailingOffset);
    if (isVisible()) {
        layout()->activate();
        adjustSize();
    }
    correctControls();
}

void ISettingsDrawerController::toggle()
{
    if (m_state == Open || m_state == Opening)
        closeDrawer();
    else
        openDrawer();
}

void ISettingsDrawerController::openDrawer()
{
    if (m_state == Open)
        return;
    m_state = Opening;
    borrowPages();
    m_drawer->show();
    m_toggle->setText(loc("Hide Settings"));
    m_state = Open;
    correctControls();
    switchTabs();
    if (isVisible())
        adjustSize();
}

void ISettingsDrawerController::closeDrawer()
{
    if (m_state == Closed)
        return;
    m_state = Closing;
    m_drawer->hide();
    returnPages();
    m_toggle->setText(loc("Show Settings"));
    m_state = Closed;
    if (isVisible())
        adjustSize();
}

void ISettingsDrawerController::borrowPages()
{
    if (!m_sheet || m_tabView->count() > 0)
        return;
    QTabWidget* tabs = m_sheet->tabs();
    m_sheetTabIndex = tabs->currentIndex();
    for (const QPointer<QWidget>& page : std::as_const(m_pages)) {
        if (!page)
            continue;
        tabs->removeTab(tabs->indexOf(page));
        m_tabView->addWidget(page);
    }
    // The folder field's row ends with a narrow choose button in the panel (see correctControls).
    m_sheet->chooseFolderButton()->setText(QStringLiteral("…"));
    if (QLayout* form = m_sheet->folderField()->parentWidget()->layout()) {
        QMargins m = form->contentsMargins();
        m.setRight(0);
        form->setContentsMargins(m);
    }
}

void ISettingsDrawerController::returnPages()
{
    if (!m_sheet || m_tabView->count() == 0)
        return;
    QTabWidget* tabs = m_sheet->tabs();
    for (int i = 0; i < m_pages.size(); ++i) {
        QWidget* page = m_pages.at(i);
        if (!page)
            continue;
        m_tabView->removeWidget(page);
        tabs->insertTab(std::min(i, tabs->count()), page, m_titles.at(i));
    }
    tabs->setCurrentIndex(m_sheetTabIndex);
    QLineEdit* folder = m_sheet->folderField();
    QPushButton* choose = m_sheet->chooseFolderButton();
    releaseWidth(folder);
    releaseWidth(choose);
    choose->setText(m_chooseText);
    if (QLayout* form = folder->parentWidget()->layout()) {
        const int side = form->contentsMargins().left();
        QMargins m = form->contentsMargins();
        m.setRight(side);
        form->setContentsMargins(m);
    }
}

void ISettingsDrawerController::correctControls()
{
    const int W = m_contentWidth;
    const int H = std::max(m_drawer->height(), m_drawer->minimumHeight());
    const QSize bar = m_switcherBar->sizeHint();
    m_switcherBar->setGeometry((W - bar.width()) / 2, kSwitcherTop, bar.width(), bar.height());
    const int pagesTop = kSwitcherTop + bar.height() + kGap;
    const int pagesH = pagesHeight();
    m_tabView->setGeometry(kMargin, pagesTop, W - 2 * kMargin, pagesH);

    // The sheet's folder field ends 35 px before the panel's right edge; its choose button takes
    // what is left of the row.
    if (m_sheet && m_state == Open) {
        QLineEdit* folder = m_sheet->folderField();
        QPushButton* choose = m_sheet->chooseFolderButton();
        QWidget* page = folder->parentWidget();
        releaseWidth(folder);
        releaseWidth(choose);
        page->setGeometry(0, 0, m_tabView->width(), pagesH);
        page->layout()->activate();
        const int pageX = kMargin; // the stack shows its pages at its own origin
        const int fieldWidth = std::max(40, W - kFolderGap - pageX - folder->x());
        folder->setFixedWidth(fieldWidth);
        page->layout()->activate();
        choose->setFixedWidth(std::max(16, page->width() - choose->x()));
        page->layout()->activate();
        if (m_tabView->currentWidget())
            m_tabView->currentWidget()->setGeometry(m_tabView->contentsRect());
    }

    const int scrollTop = pagesTop + pagesH + kGap;
    m_scrollView->setGeometry(kMargin, scrollTop, W - 2 * kMargin, std::max(0, H - scrollTop - kMargin));
}

void ISettingsDrawerController::updateSummary()
{
    if (!m_sheet) {
        m_summary->clear();
        return;
    }
    QStringList lines;
    lines << loc("Project: %1").arg(m_sheet->nameField()->text());
    lines << loc("Destination: %1").arg(m_sheet->device()->currentText());
    if (!m_sheet->folderField()->text().isEmpty())
        lines << loc("Folder: %1").arg(m_sheet->folderField()->text());
    const QString status = m_sheet->destinationStatus()->text();
    if (!status.isEmpty() && status != m_sheet->device()->currentText())
        lines << status;
    m_summary->setText(lines.join(QLatin1Char('\n')));
}

bool ISettingsDrawerController::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_drawer && event->type() == QEvent::Resize)
        correctControls();
    return QDialog::eventFilter(watched, event);
}

IBSettingsViewController* ISettingsDrawerController::settingsSheet() const
{
    return m_sheet.data();
}
