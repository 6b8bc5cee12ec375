#include "IImageTextCell.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QPainter>

namespace {
QIcon imageOf(const QModelIndex& index)
{
    const QVariant v = index.data(Qt::DecorationRole);
    if (v.canConvert<QIcon>())
        return v.value<QIcon>();
    if (v.canConvert<QPixmap>())
        return QIcon(v.value<QPixmap>());
    return {};
}

int flagsOf(const QModelIndex& index)
{
    return index.data(IImageTextCell::FlagsRole).toInt();
}
} // namespace

IImageTextCell::IImageTextCell(QObject* parent)
    : QStyledItemDelegate(parent)
{ }

QRect IImageTextCell::imageFrameForCellFrame(const QRect& cell, const QSize& image)
{
    if (image.isEmpty())
        return {};
    // centred vertically, a half pixel going down
    const int y = cell.y() + (cell.height() - image.height() + 1) / 2;
    return QRect(QPoint(cell.x() + ImageInset, y), image);
}

QFont IImageTextCell::textFont(const QStyleOptionViewItem& option, int flags, bool hasImage)
{
    QFont font = option.font;
    font.setPixelSize(13);
    font.setBold(hasImage && (flags & Main)); // bold only beside an image
    return font;
}

QColor IImageTextCell::textColor(const QStyleOptionViewItem& option, int flags)
{
    const bool viewFocused = option.widget && option.widget->hasFocus();
    if ((option.state & QStyle::State_Selected) && viewFocused)
        return option.palette.color(QPalette::Active, QPalette::HighlightedText);
    if (flags & Dimmed)
        return QColor(Qt::gray);
    const QPalette::ColorGroup group
        = option.state & QStyle::State_Enabled ? QPalette::Active : QPalette::Disabled;
    return option.palette.color(group, QPalette::Text);
}

QSize IImageTextCell::imageSize(const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    const QIcon image = imageOf(index);
    if (image.isNull())
        return QSize(0, 0); // not QSize(): its width of -1 would enter the sums below
    const QSize wanted = option.decorationSize.isValid() ? option.decorationSize : QSize(16, 16);
    return image.actualSize(wanted);
}

void IImageTextCell::paint(
    QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    QStyleOptionViewItem opt = option;
    initStyleOption(&opt, index);
    const int flags = flagsOf(index);
    const QIcon image = imageOf(index);
    const QSize size = imageSize(opt, index);
    const QWidget* widget = opt.widget;
    QStyle* style = widget ? widget->style() : QApplication::style();

    // the row's background and selection, as the view draws it for any cell
    style->drawPrimitive(QStyle::PE_PanelItemViewItem, &opt, painter, widget);

    QRect textRect = opt.rect;
    painter->save();
    if (!image.isNull()) {
        const QRect strip(opt.rect.x(), opt.rect.y(), StripWidth, opt.rect.height());
        textRect.setLeft(strip.right() + 1);
        if (flags & Hidden)
            painter->fillRect(strip, Qt::red);
        painter->setOpacity(opt.state & QStyle::State_Enabled ? 1.0 : 0.6);
        image.paint(painter, imageFrameForCellFrame(opt.rect, size));
        painter->setOpacity(1.0);
    }
    const QFont font = textFont(opt, flags, !image.isNull());
    painter->setFont(font);
    painter->setPen(textColor(opt, flags));
    const QRect inner = textRect.adjusted(2, 0, -2, 0);
    const QString text = QFontMetrics(font).elidedText(opt.text, Qt::ElideMiddle, inner.width());
    painter->drawText(inner, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, text);
    painter->restore();
}

QSize IImageTextCell::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    QStyleOptionViewItem opt = option;
    initStyleOption(&opt, index);
    const QSize image = imageSize(opt, index);
    const QFontMetrics metrics(textFont(opt, flagsOf(index), !image.isEmpty()));
    const int height = std::max(metrics.height(), image.height()) + 4;
    return QSize(metrics.horizontalAdvance(opt.text) + 4 + image.width() + ImageInset, height);
}

void IImageTextCell::updateEditorGeometry(
    QWidget* editor, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    QStyleOptionViewItem opt = option;
    initStyleOption(&opt, index);
    editor->setGeometry(opt.rect.adjusted(imageSize(opt, index).width() + ImageInset, 0, 0, 0));
}
