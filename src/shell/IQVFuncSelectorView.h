#pragma once

#include <QList>
#include <QWidget>

// What the function kit bar asks its controller and tells it.
class IFuncSelectorController
{
public:
    virtual ~IFuncSelectorController() = default;
    virtual bool funcSelectorNeedChangeFromIndex(int from, int to) = 0;
    virtual bool funcSelectorNeedShowIndicator(int kit) = 0;
    virtual void changeCurrentFuncInterface3(int kit) = 0;
    virtual void eventFunctionKitChanged() = 0;
};

// The function kit bar across the top of the main window: four buttons (Backup, Archive, Clone,
// Synchronize) in the upper 60 %, each with a turning wheel while a project of its kind runs,
// and a caption strip naming the current kit below them.
class IQVFuncSelectorView : public QWidget
{
    Q_OBJECT
public:
    explicit IQVFuncSelectorView(QWidget* parent = nullptr);

    void setController(IFuncSelectorController* controller);
    int currentButton() const { return m_pressedButton; }
    // Kit 1..4; a change tells the controller.
    void setCurrentButton(int kit);
    // Selects kit index + 1 (any index outside 0..3 selects kit 1) as a click does.
    void clickToButton(int index);
    // Whether button index (0..4) has a wheel; above 4 there is none.
    bool wielIndicatorForButton(int index) const { return index >= 0 && index <= 4; }
    bool isWheelShown(int index) const;

    // Right edges of the four columns for a width: each truncated from the previous one, the
    // last taking the remainder.
    static QList<int> columnEdges(int width);
    // The column under x, -1 when none: its left edge is below x and its right edge at least x.
    static int columnAt(int x, int width);
    static QString caption(int kit);
    static QString toolTipFor(int index);

    QSize sizeHint() const override { return QSize(740, 74); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    bool event(QEvent* event) override;

private:
    void selectKit(int kit);
    void refreshWheels();

    IFuncSelectorController* m_controller = nullptr;
    int m_pressedButton = 0;
    bool m_wheels[4] = { false, false, false, false };
};
