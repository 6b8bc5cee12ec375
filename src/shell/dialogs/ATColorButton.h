#pragma once

#include <QColor>
#include <QToolButton>

class QMenu;

// The colour-label chooser of the project lists: a button that opens a menu of the nine label
// colours (tag = the table index of ProjectColor), the chosen one checked.
class ATColorButton : public QToolButton
{
    Q_OBJECT
public:
    explicit ATColorButton(QWidget* parent = nullptr);

    QColor color() const { return m_color; }
    // Any colour; only a label with exactly its components is checked.
    void setColor(const QColor& color);
    // The menu's action: tags above 8 are ignored.
    void actColorSelect(int tag);
    QMenu* colorMenu() const { return m_menu; }
    // The 16 x 13 swatch of a colour item, framed in light grey.
    static QIcon swatch(const QColor& color);

Q_SIGNALS:
    void colorChosen(const QColor& color);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void checkLabel(int tag);

    QMenu* m_menu = nullptr;
    QColor m_color;
};
