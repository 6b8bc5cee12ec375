#include "shell/dialogs/DestinationMenu.h"

#include "projects/ILocation.h"
#include "utilities/IVolumeBase.h"

#include <QStandardItemModel>
#include <QThreadPool>

DestinationMenu::DestinationMenu(QWidget* parent)
    : QComboBox(parent)
{
    setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    setMinimumContentsLength(24);
    connect(this, qOverload<int>(&QComboBox::activated), this,
        [this](int index) { Q_EMIT destinationChosen(itemData(index).toLongLong()); });
    m_list.fill({});
    rebuild();
}

void DestinationMenu::refill()
{
    IVolumeBase& base = IVolumeBase::shared();
    if (base.isBaseFilled()) {
        setItems([&] {
            DestinationItemList list;
            list.fill(DestinationItemList::locationsFromVolumeBase(base));
            return list;
        }());
        return;
    }
    if (m_waiting)
        return;
    m_waiting = connect(&base, &IVolumeBase::baseFilled, this, [this] {
        disconnect(m_waiting);
        m_waiting = {};
        refill();
    });
    QThreadPool::globalInstance()->start([] { IVolumeBase::shared().fill(); });
}

void DestinationMenu::setItems(const DestinationItemList& list)
{
    m_list = list;
    rebuild();
    m_filled = true;
    Q_EMIT filled();
}

void DestinationMenu::rebuild()
{
    const QSignalBlocker block(this);
    clear();
    auto* model = qobject_cast<QStandardItemModel*>(this->model());
    for (const DestinationItem& item : m_list.items()) {
        if (item.kind == DestinationItem::Separator) {
            insertSeparator(count());
            setItemData(count() - 1, item.tag, Qt::UserRole);
            continue;
        }
        addItem(item.icon, item.title, item.tag);
        const int index = count() - 1;
        if (!item.toolTip.isEmpty())
            setItemData(index, item.toolTip, Qt::ToolTipRole);
        if (QStandardItem* row = model ? model->item(index) : nullptr) {
            if (!item.enabled || item.kind == DestinationItem::Header)
                row->setFlags(row->flags() & ~(Qt::ItemIsEnabled | Qt::ItemIsSelectable));
            if (item.kind == DestinationItem::Header) {
                QFont font = row->font();
                font.setBold(true);
                row->setFont(font);
                row->setData(QVariant(), Qt::UserRole);
            }
        }
    }
}

bool DestinationMenu::addAndSelect(const ILocation& location, bool addSeparator)
{
    const DestinationItem* item = m_list.addLocation(location, addSeparator);
    if (!item)
        return false;
    const qint64 tag = item->tag;
    rebuild();
    return selectTag(tag);
}

qint64 DestinationMenu::selectedTag() const
{
    const QVariant v = currentData();
    return v.isValid() ? v.toLongLong() : DestinationItemList::tagSelect;
}

bool DestinationMenu::selectTag(qint64 tag)
{
    for (int i = 0; i < count(); ++i) {
        const QVariant v = itemData(i);
        if (v.isValid() && v.toLongLong() == tag && (tag != -1)) {
            const QSignalBlocker block(this);
            setCurrentIndex(i);
            return true;
        }
    }
    return false;
}

std::shared_ptr<ILocation> DestinationMenu::selectedLocation() const
{
    return m_list.locationForTag(selectedTag());
}
