#include "BtrfsVolumeRegistry.h"

#include "PlistBridge.h"
#include "UuidText.h"

#include <QVariantList>
#include <QVariantMap>

QString BtrfsVolumeRegistry::fileName()
{
    return QStringLiteral(".qvvolumes.plist");
}

QString BtrfsVolumeRegistry::pathFor(const QString& topLevelPath)
{
    QString top = topLevelPath;
    while (top.size() > 1 && top.endsWith(QLatin1Char('/')))
        top.chop(1);
    return (top == QLatin1String("/") ? QString() : top) + QLatin1Char('/') + fileName();
}

BtrfsVolumeRegistry::Status BtrfsVolumeRegistry::load(const QString& topLevelPath, QString* error)
{
    m_entries.clear();
    const PlistBridge::ReadResult r = PlistBridge::readFile(pathFor(topLevelPath));
    if (error)
        *error = r.error;
    switch (r.status) {
    case PlistBridge::ReadStatus::Missing:
        return Status::Missing;
    case PlistBridge::ReadStatus::Unreadable:
        return Status::Unreadable;
    case PlistBridge::ReadStatus::Corrupt:
        return Status::Corrupt;
    case PlistBridge::ReadStatus::Ok:
        break;
    }
    if (r.value.typeId() != QMetaType::QVariantMap) {
        if (error)
            *error = QStringLiteral("%1: the registry is not a dictionary").arg(pathFor(topLevelPath));
        return Status::Corrupt;
    }
    const QVariantMap root = r.value.toMap();
    for (const QVariant& v : PlistValue::array(root, QStringLiteral("Volumes"))) {
        if (v.typeId() != QMetaType::QVariantMap)
            continue;
        const QVariantMap m = v.toMap();
        const QVariant idValue = m.value(QStringLiteral("SubvolumeID"));
        if (!PlistValue::isInteger(idValue) || idValue.toLongLong() < 5)
            continue;
        Entry e;
        e.name = PlistValue::string(m, QStringLiteral("Name"));
        e.role = PlistValue::string(m, QStringLiteral("Role"));
        e.groupUUID = UuidText::normalized(PlistValue::string(m, QStringLiteral("GroupUUID")));
        if (UuidText::isNull(e.groupUUID))
            e.groupUUID.clear();
        e.uuid = UuidText::normalized(PlistValue::string(m, QStringLiteral("UUID")));
        m_entries.insert(quint64(idValue.toLongLong()), e);
    }
    return Status::Ok;
}

bool BtrfsVolumeRegistry::save(const QString& topLevelPath, QString* error) const
{
    QVariantList volumes;
    for (auto it = m_entries.cbegin(); it != m_entries.cend(); ++it) {
        QVariantMap m;
        m.insert(QStringLiteral("SubvolumeID"), qint64(it.key()));
        if (!it->name.isEmpty())
            m.insert(QStringLiteral("Name"), it->name);
        if (!it->role.isEmpty())
            m.insert(QStringLiteral("Role"), it->role);
        if (!it->groupUUID.isEmpty())
            m.insert(QStringLiteral("GroupUUID"), UuidText::normalized(it->groupUUID));
        if (!it->uuid.isEmpty())
            m.insert(QStringLiteral("UUID"), UuidText::normalized(it->uuid));
        volumes.append(m);
    }
    QVariantMap root;
    root.insert(QStringLiteral("Version"), qint64(1));
    root.insert(QStringLiteral("Volumes"), volumes);
    return PlistBridge::writeFileAtomically(pathFor(topLevelPath), root, error);
}

bool BtrfsVolumeRegistry::moveEntry(quint64 fromId, quint64 toId)
{
    if (!m_entries.contains(fromId))
        return false;
    m_entries.insert(toId, m_entries.take(fromId));
    return true;
}

QList<quint64> BtrfsVolumeRegistry::groupMembers(const QString& groupUUID) const
{
    QList<quint64> ids;
    for (auto it = m_entries.cbegin(); it != m_entries.cend(); ++it) {
        if (UuidText::equal(it->groupUUID, groupUUID))
            ids.append(it.key());
    }
    return ids;
}

quint64 BtrfsVolumeRegistry::memberWithRole(const QString& groupUUID, const QString& role) const
{
    for (quint64 id : groupMembers(groupUUID)) {
        if (m_entries.value(id).role.compare(role, Qt::CaseInsensitive) == 0)
            return id;
    }
    return 0;
}
