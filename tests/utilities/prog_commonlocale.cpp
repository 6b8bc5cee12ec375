// Prints the locale-dependent texts of the common functions for the locale of its environment.
#include "utilities/ICommon.h"

#include <QCoreApplication>
#include <QDateTime>
#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QDateTime at(QDate(2024, 9, 3), QTime(11, 4, 56), Qt::LocalTime);
    std::printf("index=%d\n", ICommon::getFirstWeekdayIndex());
    std::printf("names=%s\n", ICommon::fillWeekDayNamesToSC().join(u',').toUtf8().constData());
    std::printf("medium=%s\n", ICommon::localUTF8StringFromDateTime(at).constData());
    return 0;
}
