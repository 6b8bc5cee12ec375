#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QVariant>
#include <QVariantList>
#include <QVariantMap>

// The bridge between property lists (libplist) and QVariant.
//   dict -> QVariantMap, array -> QVariantList, string -> QString, integer -> qint64 (an unsigned
//   value above INT64_MAX -> quint64, and written back as unsigned),
//   real -> double, bool -> bool, date -> QDateTime (UTC), data -> QByteArray.
// Strings and keys pass NameCodec, so names that are not valid UTF-8 survive a round trip.
// Files are always written as XML (libplist's binary form changes bytes that are not UTF-8)
// and read in either form. Writes are atomic: a temporary file in the same folder, fsync,
// rename, fsync of the folder. A file that exists but does not parse is never overwritten.
class PlistBridge
{
public:
    enum class ReadStatus
    {
        Ok,
        Missing,
        Unreadable,
        Corrupt
    };
    struct ReadResult
    {
        QVariant value;
        ReadStatus status = ReadStatus::Missing;
        QString error;
        bool ok() const { return status == ReadStatus::Ok; }
        QVariantMap map() const { return value.toMap(); } // empty unless the root is a dict
    };

    static ReadResult readFile(const QString& path); // XML or binary
    static QVariant fromData(const QByteArray& data, bool* ok = nullptr);
    static QByteArray toXml(const QVariant& value); // always XML; empty when value cannot be written

    // Temporary file in the same folder + fsync + rename; false and *error on failure.
    // When the file in place exists but does not parse, it is first kept aside (see keepAside;
    // its new path goes to *keptAsidePath) and the write fails when that is not possible.
    // A file in place that cannot be read (permissions, I/O error, a folder) is left alone
    // and the write fails.
    static bool writeFileAtomically(const QString& path, const QVariant& value, QString* error = nullptr,
        QString* keptAsidePath = nullptr);

    // Renames a file that does not parse to "<path>.corrupt-<yyyyMMdd-HHmmss>" (with "-N"
    // added when that name is taken); returns the new path, or a null QString on failure.
    static QString keepAside(const QString& path);
};

// Lenient typed getters: a value of another type counts as missing (returns def).
namespace PlistValue {
QString string(const QVariantMap& m, const QString& key, const QString& def = QString());
bool boolean(const QVariantMap& m, const QString& key, bool def = false); // accepts bool or number
qint64 integer(const QVariantMap& m, const QString& key, qint64 def = 0); // accepts integer or real
double real(const QVariantMap& m, const QString& key, double def = 0); // accepts real or integer
QVariantMap dict(const QVariantMap& m, const QString& key);
QVariantList array(const QVariantMap& m, const QString& key);
QDateTime date(const QVariantMap& m, const QString& key);
QByteArray data(const QVariantMap& m, const QString& key);

bool isInteger(const QVariant& v); // any integer type
bool isNumber(const QVariant& v); // integer or floating point
} // namespace PlistValue
