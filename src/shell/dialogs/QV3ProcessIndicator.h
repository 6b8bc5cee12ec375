#pragma once

#include <QColor>
#include <QObject>
#include <QSet>

class QPainter;
class QRectF;
class QTimer;

// The spinning wheel of running projects, in the project lists and on the function selector's
// buttons. No wheel is a widget: every wheel is painted from one shared angle, which a single
// timer advances while at least one owner has a wheel turning.
class QV3ProcessIndicator : public QObject
{
    Q_OBJECT
public:
    static QV3ProcessIndicator& shared();

    static constexpr int kSteps = 12;
    static constexpr int kIntervalMs = 83; // about 12 steps a second

    // The current step, 0 .. kSteps - 1.
    int angleStep() const { return m_step; }
    // An owner that has turning wheels; the timer runs while any owner holds it.
    void acquire(const QObject* owner);
    void release(const QObject* owner);
    bool isTurning() const;
    int ownerCount() const { return int(m_owners.size()); }
    // One step forward and the advanced() notice (the timer's slot; tests call it by hand).
    void advance();

    // Paints a wheel of kSteps spokes into rect at the given step; onSelect draws it lighter, for
    // selected rows.
    static void paintWheel(
        QPainter& painter, const QRectF& rect, int step, bool onSelect, const QColor& color);

Q_SIGNALS:
    void advanced(int step);

private:
    QV3ProcessIndicator();
    QTimer* m_timer = nullptr;
    QSet<const QObject*> m_owners;
    int m_step = 0;
};
