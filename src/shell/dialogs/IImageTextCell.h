#pragma once

#include <QStyledItemDelegate>

// The outline cell that draws a small image before its text. The image is the item's
// DecorationRole, the flags an int in FlagsRole: Main draws the text bold, Hidden fills the
// image strip red, Dimmed draws the text grey. Long names are shortened in the middle; a
// disabled item's image is drawn faded. An editor gets the cell without the image part.
class IImageTextCell : public QStyledItemDelegate
{
    Q_OBJECT
public:
    enum Flag
    {
        Main = 1,
        Hidden = 2,
        Dimmed = 4
    };
    static constexpr int FlagsRole = Qt::UserRole + 0x4954; // an int of Flag bits
    static constexpr int StripWidth = 19; // the image strip at the left
    static constexpr int ImageInset = 3; // the image's distance from the cell's left edge

    explicit IImageTextCell(QObject* parent = nullptr);

    // Where the image of the given size is drawn in a cell; empty without an image.
    static QRect imageFrameForCellFrame(const QRect& cell, const QSize& image);
    // The font and text colour an item is drawn with (by its flags and state).
    static QFont textFont(const QStyleOptionViewItem& option, int flags, bool hasImage);
    static QColor textColor(const QStyleOptionViewItem& option, int flags);

    void paint(
        QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    void updateEditorGeometry(
        QWidget* editor, const QStyleOptionViewItem& option, const QModelIndex& index) const override;

private:
    QSize imageSize(const QStyleOptionViewItem& option, const QModelIndex& index) const;
};
