#pragma once

#include "projects/IProcessIndicator.h"

#include <QColor>
#include <QRectF>
#include <QWidget>
#include <atomic>
#include <memory>

// The start/stop button of a pane with the run's progress bar beside it. The owner sets the
// state (also from reader threads) and gets the button's clicks in states 1 and 2.
class IQVProcessIndicatorView : public QWidget, public IProcessIndicator
{
    Q_OBJECT
public:
    explicit IQVProcessIndicatorView(QWidget* parent = nullptr);

    void setOwner(IMainButtonOwner* owner);
    IMainButtonOwner* owner() const;

    void setStateButton(int state, double percentage) override;
    int buttonState() const override { return m_buttonState.load(); }
    void setButtonState(int state) override { m_buttonState.store(state); }
    int indicatorState() const override { return int(m_indicatorState.load()); }
    void setIndicatorState(double percentage) override;
    double percentage() const { return m_indicatorState.load(); }

    // Where the button image was last drawn, and the circle the clicks must fall into.
    QRectF buttonFrame() const { return m_buttonFrame; }
    bool isOnButton(const QPointF& point) const;
    // The colour the percentage text is drawn in for the current state and appearance.
    QColor textColor() const;
    // The span of the bar's middle piece and the width its filled part gets at the percentage.
    int middleSpan() const;
    int filledWidth() const;

    // Counts for tests: redraw requests and event passes caused by setStateButton.
    int updateRequests() const { return m_updateRequests.load(); }
    int eventPasses() const { return m_eventPasses.load(); }

    QSize sizeHint() const override;

    static constexpr int kButtonSize = 28;
    static constexpr int kCapWidth = 8;
    static constexpr int kBarHeight = 24;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    bool event(QEvent* event) override;

private:
    QRect barRect() const;

    std::atomic<double> m_indicatorState { 0 };
    QRectF m_buttonFrame;
    std::atomic<int> m_buttonState { 0 };
    IMainButtonOwner* m_owner = nullptr;
    std::weak_ptr<void> m_ownerAlive;
    bool m_hilited = false;
    std::atomic<int> m_updateRequests { 0 };
    std::atomic<int> m_eventPasses { 0 };
};
