// The time stamps of log lines, on their own so that the log formatter's thread tests can build it
// without the rest of the common functions.
#include "utilities/ICommon.h"

#include <QLocale>
#include <cstdio>
#include <ctime>

QByteArray ICommon::generalUTF8StringFromDateTime(const QDateTime& date)
{
    if (!date.isValid() || date.toSecsSinceEpoch() == 0)
        return QByteArray("");
    // Called for every time-stamped log line, from reader threads too: localtime_r is cheap
    // and safe there.
    const time_t seconds = time_t(date.toSecsSinceEpoch());
    struct tm local = {};
    if (!localtime_r(&seconds, &local))
        return QByteArray("");
    char buffer[64];
    const int n = std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d %02d:%02d:%02d ", local.tm_year + 1900,
        local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
    return QByteArray(buffer, n);
}

QString ICommon::generalStringFromDateTime(const QDateTime& date)
{
    if (!date.isValid() || date.toSecsSinceEpoch() == 0)
        return QString();
    return QLocale(QLocale::English, QLocale::UnitedKingdom)
        .toString(date.toLocalTime(), QStringLiteral("d MMM yyyy, HH:mm:ss"));
}
