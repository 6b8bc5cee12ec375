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

} // namespace ProjectColor
