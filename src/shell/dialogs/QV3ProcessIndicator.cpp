#include "QV3ProcessIndicator.h"

#include <QPainter>
#include <QTimer>
#include <QtMath>

QV3ProcessIndicator& QV3ProcessIndicator::shared()
{
    static QV3ProcessIndicator* instance = new QV3ProcessIndicator();
    return *instance;
}

QV3ProcessIndicator::QV3ProcessIndicator()
{
    m_timer = new QTimer(this);
    m_timer->setInterval(kIntervalMs);
    connect(m_timer, &QTimer::timeout, this, &QV3ProcessIndicator::advance);
}

void QV3ProcessIndicator::acquire(const QObject* owner)
{
    if (!owner || m_owners.contains(owner))
        return;
    m_owners.insert(owner);
    // An owner that goes away without releasing must not keep the timer running.
    connect(owner, &QObject::destroyed, this, [this, owner] { release(owner); });
    if (!m_timer->isActive())
        m_timer->start();
}

void QV3ProcessIndicator::release(const QObject* owner)
{
    if (!m_owners.remove(owner))
        return;
    disconnect(owner, &QObject::destroyed, this, nullptr);
    if (m_owners.isEmpty())
        m_timer->stop();
}

bool QV3ProcessIndicator::isTurning() const
{
    return m_timer->isActive();
}

void QV3ProcessIndicator::advance()
{
    m_step = (m_step + 1) % kSteps;
    Q_EMIT advanced(m_step);
}

void QV3ProcessIndicator::paintWheel(
    QPainter& painter, const QRectF& rect, int step, bool onSelect, const QColor& color)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    const QPointF centre = rect.center();
    const qreal radius = qMin(rect.width(), rect.height()) / 2.0;
    const qreal inner = radius * 0.45;
    QColor base = color;
    if (onSelect)
        base = base.lightnessF() < 0.5 ? QColor(Qt::white) : base;
    for (int i = 0; i < kSteps; ++i) {
        // The spoke at the current step is the darkest; the ones behind it fade out.
        const int age = (step - i + kSteps) % kSteps;
        QColor c = base;
        c.setAlphaF(float(1.0 - 0.75 * age / (kSteps - 1)));
        QPen pen(c, qMax<qreal>(1.0, radius / 4.5), Qt::SolidLine, Qt::RoundCap);
        painter.setPen(pen);
        const qreal a = 2 * M_PI * i / kSteps - M_PI / 2;
        painter.drawLine(QPointF(centre.x() + inner * qCos(a), centre.y() + inner * qSin(a)),
            QPointF(centre.x() + (radius - pen.widthF() / 2) * qCos(a),
                centre.y() + (radius - pen.widthF() / 2) * qSin(a)));
    }
    painter.restore();
}
