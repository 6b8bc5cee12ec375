#include "panes/sync/IQVSynchronizerTopPanel.h"

#include "panes/sync/SyncPaneRules.h"
#include "platform/NameCodec.h"
#include "shell/dialogs/IDDOutlineView.h"
#include "utilities/IColorUtil.h"
#include "utilities/IIconUtil.h"

#include <QActionGroup>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QDragEnterEvent>
#include <QHelpEvent>
#include <QMenu>
#include <QMimeData>
#include <QPainter>
#include <QToolTip>
#include <sys/stat.h>

namespace {

QString loc(const char* text)
{
    return QCoreApplication::translate("Localizable", text);
}

QColor target(int index, const QColor& fallback)
{
    return IColorUtil::colorForTarget(index).value_or(fallback);
}

constexpr int kBoxHeight = 22;
constexpr int kControlWidth = 50;

} // namespace

IQVSynchronizerTopPanel::IQVSynchronizerTopPanel(QWidget* parent)
    : QWidget(parent)
{
    setAcceptDrops(true);
    setMouseTracking(true);
    m_directMenu = new QMenu(this);
    auto* group = new QActionGroup(m_directMenu);
    const char* titles[3] = { "Left to right", "Right to left", "Bidirectional" };
    for (int i = 0; i < 3; ++i) {
        m_items[i] = m_directMenu->addAction(loc(titles[i]));
        m_items[i]->setCheckable(true);
        group->addAction(m_items[i]);
        connect(m_items[i], &QAction::triggered, this, [this, i] { selectMenuItem(i); });
    }
    m_items[0]->setChecked(true);
}

QSize IQVSynchronizerTopPanel::sizeHint() const
{
    return QSize(600, 26);
}

QSize IQVSynchronizerTopPanel::minimumSizeHint() const
{
    return QSize(220, 26);
}

void IQVSynchronizerTopPanel::setFirstFolder(const QString& path)
{
    if (path == m_firstFolder)
        return;
    m_firstFolder = path;
    m_highlight = -1;
    update();
}

void IQVSynchronizerTopPanel::setSecondFolder(const QString& path)
{
    if (path == m_secondFolder)
        return;
    m_secondFolder = path;
    m_highlight = -1;
    update();
}

bool IQVSynchronizerTopPanel::isFolderActive(const QString& path)
{
    struct stat st = {};
    return !path.isEmpty() && ::stat(NameCodec::encode(path).constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

void IQVSynchronizerTopPanel::verifyFolders()
{
    m_firstFolderActivity = isFolderActive(m_firstFolder);
    m_secondFolderActivity = isFolderActive(m_secondFolder);
    update();
}

void IQVSynchronizerTopPanel::setDirection(int index)
{
    bool enabled[3];
    for (int i = 0; i < 3; ++i)
        enabled[i] = m_items[i]->isEnabled();
    const std::optional<int> d = SyncPaneRules::directionChoice(int(m_direction), index, enabled);
    if (!d)
        return;
    m_items[*d]->setChecked(true);
    m_direction = *d;
    update();
}

void IQVSynchronizerTopPanel::setDirectionChangeEnabled(bool enabled)
{
    m_directionChangeEnabled = enabled;
}

void IQVSynchronizerTopPanel::setDirectionItemEnabled(int index, bool enabled)
{
    if (index >= 0 && index < 3)
        m_items[index]->setEnabled(enabled);
}

void IQVSynchronizerTopPanel::selectMenuItem(int index)
{
    if (index == m_direction || index < 0 || index > 2)
        return;
    const qint64 before = m_direction;
    setDirection(index);
    if (m_direction != before)
        emit directionChosen(int(m_direction));
}

// ---- Geometry ----------------------------------------------------------------------------------

QRect IQVSynchronizerTopPanel::getDirArrowRect() const
{
    const int W = width();
    return QRect(W / 2 - kControlWidth / 2, 1, kControlWidth, kBoxHeight + 2);
}

QRect IQVSynchronizerTopPanel::leftBoxRect() const
{
    const int F = (width() - kControlWidth) / 2 - 6;
    return QRect(0, 2, qMax(F, 0), kBoxHeight);
}

QRect IQVSynchronizerTopPanel::rightBoxRect() const
{
    const int F = (width() - kControlWidth) / 2 - 6;
    const int x = width() / 2 + kControlWidth / 2 + 6;
    return QRect(x, 2, qMax(F, 0), kBoxHeight);
}

int IQVSynchronizerTopPanel::placeAt(const QPoint& p) const
{
    if (leftBoxRect().contains(p))
        return 1;
    if (rightBoxRect().contains(p))
        return 2;
    return 0;
}

QString IQVSynchronizerTopPanel::boxText(int side) const
{
    const QString path = side == 0 ? m_firstFolder : m_secondFolder;
    return path.isEmpty() ? loc("Drag a folder here to synchronize") : path;
}

// ---- Drawing -----------------------------------------------------------------------------------

void IQVSynchronizerTopPanel::drawBox(QPainter& p, const QRect& box, bool highlighted)
{
    p.fillRect(box, highlighted ? target(10, QColor(0x9c, 0xc3, 0xf5)) : target(8, QColor(0xb8, 0xb8, 0xb8)));
    p.fillRect(box.adjusted(1, 1, -1, -1), target(11, palette().color(QPalette::Base)));
}

void IQVSynchronizerTopPanel::drawFolderText(QPainter& p, const QRect& box, int side)
{
    const QString path = side == 0 ? m_firstFolder : m_secondFolder;
    const bool active = side == 0 ? m_firstFolderActivity : m_secondFolderActivity;
    const bool enabled = m_enable && isEnabled();
    QColor color = palette().color(QPalette::Text);
    if (path.isEmpty() ? !enabled : (!active || !enabled))
        color = palette().color(QPalette::Disabled, QPalette::Text);
    QFont f = font();
    f.setPixelSize(11);
    p.setFont(f);
    p.setPen(color);
    const QRect r = box.adjusted(6, 0, -6, 0);
    p.drawText(r, Qt::AlignVCenter | Qt::AlignLeft,
        QFontMetrics(f).elidedText(boxText(side), Qt::ElideMiddle, r.width()));
}

void IQVSynchronizerTopPanel::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRect left = leftBoxRect(), right = rightBoxRect(), ctl = getDirArrowRect();
    drawBox(p, left, m_highlight == 0);
    drawBox(p, right, m_highlight == 1);
    // The direction control: its end pieces, the middle and the direction image centred in it.
    const IIconUtil& icons = IIconUtil::shared();
    const int cap = 6;
    icons.icon(17, 0).paint(&p, QRect(ctl.left(), ctl.top(), cap, ctl.height()));
    icons.icon(19, 0).paint(&p, QRect(ctl.left() + cap, ctl.top(), ctl.width() - 2 * cap, ctl.height()));
    icons.icon(18, 0).paint(&p, QRect(ctl.right() - cap + 1, ctl.top(), cap, ctl.height()));
    const QRect img(ctl.center().x() - 9, ctl.center().y() - 9, 18, 18);
    icons.icon(SyncPaneRules::directionPack(int(m_direction)), 0)
        .paint(&p, img, Qt::AlignCenter, m_enable && m_directionChangeEnabled ? QIcon::Normal : QIcon::Disabled);
    drawFolderText(p, left, 0);
    drawFolderText(p, right, 1);
}

// ---- Pointer -----------------------------------------------------------------------------------

void IQVSynchronizerTopPanel::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return QWidget::mousePressEvent(event);
    const QPoint pos = event->position().toPoint();
    if (!m_enable)
        return;
    if (const int place = placeAt(pos)) {
        emit chooseFolderRequested(place - 1);
        return;
    }
    if (getDirArrowRect().contains(pos) && m_directionChangeEnabled)
        m_directMenu->exec(mapToGlobal(getDirArrowRect().bottomLeft()));
}

void IQVSynchronizerTopPanel::mouseMoveEvent(QMouseEvent* event)
{
    m_mousePos = placeAt(event->position().toPoint());
    QWidget::mouseMoveEvent(event);
}

void IQVSynchronizerTopPanel::leaveEvent(QEvent* event)
{
    m_mousePos = 0;
    QWidget::leaveEvent(event);
}

bool IQVSynchronizerTopPanel::event(QEvent* event)
{
    if (event->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(event);
        const int place = placeAt(help->pos());
        if (place)
            QToolTip::showText(help->globalPos(), boxText(place - 1), this);
        else
            QToolTip::hideText();
        return true;
    }
    return QWidget::event(event);
}

void IQVSynchronizerTopPanel::contextMenuEvent(QContextMenuEvent* event)
{
    // The kept menu appears over a box only.
    m_mousePos = placeAt(event->pos());
    if (!m_mousePos)
        return;
    const int side = m_mousePos - 1;
    QMenu menu(this);
    QAction* choose = menu.addAction(loc("Choose Folder..."));
    choose->setEnabled(m_enable);
    QAction* reveal = menu.addAction(loc("Reveal in Finder"));
    reveal->setEnabled(!(side == 0 ? m_firstFolder : m_secondFolder).isEmpty());
    QAction* chosen = menu.exec(event->globalPos());
    if (chosen == choose)
        emit chooseFolderRequested(side);
    else if (chosen == reveal)
        emit revealRequested(side);
}

// ---- Drops -------------------------------------------------------------------------------------

QString IQVSynchronizerTopPanel::draggedPath(const QMimeData* mime) const
{
    const QStringList paths = DroppedData::localPaths(mime);
    return paths.isEmpty() ? QString() : paths.first();
}

void IQVSynchronizerTopPanel::dragEnterEvent(QDragEnterEvent* event)
{
    const QString path = draggedPath(event->mimeData());
    const int side = SyncPaneRules::dropSide(int(event->position().x()), width());
    if (path.isNull() || !m_enable || !isEnabled() || (m_dropCheck && !m_dropCheck(side, path).isNull())) {
        event->ignore();
        return;
    }
    event->setDropAction(Qt::CopyAction);
    event->accept();
}

void IQVSynchronizerTopPanel::dragMoveEvent(QDragMoveEvent* event)
{
    const QString path = draggedPath(event->mimeData());
    const int side = SyncPaneRules::dropSide(int(event->position().x()), width());
    if (path.isNull() || !m_enable || !isEnabled() || (m_dropCheck && !m_dropCheck(side, path).isNull())) {
        event->ignore();
        if (m_highlight != -1) {
            m_highlight = -1;
            update();
        }
        return;
    }
    event->setDropAction(Qt::CopyAction);
    event->accept();
    if (m_highlight != side) {
        m_highlight = side;
        update();
    }
}

void IQVSynchronizerTopPanel::dragLeaveEvent(QDragLeaveEvent*)
{
    m_highlight = -1;
    update();
}

void IQVSynchronizerTopPanel::dropEvent(QDropEvent* event)
{
    m_highlight = -1;
    update();
    const QString path = draggedPath(event->mimeData());
    const int side = SyncPaneRules::dropSide(int(event->position().x()), width());
    if (path.isNull()) {
        event->ignore();
        return;
    }
    // Checked again: the state may have changed while the drag went on.
    const QString why = !m_enable || !isEnabled() ? loc("The project is running: its folders cannot change now")
        : m_dropCheck                             ? m_dropCheck(side, path)
                                                  : QString();
    if (!why.isNull()) {
        event->ignore();
        emit dropRefused(why);
        return;
    }
    event->setDropAction(Qt::CopyAction);
    event->accept();
    emit folderDropped(side, path);
}
