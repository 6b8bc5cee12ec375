#include "IQVFuncSelectorView.h"

#include "shell/dialogs/QV3ProcessIndicator.h"
#include "utilities/IColorUtil.h"
#include "utilities/ICommon.h"
#include "utilities/IIconUtil.h"

#include <QCoreApplication>
#include <QHelpEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QToolTip>

namespace {
struct Button
{
    int kit;
    const char* caption;
    int iconPack;
    const char* toolTip;
};
constexpr Button kButtons[4] = { { 1, "Backup", 0, "Backup view" }, { 2, "Archive", 1, "Archive view" },
    { 3, "Clone", 3, "Clone view" }, { 4, "Synchronize", 2, "Synchronize view" } };

QColor target(int index)
{
    return IColorUtil::colorForTarget(index).value_or(QColor(Qt::gray));
}
} // namespace

IQVFuncSelectorView::IQVFuncSelectorView(QWidget* parent)
    : QWidget(parent)
{
    setMinimumHeight(60);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setFixedHeight(74);
    connect(&QV3ProcessIndicator::shared(), &QV3ProcessIndicator::advanced, this, [this] {
        for (bool w : m_wheels)
            if (w) {
                update();
                return;
            }
    });
}

void IQVFuncSelectorView::setController(IFuncSelectorController* controller)
{
    if (controller)
        m_controller = controller;
}

QString IQVFuncSelectorView::caption(int kit)
{
    for (const Button& b : kButtons)
        if (b.kit == kit)
            return QCoreApplication::translate("Localizable", b.caption);
    return QCoreApplication::translate("Localizable", kButtons[0].caption);
}

QString IQVFuncSelectorView::toolTipFor(int index)
{
    if (index < 0 || index > 3)
        return QString();
    return QCoreApplication::translate("Localizable", kButtons[index].toolTip);
}

QList<int> IQVFuncSelectorView::columnEdges(int width)
{
    QList<int> edges;
    int right = 0;
    for (int i = 0; i < 4; ++i) {
        right = int(right + 0.25 * width);
        edges << right;
    }
    if (edges.last() < width)
        edges.last() = width;
    return edges;
}

int IQVFuncSelectorView::columnAt(int x, int width)
{
    const QList<int> edges = columnEdges(width);
    int left = 0;
    for (int i = 0; i < 4; ++i) {
        if (left < x && edges.at(i) >= x)
            return i;
        left = edges.at(i);
    }
    return -1;
}

void IQVFuncSelectorView::setCurrentButton(int kit)
{
    if (kit == m_pressedButton)
        return;
    m_pressedButton = kit;
    if (m_controller)
        m_controller->changeCurrentFuncInterface3(kit);
    update();
}

void IQVFuncSelectorView::selectKit(int kit)
{
    const int current = m_pressedButton ? m_pressedButton : ICommon::currentFunctionKit();
    if (m_controller && !m_controller->funcSelectorNeedChangeFromIndex(current, kit))
        return;
    setCurrentButton(kit);
    ICommon::setCurrentFunctionKit(kit);
    update();
    if (m_controller)
        m_controller->eventFunctionKitChanged();
}

void IQVFuncSelectorView::clickToButton(int index)
{
    selectKit(index >= 0 && index <= 3 ? index + 1 : 1);
}

bool IQVFuncSelectorView::isWheelShown(int index) const
{
    return index >= 0 && index < 4 && m_wheels[index];
}

void IQVFuncSelectorView::refreshWheels()
{
    bool any = false;
    for (int i = 0; i < 4; ++i) {
        m_wheels[i] = m_controller && m_controller->funcSelectorNeedShowIndicator(i + 1);
        any = any || m_wheels[i];
    }
    if (any)
        QV3ProcessIndicator::shared().acquire(this);
    else
        QV3ProcessIndicator::shared().release(this);
}

void IQVFuncSelectorView::mousePressEvent(QMouseEvent* event)
{
    const int column = columnAt(int(event->position().x()), width());
    if (column < 0)
        return;
    const int current = m_pressedButton ? m_pressedButton : ICommon::currentFunctionKit();
    if (column + 1 == current)
        return;
    selectKit(column + 1);
}

bool IQVFuncSelectorView::event(QEvent* event)
{
    if (event->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(event);
        const int buttonsHeight = int(0.6 * height());
        const int column = help->pos().y() < buttonsHeight ? columnAt(help->pos().x(), width()) : -1;
        const QString tip = toolTipFor(column);
        if (tip.isEmpty())
            QToolTip::hideText();
        else
            QToolTip::showText(help->globalPos(), tip, this);
        return true;
    }
    return QWidget::event(event);
}

void IQVFuncSelectorView::paintEvent(QPaintEvent*)
{
    if (m_pressedButton == 0)
        m_pressedButton = ICommon::currentFunctionKit();
    refreshWheels();
    QPainter p(this);
    const int W = width();
    const int H = height();
    const int buttonsHeight = int(0.6 * H);
    const QList<int> edges = columnEdges(W);
    int left = 0;
    for (int i = 0; i < 4; ++i) {
        const int x0 = i == 0 ? 0 : left + 1;
        const int x1 = edges.at(i);
        const QRect r(x0, 0, x1 - x0, buttonsHeight);
        const bool pressed = kButtons[i].kit == m_pressedButton;
        p.fillRect(r, target(pressed ? 2 : 1));
        const QIcon icon = IIconUtil::shared().icon(kButtons[i].iconPack, pressed ? 1 : 0);
        const int iconSize = qMin(32, buttonsHeight - 4);
        const int ix = int(r.left() + (r.width() - iconSize - 8) / 2.0) + 5;
        const int iy = r.top() + int((r.height() - iconSize) / 2.0);
        icon.paint(&p, QRect(ix, iy, iconSize, iconSize));
        p.setPen(target(pressed ? 2 : 3));
        p.drawLine(x1, 0, x1, buttonsHeight);
        if (m_wheels[i]) {
            const int inset = i == 3 ? 5 : 3;
            const int size = 12;
            QV3ProcessIndicator::paintWheel(p, QRectF(x1 - inset - size, 3, size, size),
                QV3ProcessIndicator::shared().angleStep(), pressed,
                pressed ? QColor(230, 230, 230) : target(14));
        }
        left = x1;
    }
    const QRect strip(0, buttonsHeight - 1, W, H - buttonsHeight + 1);
    p.fillRect(strip, target(2));
    QFont font = this->font();
    font.setPixelSize(13);
    p.setFont(font);
    p.setPen(QColor(230, 230, 230));
    const QRect textRect = strip.adjusted(0, 0, 0, -1);
    p.drawText(textRect, Qt::AlignCenter,
        QFontMetrics(font).elidedText(caption(m_pressedButton), Qt::ElideRight, textRect.width()));
}
