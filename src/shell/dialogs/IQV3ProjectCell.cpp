#include "IQV3ProjectCell.h"

#include "ProjectListModel.h"
#include "QV3ProcessIndicator.h"
#include "utilities/IColorUtil.h"
#include "utilities/ICommon.h"
#include "utilities/IIconUtil.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QPainter>

namespace {
QColor target(int index)
{
    return IColorUtil::colorForTarget(index).value_or(QColor(Qt::gray));
}

bool isHighlighted(const QStyleOptionViewItem& option)
{
    return option.state.testFlag(QStyle::State_Selected);
}

// The list has the key focus in the active window, and the row is selected.
bool isFocusedSelection(const QStyleOptionViewItem& option)
{
    const auto* view = qobject_cast<const QAbstractItemView*>(option.widget);
    return isHighlighted(option) && view && view->window()->isActiveWindow() && view->hasFocus();
}
} // namespace

IQV3ProjectCell::IQV3ProjectCell(QObject* parent)
    : QStyledItemDelegate(parent)
{ }

IQV3ProjectCell::StateMark IQV3ProjectCell::stateMark(bool inProcess, bool inQueue, bool scheduled)
{
    if (inProcess)
        return inQueue ? StateMark::Queue : StateMark::Wheel;
    return scheduled ? StateMark::Schedule : StateMark::None;
}

QRect IQV3ProjectCell::imageFrameForCellFrame(const QRect& frame, const QSize& imageSize)
{
    if (imageSize.isEmpty())
        return QRect();
    const int dy = (frame.height() - imageSize.height() + 1) / 2; // rounded up
    return QRect(QPoint(frame.x() + 3, frame.y() + dy), imageSize);
}

QSize IQV3ProjectCell::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    QSize s = QStyledItemDelegate::sizeHint(option, index);
    s.setHeight(ICommon::projectcListRowHeight());
    return s;
}

void IQV3ProjectCell::paint(QPainter* p, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    const QRect frame = option.rect;
    p->save();
    p->setClipRect(frame);
    // The row's background: the selection colour, else the list's background.
    const QPalette::ColorGroup group = (option.widget && option.widget->window()->isActiveWindow())
        ? QPalette::Active
        : QPalette::Inactive;
    if (isHighlighted(option))
        p->fillRect(frame, option.palette.color(group, QPalette::Highlight));
    else
        p->fillRect(frame, target(1));

    const int mode = index.data(ProjectListModel::CellModeRole).toInt();
    const QColor windowBackground = option.palette.color(QPalette::Window);
    if (mode == 0) {
        const QVariant color = index.data(ProjectListModel::ColorRole);
        p->fillRect(QRect(frame.x(), frame.y(), frame.width(), frame.height()),
            color.isValid() ? color.value<QColor>() : windowBackground);
    } else if (mode == 2) {
        drawState(p, option, index, frame);
    } else {
        drawName(p, option, index, frame);
    }

    // The row's separator line along the bottom edge.
    QPen pen(option.palette.color(QPalette::Mid));
    pen.setWidthF(0.3);
    p->setPen(pen);
    p->drawLine(
        QPointF(frame.x() + 0.5, frame.bottom() + 0.5), QPointF(frame.right() + 1, frame.bottom() + 0.5));
    p->restore();
}

void IQV3ProjectCell::drawState(
    QPainter* p, const QStyleOptionViewItem& option, const QModelIndex& index, QRect frame) const
{
    frame.translate(0, -1);
    const StateMark mark = stateMark(index.data(ProjectListModel::InProcessRole).toBool(),
        index.data(ProjectListModel::InQueueRole).toBool(),
        index.data(ProjectListModel::ScheduledRole).toBool());
    const int phase = isHighlighted(option) ? 1 : 0;
    // Marks and wheel end 35 pixels below the row's top, as the row's name line does.
    const int bottom = frame.y() + 35;
    const int x = frame.x() + qMax(0, (frame.width() - kMarkSize) / 2);
    switch (mark) {
    case StateMark::Wheel:
        QV3ProcessIndicator::paintWheel(*p,
            QRectF(x + (kMarkSize - kWheelSize) / 2.0, bottom - kWheelSize - (kMarkSize - kWheelSize) / 2.0,
                kWheelSize, kWheelSize),
            QV3ProcessIndicator::shared().angleStep(), isHighlighted(option), target(14));
        break;
    case StateMark::Queue:
    case StateMark::Schedule: {
        const QIcon icon = IIconUtil::shared().icon(mark == StateMark::Queue ? 9 : 8, phase);
        icon.paint(p, QRect(x, bottom - kMarkSize, kMarkSize, kMarkSize));
        break;
    }
    case StateMark::None:
        break;
    }
}

void IQV3ProjectCell::drawName(
    QPainter* p, const QStyleOptionViewItem& option, const QModelIndex& index, QRect frame) const
{
    const QIcon image = index.data(Qt::DecorationRole).value<QIcon>();
    if (!image.isNull()) {
        const QRect imageFrame = imageFrameForCellFrame(frame, QSize(kImageSize, kImageSize));
        p->setOpacity(option.state.testFlag(QStyle::State_Enabled) ? 1.0 : 0.6);
        image.paint(p, imageFrame);
        p->setOpacity(1.0);
        frame.setLeft(imageFrame.right() + 1 + 6);
    } else {
        frame.setLeft(frame.left() + 6);
    }

    const QColor textColor = isFocusedSelection(option) ? target(15)
        : isHighlighted(option)                         ? option.palette.color(QPalette::HighlightedText)
                                                        : option.palette.color(QPalette::Text);
    const QString status = index.data(ProjectListModel::StatusRole).toString();
    if (!status.isEmpty()) {
        QFont font = option.font;
        font.setPixelSize(12);
        font.setBold(false);
        font.setStretch(QFont::Condensed);
        p->setFont(font);
        p->setPen(textColor);
        const QRect statusRect(frame.x() + 3, frame.y() + frame.height() - 26, frame.width() - 6, 16);
        p->drawText(statusRect, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine,
            QFontMetrics(font).elidedText(status, Qt::ElideRight, statusRect.width()));
    }

    QFont font = option.font;
    font.setPixelSize(14);
    font.setBold(true);
    p->setFont(font);
    p->setPen(textColor);
    const QRect nameRect(frame.x() + 3, frame.y() + 10, frame.width() - 6, frame.height() - 35);
    const QString name = index.data(Qt::DisplayRole).toString();
    p->drawText(nameRect, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine,
        QFontMetrics(font).elidedText(name, Qt::ElideRight, nameRect.width()));
}

QWidget* IQV3ProjectCell::createEditor(
    QWidget* parent, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    if (index.data(ProjectListModel::CellModeRole).toInt() != 1)
        return nullptr;
    return QStyledItemDelegate::createEditor(parent, option, index);
}

void IQV3ProjectCell::updateEditorGeometry(
    QWidget* editor, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    // Over the name line, right of the image.
    QRect r = option.rect;
    const bool hasImage = !index.data(Qt::DecorationRole).value<QIcon>().isNull();
    r.setLeft(r.left() + (hasImage ? kImageSize + 3 : 0) + 6);
    editor->setGeometry(
        QRect(r.x(), r.y() + 7, r.width(), qMax(editor->sizeHint().height(), r.height() - 35)));
}
