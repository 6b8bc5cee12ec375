#include "PlistBridge.h"

#include "AtomicFile.h"
#include "Clock.h"
#include "NameCodec.h"

#include <QCoreApplication>
#include <QTimeZone>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <memory>
#include <plist/plist.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Seconds from the Unix epoch to the property-list epoch, 2001-01-01 00:00:00 UTC.
constexpr qint64 kPlistEpochMs = 978307200000LL;
// Larger files are not property lists this system writes or reads.
constexpr qint64 kMaxPlistBytes = 256LL * 1024 * 1024;

struct PlistDeleter
{
    void operator()(void* p) const
    {
        if (p)
            plist_free(p);
    }
};
using PlistPtr = std::unique_ptr<void, PlistDeleter>;

QString tr(const char* text)
{
    return QCoreApplication::translate("Localizable", text);
}

QString takeString(char* s)
{
    if (!s)
        return QString();
    QString out = NameCodec::decode(s, qsizetype(std::strlen(s)));
    std::free(s);
    return out;
}

// True when libplist holds the integer as unsigned (a value above INT64_MAX).
bool isUnsignedNode(plist_t node)
{
    PlistPtr copy(plist_copy(node));
    char* xml = nullptr;
    uint32_t len = 0;
    plist_to_xml(copy.get(), &xml, &len);
    if (!xml)
        return false;
    const bool negative = QByteArray::fromRawData(xml, qsizetype(len)).contains("<integer>-");
    plist_to_xml_free(xml);
    return !negative;
}

// An integer node that libplist writes as unsigned; plist_new_uint() would write it as negative.
plist_t newUnsignedNode(quint64 value)
{
    const QByteArray xml
        = "<plist version=\"1.0\"><integer>" + QByteArray::number(value) + "</integer></plist>";
    plist_t node = nullptr;
    plist_from_xml(xml.constData(), uint32_t(xml.size()), &node);
    return node ? node : plist_new_uint(value);
}

QVariant toVariant(plist_t node, int depth)
{
    if (!node || depth > 512)
        return QVariant();
    switch (plist_get_node_type(node)) {
    case PLIST_DICT: {
        QVariantMap map;
        plist_dict_iter it = nullptr;
        plist_dict_new_iter(node, &it);
        if (!it)
            return map;
        for (;;) {
            char* key = nullptr;
            plist_t value = nullptr;
            plist_dict_next_item(node, it, &key, &value);
            if (!value) {
                std::free(key);
                break;
            }
            const QString k = takeString(key);
            const QVariant v = toVariant(value, depth + 1);
            if (v.isValid())
                map.insert(k, v);
        }
        std::free(it);
        return map;
    }
    case PLIST_ARRAY: {
        QVariantList list;
        const uint32_t n = plist_array_get_size(node);
        list.reserve(n);
        for (uint32_t i = 0; i < n; ++i) {
            const QVariant v = toVariant(plist_array_get_item(node, i), depth + 1);
            if (v.isValid())
                list.append(v);
        }
        return list;
    }
    case PLIST_STRING:
    case PLIST_KEY: {
        char* s = nullptr;
        if (plist_get_node_type(node) == PLIST_KEY)
            plist_get_key_val(node, &s);
        else
            plist_get_string_val(node, &s);
        const QString text = takeString(s);
        return text.isNull() ? QVariant(QString(QLatin1String(""))) : QVariant(text);
    }
    case PLIST_BOOLEAN: {
        uint8_t b = 0;
        plist_get_bool_val(node, &b);
        return bool(b);
    }
    case PLIST_UINT: {
        uint64_t u = 0;
        plist_get_uint_val(node, &u);
        // libplist keeps every integer in 64 bits; negative ones come back two's complement.
        // Only its XML writer tells a large unsigned value from a negative one.
        if (qint64(u) < 0 && isUnsignedNode(node))
            return quint64(u);
        return qint64(u);
    }
    case PLIST_REAL: {
        double d = 0;
        plist_get_real_val(node, &d);
        return d;
    }
    case PLIST_DATE: {
        int32_t sec = 0, usec = 0;
        plist_get_date_val(node, &sec, &usec);
        const qint64 ms = kPlistEpochMs + qint64(sec) * 1000 + usec / 1000;
        return QDateTime::fromMSecsSinceEpoch(ms, QTimeZone::utc());
    }
    case PLIST_DATA: {
        char* buf = nullptr;
        uint64_t len = 0;
        plist_get_data_val(node, &buf, &len);
        QByteArray data(buf ? buf : "", buf ? qsizetype(len) : 0);
        std::free(buf);
        return data;
    }
    case PLIST_UID: {
        uint64_t u = 0;
        plist_get_uid_val(node, &u);
        return qint64(u);
    }
    default:
        return QVariant();
    }
}

plist_t fromVariant(const QVariant& v, int depth)
{
    if (!v.isValid() || depth > 512)
        return nullptr;
    switch (v.typeId()) {
    case QMetaType::QVariantMap: {
        plist_t dict = plist_new_dict();
        const QVariantMap m = v.toMap();
        for (auto it = m.cbegin(); it != m.cend(); ++it) {
            if (plist_t item = fromVariant(it.value(), depth + 1))
                plist_dict_set_item(dict, NameCodec::encodeStd(it.key()).c_str(), item);
        }
        return dict;
    }
    case QMetaType::QVariantHash: {
        plist_t dict = plist_new_dict();
        const QVariantHash m = v.toHash();
        for (auto it = m.cbegin(); it != m.cend(); ++it) {
            if (plist_t item = fromVariant(it.value(), depth + 1))
                plist_dict_set_item(dict, NameCodec::encodeStd(it.key()).c_str(), item);
        }
        return dict;
    }
    case QMetaType::QVariantList:
    case QMetaType::QStringList: {
        plist_t array = plist_new_array();
        const QVariantList l = v.toList();
        for (const QVariant& item : l) {
            if (plist_t node = fromVariant(item, depth + 1))
                plist_array_append_item(array, node);
        }
        return array;
    }
    case QMetaType::QString:
        return plist_new_string(NameCodec::encodeStd(v.toString()).c_str());
    case QMetaType::Bool:
        return plist_new_bool(v.toBool() ? 1 : 0);
    case QMetaType::Int:
    case QMetaType::Long:
    case QMetaType::LongLong:
    case QMetaType::Short:
    case QMetaType::Char:
    case QMetaType::SChar:
        return plist_new_uint(uint64_t(v.toLongLong()));
    case QMetaType::UInt:
    case QMetaType::ULong:
    case QMetaType::ULongLong:
    case QMetaType::UShort:
    case QMetaType::UChar: {
        const quint64 u = v.toULongLong();
        return u > quint64(std::numeric_limits<qint64>::max()) ? newUnsignedNode(u) : plist_new_uint(u);
    }
    case QMetaType::Double:
    case QMetaType::Float:
        return plist_new_real(v.toDouble());
    case QMetaType::QDateTime:
    case QMetaType::QDate: {
        const QDateTime dt
            = v.typeId() == QMetaType::QDate ? v.toDate().startOfDay(QTimeZone::utc()) : v.toDateTime();
        if (!dt.isValid())
            return nullptr;
        const qint64 ms = dt.toMSecsSinceEpoch() - kPlistEpochMs;
        qint64 sec = ms >= 0 ? ms / 1000 : -((-ms + 999) / 1000);
        qint64 usec = (ms - sec * 1000) * 1000;
        if (sec > INT32_MAX || sec < INT32_MIN)
            return nullptr; // outside what the format's 32-bit seconds hold
        return plist_new_date(int32_t(sec), int32_t(usec));
    }
    case QMetaType::QByteArray: {
        const QByteArray b = v.toByteArray();
        return plist_new_data(b.constData(), uint64_t(b.size()));
    }
    default:
        if (v.canConvert<QString>())
            return plist_new_string(NameCodec::encodeStd(v.toString()).c_str());
        return nullptr;
    }
}

// Reads the whole file; errno-style result in *err (0 on success).
bool readWholeFile(const std::string& path, QByteArray* out, int* err, bool* tooLarge)
{
    *tooLarge = false;
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        *err = errno;
        return false;
    }
    struct stat st
    {
    };
    if (::fstat(fd, &st) != 0) {
        *err = errno;
        ::close(fd);
        return false;
    }
    if (S_ISDIR(st.st_mode)) {
        *err = EISDIR;
        ::close(fd);
        return false;
    }
    if (st.st_size > kMaxPlistBytes) {
        *tooLarge = true;
        *err = EFBIG;
        ::close(fd);
        return false;
    }
    out->clear();
    char buf[65536];
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            *err = errno;
            ::close(fd);
            return false;
        }
        if (n == 0)
            break;
        out->append(buf, n);
        if (out->size() > kMaxPlistBytes) {
            *tooLarge = true;
            *err = EFBIG;
            ::close(fd);
            return false;
        }
    }
    ::close(fd);
    *err = 0;
    return true;
}

} // namespace

QVariant PlistBridge::fromData(const QByteArray& data, bool* ok)
{
    if (ok)
        *ok = false;
    if (data.isEmpty() || data.size() > kMaxPlistBytes)
        return QVariant();
    plist_t root = nullptr;
    plist_from_memory(data.constData(), uint32_t(data.size()), &root);
    PlistPtr holder(root);
    if (!root)
        return QVariant();
    QVariant v = toVariant(root, 0);
    if (ok)
        *ok = v.isValid();
    return v;
}

QByteArray PlistBridge::toXml(const QVariant& value)
{
    PlistPtr root(fromVariant(value, 0));
    if (!root)
        return QByteArray();
    char* xml = nullptr;
    uint32_t len = 0;
    plist_to_xml(root.get(), &xml, &len);
    QByteArray out(xml ? xml : "", xml ? qsizetype(len) : 0);
    if (xml)
        plist_to_xml_free(xml);
    return out;
}

PlistBridge::ReadResult PlistBridge::readFile(const QString& path)
{
    ReadResult r;
    QByteArray bytes;
    int err = 0;
    bool tooLarge = false;
    if (!readWholeFile(NameCodec::encodeStd(path), &bytes, &err, &tooLarge)) {
        if (err == ENOENT || err == ENOTDIR) {
            r.status = ReadStatus::Missing;
            r.error = tr("The file \"%1\" does not exist.").arg(path);
        } else if (tooLarge) {
            r.status = ReadStatus::Corrupt;
            r.error = tr("The file \"%1\" is too large to be a property list.").arg(path);
        } else {
            r.status = ReadStatus::Unreadable;
            r.error = tr("The file \"%1\" could not be read: %2")
                          .arg(path, QString::fromLocal8Bit(std::strerror(err)));
        }
        return r;
    }
    bool ok = false;
    r.value = fromData(bytes, &ok);
    if (!ok) {
        r.value = QVariant();
        r.status = ReadStatus::Corrupt;
        r.error = tr("The file \"%1\" is damaged: it is not a property list.").arg(path);
        return r;
    }
    r.status = ReadStatus::Ok;
    return r;
}

bool PlistBridge::writeFileAtomically(
    const QString& path, const QVariant& value, QString* error, QString* keptAsidePath)
{
    if (keptAsidePath)
        *keptAsidePath = QString();
    const QByteArray xml = toXml(value);
    if (xml.isEmpty()) {
        if (error)
            *error = tr("Could not write \"%1\": the value is not a property list.").arg(path);
        return false;
    }
    // Never replace a file that holds something we cannot read: it may be the only copy of
    // the user's settings, damaged or written by a newer version.
    const ReadResult existing = readFile(path);
    if (existing.status == ReadStatus::Unreadable) {
        // What could not be read cannot be known to be safe to replace.
        if (error)
            *error = existing.error;
        return false;
    }
    if (existing.status == ReadStatus::Corrupt) {
        const QString aside = keepAside(path);
        if (aside.isNull()) {
            if (error)
                *error
                    = tr("Could not write \"%1\": the file in place is damaged and could not be kept aside.")
                          .arg(path);
            return false;
        }
        if (keptAsidePath)
            *keptAsidePath = aside;
    }
    return AtomicFile::write(path, xml, error);
}

QString PlistBridge::keepAside(const QString& path)
{
    const std::string source = NameCodec::encodeStd(path);
    struct stat st
    {
    };
    if (::lstat(source.c_str(), &st) != 0)
        return QString();
    const QString stem = path + QStringLiteral(".corrupt-")
        + Clock::current().now().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    for (int n = 0; n < 1000; ++n) {
        const QString candidate = n == 0 ? stem : stem + QLatin1Char('-') + QString::number(n);
        const std::string target = NameCodec::encodeStd(candidate);
        if (::lstat(target.c_str(), &st) == 0 || errno != ENOENT)
            continue;
        if (::rename(source.c_str(), target.c_str()) != 0)
            return QString();
        const auto slash = path.lastIndexOf(QLatin1Char('/'));
        AtomicFile::syncFolder(
            slash > 0 ? path.left(slash) : (slash == 0 ? QStringLiteral("/") : QStringLiteral(".")));
        return candidate;
    }
    return QString();
}

namespace PlistValue {

bool isInteger(const QVariant& v)
{
    switch (v.typeId()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Long:
    case QMetaType::ULong:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Char:
    case QMetaType::SChar:
    case QMetaType::UChar:
        return true;
    default:
        return false;
    }
}

bool isNumber(const QVariant& v)
{
    return isInteger(v) || v.typeId() == QMetaType::Double || v.typeId() == QMetaType::Float;
}

QString string(const QVariantMap& m, const QString& key, const QString& def)
{
    const QVariant v = m.value(key);
    return v.typeId() == QMetaType::QString ? v.toString() : def;
}

bool boolean(const QVariantMap& m, const QString& key, bool def)
{
    const QVariant v = m.value(key);
    if (v.typeId() == QMetaType::Bool)
        return v.toBool();
    if (isInteger(v))
        return v.toLongLong() != 0;
    if (isNumber(v)) {
        const double d = v.toDouble();
        return std::isnan(d) ? def : d != 0;
    }
    return def;
}

qint64 integer(const QVariantMap& m, const QString& key, qint64 def)
{
    const QVariant v = m.value(key);
    if (v.typeId() == QMetaType::ULongLong && v.toULongLong() > quint64(std::numeric_limits<qint64>::max()))
        return std::numeric_limits<qint64>::max();
    if (isInteger(v))
        return v.toLongLong();
    if (isNumber(v)) {
        const double d = v.toDouble();
        if (std::isnan(d))
            return def;
        if (d >= 9.2233720368547758e18)
            return std::numeric_limits<qint64>::max();
        if (d <= -9.2233720368547758e18)
            return std::numeric_limits<qint64>::min();
        return qint64(d);
    }
    return def;
}

double real(const QVariantMap& m, const QString& key, double def)
{
    const QVariant v = m.value(key);
    return isNumber(v) ? v.toDouble() : def;
}

QVariantMap dict(const QVariantMap& m, const QString& key)
{
    const QVariant v = m.value(key);
    return v.typeId() == QMetaType::QVariantMap ? v.toMap() : QVariantMap();
}

QVariantList array(const QVariantMap& m, const QString& key)
{
    const QVariant v = m.value(key);
    if (v.typeId() == QMetaType::QVariantList || v.typeId() == QMetaType::QStringList)
        return v.toList();
    return QVariantList();
}

QDateTime date(const QVariantMap& m, const QString& key)
{
    const QVariant v = m.value(key);
    return v.typeId() == QMetaType::QDateTime ? v.toDateTime() : QDateTime();
}

QByteArray data(const QVariantMap& m, const QString& key)
{
    const QVariant v = m.value(key);
    return v.typeId() == QMetaType::QByteArray ? v.toByteArray() : QByteArray();
}

} // namespace PlistValue
