#pragma once

#include <QWidget>

class QWidgetAction;

// A titled separator of the device menus: a line, the title in small grey letters from x + 21,
// and a line from 6 pixels after the title to the right edge. The item is a disabled action
// with the tag 1006 in its data; its widget paints the lines and the title the same in every
// style (a menu section would not).
class IMenuItemView : public QWidget
{
    Q_OBJECT
public:
    static constexpr int Tag = 1006;
    static constexpr int TitleX = 21;

    explicit IMenuItemView(const QString& title, QWidget* parent = nullptr);

    // A new disabled separator item titled title (empty is allowed: two lines, no text).
    static QWidgetAction* menuSeparatorItemWithTitle(const QString& title, QObject* parent = nullptr);

    QString title() const { return m_title; }
    // The title's font: the system font two pixels smaller.
    static QFont titleFont();
    // Grey 0.6, 0.4 in dark mode.
    static QColor titleColor();
    // Paints a titled separator into rect; the combo box of volumes draws its separators so too.
    static void paintSeparator(
        QPainter* painter, const QRect& rect, const QString& title, const QColor& lineColor);

    QSize sizeHint() const override { return QSize(40, 20); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString m_title;
};
