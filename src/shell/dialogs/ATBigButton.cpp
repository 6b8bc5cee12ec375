#include "ATBigButton.h"

#include "utilities/IColorUtil.h"

#include <QPainter>

ATBigButton::ATBigButton(QWidget* parent)
    : QAbstractButton(parent)
{
    setAttribute(Qt::WA_Hover);
}

void ATBigButton::setTitleOnly(bool on)
{
    m_titleOnly = on;
    update();
}

void ATBigButton::setNormalImage(const QIcon& image)
{
    m_normal = image;
    m_titleOnly = false;
    if (m_moused.isNull())
        m_moused = image;
    if (m_pressed.isNull())
        m_pressed = image;
    update();
}

void ATBigButton::setMousedImage(const QIcon& image)
{
    m_moused = image;
    update();
}

void ATBigButton::setPressedImage(const QIcon& image)
{
    m_pressed = image;
    update();
}

void ATBigButton::setDisabledImage(const QIcon& image)
{
    m_disabled = image;
    update();
}

void ATBigButton::setDrawImagesToButtonSize(bool on)
{
    m_toSize = on;
    update();
}

QColor ATBigButton::normalColor() const
{
    return IColorUtil::colorForTarget(12).value_or(palette().color(QPalette::ButtonText));
}

QColor ATBigButton::disabledColor() const
{
    return IColorUtil::colorForTarget(13).value_or(palette().color(QPalette::Disabled, QPalette::ButtonText));
}

QIcon ATBigButton::currentImage() const
{
    if (!isEnabled())
        return m_disabled;
    return m_mouseEntered ? m_moused : m_normal;
}

QColor ATBigButton::currentColor() const
{
    if (!isEnabled())
        return disabledColor();
    return m_mouseEntered ? mousedColor() : normalColor();
}

QSize ATBigButton::sizeHint() const
{
    if (!m_titleOnly)
        return iconSize().expandedTo(QSize(32, 32)) + QSize(4, 4);
    QFont f = font();
    f.setPixelSize(14);
    return QFontMetrics(f).size(Qt::TextSingleLine, text()) + QSize(16, 8);
}

void ATBigButton::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    if (!m_titleOnly) {
        const QIcon image = currentImage();
        if (image.isNull())
            return;
        if (m_toSize) {
            image.paint(&p, rect());
        } else {
            const QSize size = image.actualSize(QSize(32, 32));
            image.paint(
                &p, QRect(QPoint((width() - size.width()) / 2, (height() - size.height()) / 2), size));
        }
        return;
    }
    if (text().isEmpty())
        return;
    QFont f(QStringLiteral("Helvetica"));
    f.setPixelSize(14); // 14.3 rounded
    p.setFont(f);
    p.setPen(currentColor());
    p.drawText(rect(), Qt::AlignCenter, text());
}

void ATBigButton::enterEvent(QEnterEvent* event)
{
    m_mouseEntered = true;
    update();
    QAbstractButton::enterEvent(event);
}

void ATBigButton::leaveEvent(QEvent* event)
{
    m_mouseEntered = false;
    update();
    QAbstractButton::leaveEvent(event);
}
