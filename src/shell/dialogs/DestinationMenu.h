#pragma once

#include "projects/DestinationItemList.h"

#include <QComboBox>
#include <QMetaObject>

// The destination pop-up of the settings sheets: the items of a DestinationItemList, each
// location item tagged (Qt::UserRole) with its index, device headers and separators disabled.
// refill() builds the items from the volume table; while the table has not been filled yet, it
// asks for a fill in the background and builds them when the table reports it (filled()).
class DestinationMenu : public QComboBox
{
    Q_OBJECT
public:
    explicit DestinationMenu(QWidget* parent = nullptr);

    void refill();
    bool isFilled() const { return m_filled; }
    // Shows these items (tests and owners that build their own list).
    void setItems(const DestinationItemList& list);

    DestinationItemList& itemList() { return m_list; }
    const DestinationItemList& itemList() const { return m_list; }

    // Appends a destination that is not in the menu (see DestinationItemList::addLocation) and
    // selects it; false for an empty location.
    bool addAndSelect(const ILocation& location, bool addSeparator);

    qint64 selectedTag() const;
    bool selectTag(qint64 tag);
    std::shared_ptr<ILocation> selectedLocation() const;

Q_SIGNALS:
    void filled();
    // The user chose an item (not when the code selects one).
    void destinationChosen(qint64 tag);

private:
    void rebuild();

    DestinationItemList m_list;
    bool m_filled = false;
    QMetaObject::Connection m_waiting;
};
