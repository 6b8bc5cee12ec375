#include "utilities/DiskDescription.h"

#include "platform/FsKinds.h"
#include "utilities/IDiskUtil.h"

namespace {

bool isText(const QVariant& v)
{
    return v.typeId() == QMetaType::QString;
}

bool isNumber(const QVariant& v)
{
    switch (v.typeId()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Double:
    case QMetaType::Bool:
        return true;
    default:
        return false;
    }
}

// The kind of a file-system text ("EXT4", "BTRFS", "HFS", "APFS", "Mac OS Extended (Journaled)").
FsKinds::Family familyOfText(const QString& text)
{
    const QString lower = text.toLower();
    const QString first = lower.section(QLatin1Char(' '), 0, 0);
    const FsKinds::Family f = FsKinds::family(first);
    if (f != FsKinds::Family::Other)
        return f;
    if (first == QLatin1String("apfs"))
        return FsKinds::Family::Apfs;
    if (first == QLatin1String("hfs") || first == QLatin1String("hfs+") || first == QLatin1String("jhfs+"))
        return FsKinds::Family::MacExtended;
    return FsKinds::Family::Other;
}

} // namespace

QString DiskDescription::protocol() const
{
    if (m_dict.isEmpty())
        return QString();
    if (m_infoType == DiskArbitration)
        return strForKey(QStringLiteral("DADeviceProtocol")).toUpper();
    if (m_infoType == InfoText)
        return strForKey(QStringLiteral("Protocol")).toUpper();
    return QString();
}

QString DiskDescription::volumeUUID() const
{
    if (m_infoType == DiskArbitration)
        return strForKey(QStringLiteral("DAVolumeUUID"));
    if (m_infoType == InfoText)
        return strForKey(QStringLiteral("Volume UUID"));
    return QString();
}

QString DiskDescription::fileSystem() const
{
    if (m_infoType == DiskArbitration) {
        const QString kind = strForKey(QStringLiteral("DAVolumeKind"));
        if (kind.isNull())
            return QString();
        const QString type = strForKey(QStringLiteral("DAVolumeType"));
        if (!type.isNull())
            return QStringLiteral("%1 %2").arg(kind.toUpper(), type.toUpper());
        return kind.toUpper();
    }
    if (m_infoType == InfoText) {
        QString fs = strForKey(QStringLiteral("File System Personality"));
        if (fs.isNull())
            fs = strForKey(QStringLiteral("File System"));
        return fs.isNull() ? QString() : fs.toUpper();
    }
    return QString();
}

bool DiskDescription::isHFS() const
{
    return familyOfText(fileSystem()) == FsKinds::Family::MacExtended;
}

bool DiskDescription::isAPFS() const
{
    return familyOfText(fileSystem()) == FsKinds::Family::Apfs;
}

QString DiskDescription::BSDName() const
{
    return strForKey(QStringLiteral("DAMediaBSDName"));
}

bool DiskDescription::isOwnersEnabled() const
{
    const QVariant v = m_dict.value(QStringLiteral("Owners"));
    return v.isValid() && isNumber(v) && v.toBool();
}

QString DiskDescription::strForKey(const QString& key) const
{
    const QVariant v = m_dict.value(key);
    return isText(v) ? v.toString() : QString();
}

qint64 DiskDescription::intForKey(const QString& key) const
{
    const QVariant v = m_dict.value(key);
    return isNumber(v) ? v.toLongLong() : -1;
}

bool DiskDescription::boolForKey(const QString& key) const
{
    const QVariant v = m_dict.value(key);
    return isText(v) && v.toString() == QLatin1String("Yes");
}

bool DiskDescription::isBootable() const
{
    const QString scheme = m_wholePartitionType.toUpper();
    if (scheme.isEmpty()
        || (!scheme.contains(QLatin1String("GUID")) && !scheme.contains(QLatin1String("APFS"))))
        return false;
    const QString kind = strForKey(QStringLiteral("DAVolumeKind"));
    if (IDiskUtil::systemVersion() <= 100999)
        return familyOfText(kind) == FsKinds::Family::MacExtended;
    const QString type = strForKey(QStringLiteral("DAVolumeType"));
    if (!type.isNull()) {
        const QString t = type.toUpper();
        if (t.contains(QLatin1String("MAC")) && t.contains(QLatin1String("EXTENDED"))
            && t.contains(QLatin1String("JOURNALED")))
            return true;
        return familyOfText(type) == FsKinds::Family::Apfs;
    }
    if (!kind.isNull())
        return familyOfText(kind) != FsKinds::Family::Other;
    return false;
}

bool DiskDescription::isVisible() const
{
    QString type = strForKey(QStringLiteral("DAVolumeType"));
    if (type.isNull())
        type = strForKey(QStringLiteral("DAVolumeKind"));
    if (type.isNull())
        return true;
    if (type == QLatin1String("autofs") && !m_dict.contains(QStringLiteral("DAMediaName")))
        return false;
    if (familyOfText(type) != FsKinds::Family::Apfs)
        return true;
    // A grouped volume of the volume model is visible when its role is System or none.
    // The registry facts come with the description when it was loaded; otherwise they are
    // looked up by device name.
    const QString name = BSDName();
    const bool hasFacts
        = m_dict.contains(QStringLiteral("VolGroupUUID")) || m_dict.contains(QStringLiteral("Role"));
    const QString group = hasFacts ? strForKey(QStringLiteral("VolGroupUUID"))
                                   : IDiskUtil::getStringWithGroupForBSDName(name);
    if (group.isEmpty())
        return true;
    const QString role
        = hasFacts ? strForKey(QStringLiteral("Role")) : IDiskUtil::getStringWithRoleForBSDName(name);
    if (role.isNull())
        return true;
    const QString upper = role.toUpper();
    return upper.contains(QLatin1String("NO SPECIFIC ROLE")) || upper.contains(QLatin1String("SYSTEM"));
}
