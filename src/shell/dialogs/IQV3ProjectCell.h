#pragma once

#include <QStyledItemDelegate>

// The one cell of every project list, drawn in the mode of its column (ProjectListModel's
// CellModeRole): 0 the colour label strip, 1 the project's image with its name in bold and its
// status line, 2 the state: the turning wheel while the project runs, the queue mark while it
// waits, the schedule mark while it is scheduled.
class IQV3ProjectCell : public QStyledItemDelegate
{
    Q_OBJECT
public:
    explicit IQV3ProjectCell(QObject* parent = nullptr);

    void paint(
        QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QWidget* createEditor(
        QWidget* parent, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    void updateEditorGeometry(
        QWidget* editor, const QStyleOptionViewItem& option, const QModelIndex& index) const override;

    // What the state column shows for a row: the wheel, the queue mark (icon pack 9), the
    // schedule mark (icon pack 8) or nothing.
    enum class StateMark
    {
        None,
        Wheel,
        Queue,
        Schedule
    };
    static StateMark stateMark(bool inProcess, bool inQueue, bool scheduled);

    static constexpr int kImageSize = 40; // the project image in the name column
    static constexpr int kMarkSize = 24; // the queue and schedule marks
    static constexpr int kWheelSize = 16;

    // Where the image of a name cell goes: at x + 3, centred in height; empty without an image.
    static QRect imageFrameForCellFrame(const QRect& frame, const QSize& imageSize);

private:
    void drawState(
        QPainter* p, const QStyleOptionViewItem& option, const QModelIndex& index, QRect frame) const;
    void drawName(
        QPainter* p, const QStyleOptionViewItem& option, const QModelIndex& index, QRect frame) const;
};
