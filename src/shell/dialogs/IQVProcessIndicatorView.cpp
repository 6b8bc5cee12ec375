#include "IQVProcessIndicatorView.h"

#include "platform/MainThread.h"
#include "utilities/CommonFunctions.h"
#include "utilities/IColorUtil.h"
#include "utilities/IIconUtil.h"

#include <QHelpEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QToolTip>
#include <cmath>

namespace {
// Icon table indexes: the button, then the bar's left cap, middle piece and right cap.
constexpr int kButtonPack = 4;
constexpr int kLeftPack = 20;
constexpr int kMiddlePack = 21;
constexpr int kRightPack = 22;
// Phases of the bar pieces.
constexpr int kEmpty = 0;
constexpr int kFull = 1;
constexpr int kDisabled = 2;

QPixmap piece(int pack, int phase, const QSize& size, qreal dpr)
{
    return IIconUtil::shared().icon(pack, phase).pixmap(size, dpr);
}
} // namespace

IQVProcessIndicatorView::IQVProcessIndicatorView(QWidget* parent)
    : QWidget(parent)
{
    setAttribute(Qt::WA_Hover, false);
    setMouseTracking(false);
    m_buttonFrame = QRectF(0, 0, kButtonSize, kButtonSize);
}

void IQVProcessIndicatorView::setOwner(IMainButtonOwner* owner)
{
    m_owner = owner;
    m_ownerAlive = owner ? owner->lifetime() : std::weak_ptr<void>();
}

IMainButtonOwner* IQVProcessIndicatorView::owner() const
{
    return m_ownerAlive.expired() ? nullptr : m_owner;
}

QSize IQVProcessIndicatorView::sizeHint() const
{
    return QSize(240, kButtonSize);
}

void IQVProcessIndicatorView::setIndicatorState(double percentage)
{
    m_indicatorState.store(std::min(percentage, 100.0));
}

void IQVProcessIndicatorView::setStateButton(int state, double percentage)
{
    const double value = std::min(percentage, 100.0);
    const double stored = m_indicatorState.load();
    if (value == stored && state == m_buttonState.load())
        return;
    double p = value;
    if (state == 1)
        p = 0;
    else if (state == 2 && value == 0)
        p = 0;
    else if (state == 2 && value < stored && stored > 0 && stored < 100)
        p = stored; // the bar never moves backwards during a run
    m_buttonState.store(state);
    m_indicatorState.store(p);
    ++m_updateRequests;
    if (isMainThread()) {
        update();
        ++m_eventPasses;
        QVProcessEvents(); // the change shows during long work on the main thread
    } else {
        QPointer<IQVProcessIndicatorView> self(this);
        runOnMain([self] {
            if (self)
                self->update();
        });
    }
}

QRect IQVProcessIndicatorView::barRect() const
{
    const int x = kButtonSize + 8;
    return QRect(x, 0, std::max(0, width() - (kButtonSize + 16)), height());
}

int IQVProcessIndicatorView::middleSpan() const
{
    const QRect r = barRect();
    return std::max(0, (r.x() + r.width() - kCapWidth) - (r.x() + kCapWidth));
}

int IQVProcessIndicatorView::filledWidth() const
{
    const double p = m_indicatorState.load();
    if (p <= 0)
        return 0;
    return std::max(0, int(std::trunc((p - 1) * middleSpan() / 99.0)));
}

QColor IQVProcessIndicatorView::textColor() const
{
    const bool light = IColorUtil::currentColorMode() == IColorUtil::ModeLight;
    return light && m_indicatorState.load() < 50 ? QColor(Qt::black) : QColor(Qt::white);
}

bool IQVProcessIndicatorView::isOnButton(const QPointF& point) const
{
    const QPointF c = m_buttonFrame.center();
    const double w = m_buttonFrame.width();
    const double dx = point.x() - c.x(), dy = point.y() - c.y();
    return dx * dx + dy * dy < w * w / 4;
}

void IQVProcessIndicatorView::paintEvent(QPaintEvent* event)
{
    if (!isMainThread())
        qFatal("IQVProcessIndicatorView painted off the main thread");
    QPainter painter(this);
    const qreal dpr = devicePixelRatioF();
    const int state = m_buttonState.load();
    const double p = m_indicatorState.load();
    const int h = height();

    // The bar: its pieces sit 2 pixels above the bottom edge.
    const QRect r = barRect();
    const int right = r.x() + r.width();
    const int barY = h - 2 - kBarHeight;
    const int m = middleSpan();
    const int phase = state == 0 ? kDisabled : kEmpty;
    const QSize cap(kCapWidth, kBarHeight);
    auto draw = [&](const QRect& target, int pack, int ph) {
        if (target.width() > 0 && target.intersects(event->rect()))
            painter.drawPixmap(target, piece(pack, ph, cap, dpr));
    };
    draw(QRect(r.x(), barY, kCapWidth, kBarHeight), kLeftPack, phase);
    draw(QRect(right - kCapWidth, barY, kCapWidth, kBarHeight), kRightPack, phase);
    draw(QRect(r.x() + kCapWidth, barY, m + 1, kBarHeight), kMiddlePack, phase);
    if (state != 0 && p > 0) {
        draw(QRect(r.x(), barY, kCapWidth, kBarHeight), kLeftPack, kFull);
        if (p >= 100)
            draw(QRect(right - kCapWidth, barY, kCapWidth, kBarHeight), kRightPack, kFull);
        draw(QRect(r.x() + kCapWidth, barY, filledWidth(), kBarHeight), kMiddlePack, kFull);
    }
    if (r.width() > 0) {
        QFont font = painter.font();
        font.setPixelSize(12);
        painter.setFont(font);
        painter.setPen(textColor());
        const QRect textRect(r.x(), h - 2 - 20, r.width(), 20);
        const QString text = QString::asprintf("%3.2f %%", p);
        painter.drawText(textRect, Qt::AlignCenter,
            painter.fontMetrics().elidedText(text, Qt::ElideRight, textRect.width()));
    }

    // The button, at the bottom-left corner; states above 2 draw none.
    m_buttonFrame = QRectF(0, h - kButtonSize, kButtonSize, kButtonSize);
    const int buttonPhase = state == 0 ? 2 : state == 1 ? 0 : state == 2 ? 1 : -1;
    if (buttonPhase >= 0) {
        const QPixmap image = piece(kButtonPack, buttonPhase, QSize(kButtonSize, kButtonSize), dpr);
        if (m_hilited)
            painter.setOpacity(0.7); // the pressed look
        painter.drawPixmap(m_buttonFrame.topLeft(), image);
    }
}

void IQVProcessIndicatorView::mousePressEvent(QMouseEvent* event)
{
    if (!m_hilited && m_buttonState.load() != 0 && isOnButton(event->position())) {
        m_hilited = true;
        update();
        event->accept();
        return;
    }
    event->ignore(); // the parent gets it
}

void IQVProcessIndicatorView::mouseReleaseEvent(QMouseEvent* event)
{
    if (!m_hilited) {
        event->ignore();
        return;
    }
    m_hilited = false;
    update();
    event->accept();
    if (!isOnButton(event->position()))
        return; // released outside the circle: no click
    if (IMainButtonOwner* o = owner())
        o->mainButtonClickedOn(this);
}

bool IQVProcessIndicatorView::event(QEvent* event)
{
    if (event->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(event);
        if (help->pos().x() < kButtonSize)
            QToolTip::showText(help->globalPos(), QVToolTipStr(m_buttonState.load() < 2 ? 16 : 17), this);
        else
            QToolTip::hideText();
        return true;
    }
    return QWidget::event(event);
}
