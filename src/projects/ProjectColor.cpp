#include "projects/ProjectColor.h"

#include <QtEndian>
#include <cmath>
#include <cstring>

namespace ProjectColor {

QColor defaultColor()
{
    return QColor::fromRgbF(154.0f / 255.0f, 154.0f / 255.0f, 154.0f / 255.0f, 1.0f);
}

QByteArray encode(const QColor& color)
{
    const QColor rgb = color.isValid() ? color.toRgb() : defaultColor();
    float c[4];
    rgb.getRgbF(&c[0], &c[1], &c[2], &c[3]);
    QByteArray out(32, '\0');
    for (int i = 0; i < 4; ++i) {
        const double v = c[i];
        quint64 bits;
        std::memcpy(&bits, &v, sizeof bits);
        qToLittleEndian(bits, out.data() + 8 * i);
    }
    return out;
}

QColor decode(const QByteArray& data, bool* ok)
{
    if (ok)
        *ok = false;
    if (data.size() != 32)
        return defaultColor();
    double c[4];
    for (int i = 0; i < 4; ++i) {
        const quint64 bits = qFromLittleEndian<quint64>(data.constData() + 8 * i);
        std::memcpy(&c[i], &bits, sizeof bits);
        if (!std::isfinite(c[i]) || c[i] < 0.0 || c[i] > 1.0)
            return defaultColor();
    }
    if (ok)
        *ok = true;
    return QColor::fromRgbF(float(c[0]), float(c[1]), float(c[2]), float(c[3]));
}

int labelTagOf(const QColor& color)
{
    const QColor rgb = color.toRgb();
    for (int tag = 0; tag < kLabelCount; ++tag)
        if (rgb.red() == kLabels[tag].red && rgb.green() == kLabels[tag].green
            && rgb.blue() == kLabels[tag].blue)
            return tag;
    return -1;
}

} // namespace ProjectColor
