#include "QVToggleHeadButton.h"

#include "utilities/IIconPack.h"

#include <QImageReader>
#include <QPainter>

namespace {
struct Images
{
    QIcon normal = IIconPack::loadWithName(QStringLiteral("povorot"));
    QIcon pressed = IIconPack::loadWithName(QStringLiteral("povorot_press"));
    QIcon disabled = IIconPack::loadWithName(QStringLiteral("povorot_dis"));
};

const Images& images()
{
    static const Images shared;
    return shared;
}
} // namespace

QVToggleHeadButton::QVToggleHeadButton(QWidget* parent)
    : QAbstractButton(parent)
{
    resize(buttonSize());
}

QVToggleHeadButton::QVToggleHeadButton(const QPoint& topRight, QWidget* parent)
    : QVToggleHeadButton(parent)
{
    const QSize size = buttonSize();
    setGeometry(topRight.x() - size.width(), topRight.y(), size.width(), size.height());
}

QSize QVToggleHeadButton::buttonSize()
{
    // the image's own size, as drawn at 1:1
    static const QSize size = images().normal.isNull()
        ? QSize()
        : QImageReader(IIconPack::resourcePath(QStringLiteral("povorot"))).size();
    return size;
}

QIcon QVToggleHeadButton::currentImage() const
{
    if (!isEnabled())
        return images().disabled;
    return isDown() ? images().pressed : images().normal;
}

void QVToggleHeadButton::paintEvent(QPaintEvent*)
{
    const QIcon image = currentImage();
    if (image.isNull())
        return;
    QPainter p(this);
    const QSize size = buttonSize();
    image.paint(&p, QRect(QPoint(0, 0), size));
}
