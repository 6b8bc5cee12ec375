#include "archive/IArchiveContainer.h"

#include "archive/CBackup.h"

namespace {
IArchiveContainer* g_container = nullptr;
}

IArchiveContainer& IArchiveContainer::shared()
{
    static HeadlessArchiveContainer headless;
    return g_container ? *g_container : headless;
}

void IArchiveContainer::setShared(IArchiveContainer* container)
{
    g_container = container;
}

HeadlessArchiveContainer::HeadlessArchiveContainer() = default;
HeadlessArchiveContainer::~HeadlessArchiveContainer() = default;

CBackup* HeadlessArchiveContainer::addNewBackup(const QString& name)
{
    m_backups.push_back(std::make_unique<CBackup>(name));
    return m_backups.back().get();
}

int HeadlessArchiveContainer::getIndexBackup(const CBackup* backup) const
{
    for (size_t i = 0; i < m_backups.size(); ++i)
        if (m_backups[i].get() == backup)
            return int(i);
    return -1;
}

CBackup* HeadlessArchiveContainer::backupAt(int index) const
{
    return index >= 0 && size_t(index) < m_backups.size() ? m_backups[size_t(index)].get() : nullptr;
}

CBackup* HeadlessArchiveContainer::getBackupInProcess() const
{
    for (const auto& b : m_backups)
        if (b->isInProcess())
            return b.get();
    return nullptr;
}
