#include "ArchiveFakes.h"

#include "archive/CBackup.h"
#include "projects/ILocation.h"

RecordingArchiveContainer::RecordingArchiveContainer()
{
    IArchiveContainer::setShared(this);
}

RecordingArchiveContainer::~RecordingArchiveContainer()
{
    IArchiveContainer::setShared(nullptr);
}

CBackup* RecordingArchiveContainer::addNewBackup(const QString& name)
{
    calls << QStringLiteral("addNewBackup %1").arg(name);
    m_backups.push_back(std::make_unique<CBackup>(name));
    return m_backups.back().get();
}

CBackup* RecordingArchiveContainer::adopt(std::unique_ptr<CBackup> backup)
{
    m_backups.push_back(std::move(backup));
    return m_backups.back().get();
}

int RecordingArchiveContainer::getIndexBackup(const CBackup* backup) const
{
    for (size_t i = 0; i < m_backups.size(); ++i)
        if (m_backups[i].get() == backup)
            return int(i);
    return -1;
}

int RecordingArchiveContainer::backupCount() const
{
    return int(m_backups.size());
}

CBackup* RecordingArchiveContainer::backupAt(int index) const
{
    return index >= 0 && size_t(index) < m_backups.size() ? m_backups[size_t(index)].get() : nullptr;
}

void RecordingArchiveContainer::processNext()
{
    calls << QStringLiteral("processNext");
}

CBackup* RecordingArchiveContainer::getBackupInProcess() const
{
    for (const auto& b : m_backups)
        if (b->isInProcess())
            return b.get();
    return nullptr;
}

bool RecordingArchiveContainer::removeFromProcessing(CBackup* backup)
{
    calls << QStringLiteral("removeFromProcessing %1").arg(backup ? backup->name() : QString());
    return true;
}

FakeCoordinator::FakeCoordinator()
{
    ICoordinator::setShared(this);
}

FakeCoordinator::~FakeCoordinator()
{
    ICoordinator::setShared(nullptr);
}

bool FakeCoordinator::isUniqueName(const QString& name, const CBackup* excluded)
{
    calls << QStringLiteral("isUniqueName %1").arg(name);
    if (taken.contains(name))
        return false;
    const IArchiveContainer& list = IArchiveContainer::shared();
    for (int i = 0; i < list.backupCount(); ++i)
        if (list.backupAt(i) != excluded && list.backupAt(i)->name() == name)
            return false;
    return true;
}

bool FakeCoordinator::chooseDestPathByUser(ILocation* location)
{
    calls << QStringLiteral("chooseDestPathByUser");
    if (chosenFolder.isEmpty() || !location)
        return false;
    return location->setupWithPath(chosenFolder);
}
