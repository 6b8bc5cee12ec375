#pragma once

#include <QByteArray>
#include <QColor>

// The label colour of a project as the project lists store it under "Color": 32 bytes holding
// red, green, blue and alpha as IEEE-754 float64 values, little-endian, each from 0 to 1. Shared
// by every project kind that stores a colour.
namespace ProjectColor {

// Device grey: red, green and blue 154/255, alpha 1.
QColor defaultColor();

QByteArray encode(const QColor& color);

// The colour of stored data; the default grey (and *ok false) for data of another length or
// with a component that is not a number from 0 to 1.
QColor decode(const QByteArray& data, bool* ok = nullptr);

// The nine colour labels the colour chooser offers, in menu order (tag = index).
struct Label
{
    const char* title;
    int red, green, blue; // 0..255
    QColor color() const { return QColor(red, green, blue); }
};
inline constexpr Label kLabels[]
    = { { "Red", 242, 72, 74 }, { "Yellow", 252, 211, 0 }, { "Purple", 178, 101, 160 },
          { "Orange", 247, 132, 62 }, { "Green", 143, 193, 37 }, { "Blue", 84, 168, 255 },
          { "Brown", 134, 57, 47 }, { "Aquamarine", 17, 102, 175 }, { "Gray", 154, 154, 154 } };
inline constexpr int kLabelCount = int(sizeof(kLabels) / sizeof(kLabels[0]));
// The tag of the label with exactly these red, green and blue values; -1 for any other colour.
int labelTagOf(const QColor& color);

} // namespace ProjectColor
