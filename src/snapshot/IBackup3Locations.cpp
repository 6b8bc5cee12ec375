// The places of a snapshot-backup project in its stored dictionary.

#include "platform/DiskFacts.h"
#include "platform/MountInfo.h"
#include "platform/NameSanitizer.h"
#include "platform/PlistBridge.h"
#include "snapshot/B3DictKeys.h"
#include "snapshot/B3Places.h"
#include "snapshot/IBackup3.h"
#include "snapshot/IBackup3Container.h"
#include "utilities/LogOptions.h"

using namespace B3DictKeys;

QString IBackup3::defaultFileName(const QString& name, const QString& uuid)
{
    // "/" reads as a separator in a folder name, so it becomes "|" as the name dialog shows it.
    QString base = name;
    base.replace(QLatin1Char('/'), QLatin1Char('|'));
    bool refused = false;
    base = NameSanitizer::sanitize(base, &refused);
    if (refused)
        base.clear();
    // leave room for "_" and the identifier within one path component
    const int room = NameSanitizer::kMaxComponentBytes - 1 - int(uuid.toUtf8().size());
    QByteArray bytes = base.toUtf8();
    if (bytes.size() > room) {
        int cut = qMax(room, 0);
        while (cut > 0 && (uchar(bytes.at(cut)) & 0xC0) == 0x80)
            --cut;
        bytes.truncate(cut);
        base = QString::fromUtf8(bytes);
    }
    return base + QLatin1Char('_') + uuid;
}

void IBackup3::saveLocationsToDict(QVariantMap& dict) const
{
    if (m_storedDestination.typeId() == QMetaType::QVariantMap)
        dict.insert(cnsB3DestLocation, m_storedDestination);
    dict.insert(cnsB3SrcLocations, m_storedSources);
}

void IBackup3::loadLocationsFromDict(const QVariantMap& dict, int scheme)
{
    if (scheme > 0 && dict.value(cnsB3DestLocation).typeId() == QMetaType::QVariantMap)
        m_storedDestination = dict.value(cnsB3DestLocation);
    if (dict.value(cnsB3SrcLocations).typeId() == QMetaType::QVariantList) {
        m_storedSources.clear();
        for (const QVariant& v : dict.value(cnsB3SrcLocations).toList())
            if (v.typeId() == QMetaType::QVariantMap)
                m_storedSources.append(v);
    }
}

void IBackup3::raiseTagCounterToSources()
{
    for (qsizetype i = 0; i < m_storedSources.size(); ++i) {
        const QVariant tag = m_storedSources.at(i).toMap().value(QStringLiteral("Tag"));
        const qint64 t = PlistValue::isNumber(tag) ? tag.toLongLong() : -1;
        const qint64 effective = t < 0 ? i + 1 : t;
        if (effective > m_tagForLocations)
            m_tagForLocations = long(effective);
    }
}

bool IBackup3::isConfigured() const
{
    return srcLocationCount() > 0 || m_destLocation || m_storedDestination.isValid()
        || m_lastProcessDate.isValid();
}

bool IBackup3::isDestinationActive() const
{
    // Places are not bound to mounted volumes here yet: a stored destination counts as present.
    return m_destLocation != nullptr || m_storedDestination.isValid();
}

QStringList IBackup3::removableVolumeUUIDs() const
{
    QStringList uuids;
    auto add = [&](const QVariantMap& d) {
        const QString uuid = d.value(QStringLiteral("VolumeUUID")).toString();
        if (d.value(QStringLiteral("Removable")).toBool()
            && d.value(QStringLiteral("DeviceType")).toLongLong() == 1 && !uuid.isEmpty()
            && uuid != QLatin1String("-"))
            uuids.append(uuid);
    };
    add(m_storedDestination.toMap());
    for (const QVariant& s : m_storedSources)
        add(s.toMap());
    return uuids;
}

// The file-system UUID of the volume mounted at a path; empty when it cannot be read.
static QString volumeUUIDForMountedPath(const QString& path, const QList<MountEntry>& mounts)
{
    const std::optional<MountEntry> mount = MountInfo::mountForPath(path, mounts);
    if (!mount)
        return QString();
    const QString device = DiskFacts::blockDeviceOf(*mount);
    return device.isEmpty() ? QString() : DiskFacts::probeDevice(device).uuid;
}

bool IBackup3::isNeedToProcessOnMount(const QString& mountedPath)
{
    const QList<MountEntry> mounts = MountInfo::read();
    // The destination must be mounted now.
    const QVariantMap dest = m_storedDestination.toMap();
    const QString destMountPoint = dest.value(QStringLiteral("MountPoint")).toString();
    if (dest.isEmpty() || destMountPoint.isEmpty() || destMountPoint == QLatin1String("-"))
        return false;
    const std::optional<MountEntry> destMount = MountInfo::mountForPath(destMountPoint, mounts);
    if (!destMount || destMount->mountPoint != destMountPoint)
        return false;
    const QString uuid = volumeUUIDForMountedPath(mountedPath, mounts);
    const bool wanted = m_processOnMount && (!m_bScheduled || m_lastProcessFailed);
    const QStringList removable = removableVolumeUUIDs();
    if (removable.isEmpty() || uuid.isEmpty())
        return false;
    return removable.contains(uuid, Qt::CaseInsensitive) ? wanted : false;
}

// The full path a stored place names: its mount point joined with its inner path.
static QString fullPathOfStored(const QVariantMap& d)
{
    auto text = [&](const char* key) {
        const QVariant v = d.value(QLatin1String(key));
        const QString s = v.typeId() == QMetaType::QString ? v.toString() : QString();
        return s == QLatin1String("-") ? QString() : s;
    };
    const QString mountPoint = text("MountPoint");
    if (mountPoint.isEmpty())
        return QString();
    return B3Places::joinPath(mountPoint, text("PathFromMountPoint"));
}

QString IBackup3::srcFolderPathForPass(long pass) const
{
    if (pass < 0 || pass >= m_storedSources.size())
        return QString();
    return fullPathOfStored(m_storedSources.at(pass).toMap());
}

QString IBackup3::destinationFullPath() const
{
    return fullPathOfStored(m_storedDestination.toMap());
}

B3ExcludeFile::Rules IBackup3::customExcludeRulesForPass(long pass) const
{
    const QString src = srcFolderPathForPass(pass);
    if (src.isEmpty())
        return B3ExcludeFile::Rules();
    // A backup must never copy its own earlier versions: the project folder is left out when it
    // lies inside the source.
    QStringList extra;
    const QString dest = destinationFullPath();
    if (!dest.isEmpty() && !useBDI())
        extra << B3Places::joinPath(dest, projectBackupFolder());
    return B3ExcludeFile::rulesForSource(src, m_excludePathList.value_or(QStringList()), extra);
}

QStringList IBackup3::customExcludeArgumentsForPass(long pass) const
{
    return customExcludeRulesForPass(pass).arguments;
}

bool IBackup3::saveCustomExcludesIntoTmpFileForPass(long pass)
{
    const B3ExcludeFile::Rules rules = customExcludeRulesForPass(pass);
    IBackup3Container* container = backup3Container();
    if (rules.lines.isEmpty() || !container) {
        removeExcludesTmpFileNameCustom(true, false);
        return false;
    }
    QString error;
    const QString file = B3ExcludeFile::writeFile(container->tempFolderPath(), rules.lines, &error);
    if (file.isNull()) {
        removeExcludesTmpFileNameCustom(true, false);
        processMessage(error, LogWord::ProjectWindowRunLog, this);
        return false;
    }
    setExcludesTmpFileNameCustom(file, m_systemExcludesTmpFileName);
    return true;
}
