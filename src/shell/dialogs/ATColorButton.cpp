#include "ATColorButton.h"

#include "projects/ProjectColor.h"

#include <QCoreApplication>
#include <QMenu>
#include <QPainter>
#include <QStyleOptionToolButton>

QIcon ATColorButton::swatch(const QColor& color)
{
    QPixmap pixmap(16, 13);
    pixmap.fill(color);
    QPainter p(&pixmap);
    p.setPen(QColor::fromRgbF(0.63f, 0.63f, 0.63f)); // a grey outline, seen on light and dark menus
    p.drawRect(pixmap.rect().adjusted(0, 0, -1, -1));
    return QIcon(pixmap);
}

ATColorButton::ATColorButton(QWidget* parent)
    : QToolButton(parent)
    , m_color(ProjectColor::kLabels[0].color())
{
    setPopupMode(QToolButton::InstantPopup);
    setAutoRaise(true);
    m_menu = new QMenu(this);
    for (int tag = 0; tag < ProjectColor::kLabelCount; ++tag) {
        const ProjectColor::Label& label = ProjectColor::kLabels[tag];
        QAction* action = m_menu->addAction(
            swatch(label.color()), QCoreApplication::translate("Localizable", label.title));
        action->setCheckable(true);
        action->setData(tag);
        connect(action, &QAction::triggered, this, [this, action] {
            actColorSelect(action->data().toInt());
            Q_EMIT colorChosen(m_color);
        });
    }
    setMenu(m_menu);
    checkLabel(0);
    setMinimumSize(34, 22);
}

void ATColorButton::checkLabel(int tag)
{
    for (QAction* a : m_menu->actions())
        a->setChecked(a->data().toInt() == tag);
}

void ATColorButton::actColorSelect(int tag)
{
    if (tag < 0 || tag >= ProjectColor::kLabelCount)
        return;
    m_color = ProjectColor::kLabels[tag].color();
    checkLabel(tag);
    update();
}

void ATColorButton::setColor(const QColor& color)
{
    m_color = color.toRgb();
    checkLabel(ProjectColor::labelTagOf(m_color));
    update();
}

void ATColorButton::paintEvent(QPaintEvent* event)
{
    QToolButton::paintEvent(event);
    QPainter p(this);
    const QColor outline = !isEnabled() ? palette().color(QPalette::Disabled, QPalette::WindowText)
        : underMouse()                  ? QColor(53, 98, 216)
                                        : QColor::fromRgbF(0.67f, 0.67f, 0.67f);
    p.setPen(outline);
    p.setBrush(m_color);
    p.drawRect(QRect(5, (height() - 13) / 2, 17, 13));
}
