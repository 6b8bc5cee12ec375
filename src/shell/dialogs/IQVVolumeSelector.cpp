#include "IQVVolumeSelector.h"

#include "IMenuItemView.h"

#include <QPainter>
#include <QStandardItemModel>
#include <QStyledItemDelegate>

namespace {
constexpr int kTitledSeparatorRole = Qt::UserRole + 0x5653;

// Draws titled separators itself and every other item as the combo box would.
class VolumeItemDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        if (!index.data(kTitledSeparatorRole).toBool()) {
            QStyledItemDelegate::paint(painter, option, index);
            return;
        }
        IMenuItemView::paintSeparator(painter, option.rect, index.data(Qt::DisplayRole).toString(),
            option.palette.color(QPalette::Mid));
    }

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        const QSize size = QStyledItemDelegate::sizeHint(option, index);
        return index.data(kTitledSeparatorRole).toBool() ? QSize(size.width(), 20) : size;
    }
};
} // namespace

IQVVolumeSelector::IQVVolumeSelector(QWidget* parent)
    : QComboBox(parent)
{
    setItemDelegate(new VolumeItemDelegate(this));
}

void IQVVolumeSelector::addSeparatorWithTitle(const QString& title)
{
    addItem(title, IMenuItemView::Tag);
    const int row = count() - 1;
    setItemData(row, true, kTitledSeparatorRole);
    if (auto* items = qobject_cast<QStandardItemModel*>(model()))
        if (QStandardItem* item = items->item(row))
            item->setFlags(item->flags() & ~(Qt::ItemIsEnabled | Qt::ItemIsSelectable));
    if (currentIndex() == row)
        setCurrentIndex(-1); // a first item that is a separator is not a choice
}

bool IQVVolumeSelector::isTitledSeparator(int index) const
{
    return itemData(index, kTitledSeparatorRole).toBool();
}
