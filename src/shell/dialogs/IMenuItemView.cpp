#include "IMenuItemView.h"

#include "utilities/IColorUtil.h"

#include <QApplication>
#include <QPainter>
#include <QWidgetAction>

IMenuItemView::IMenuItemView(const QString& title, QWidget* parent)
    : QWidget(parent)
    , m_title(title)
{
    setMinimumSize(40, 20);
}

QWidgetAction* IMenuItemView::menuSeparatorItemWithTitle(const QString& title, QObject* parent)
{
    auto* item = new QWidgetAction(parent);
    item->setText(title);
    item->setData(Tag);
    item->setEnabled(false);
    item->setDefaultWidget(new IMenuItemView(title));
    return item;
}

QFont IMenuItemView::titleFont()
{
    QFont font(QStringLiteral("Helvetica"));
    font.setPixelSize(std::max(1, QFontInfo(QApplication::font()).pixelSize() - 2));
    return font;
}

QColor IMenuItemView::titleColor()
{
    const qreal grey = IColorUtil::effectiveMode() == IColorUtil::ModeDark ? 0.4 : 0.6;
    return QColor::fromRgbF(grey, grey, grey);
}

void IMenuItemView::paintSeparator(
    QPainter* painter, const QRect& rect, const QString& title, const QColor& lineColor)
{
    painter->save();
    const int middle = rect.y() + rect.height() / 2;
    painter->setPen(QPen(lineColor, 0)); // a hairline, one device pixel
    painter->drawLine(rect.x(), middle, rect.x() + 18, middle);
    const QFont font = titleFont();
    const QFontMetrics metrics(font);
    const int titleWidth = title.isEmpty() ? 0 : metrics.horizontalAdvance(title);
    if (!title.isEmpty()) {
        painter->setFont(font);
        painter->setPen(titleColor());
        painter->drawText(QRect(rect.x() + TitleX, rect.y(), titleWidth, rect.height()),
            Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, title);
    }
    painter->setPen(QPen(lineColor, 0));
    painter->drawLine(rect.x() + TitleX + titleWidth + 6, middle, rect.right(), middle);
    painter->restore();
}

void IMenuItemView::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    paintSeparator(&p, rect(), m_title, palette().color(QPalette::Mid));
}
