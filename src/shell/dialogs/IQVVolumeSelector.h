#pragma once

#include <QComboBox>

// The volume pop-up of the clone and sync panes: volumes as items (the caller's data), plain
// separators through insertSeparator, and titled separators (a device's name) drawn as in the
// device menus (IMenuItemView); a titled separator can never be chosen.
class IQVVolumeSelector : public QComboBox
{
    Q_OBJECT
public:
    explicit IQVVolumeSelector(QWidget* parent = nullptr);

    // Appends a titled separator: a disabled item with the tag 1006 as its data.
    void addSeparatorWithTitle(const QString& title);
    bool isTitledSeparator(int index) const;
};
