#pragma once

#include <QString>
#include <memory>
#include <vector>

class CBackup;

// The archive projects of the workspace and their run queue, as the project record and its run
// control reach them. The global archive container implements it and registers itself;
// programs without one get the headless default, a plain list without a queue.
class IArchiveContainer
{
public:
    virtual ~IArchiveContainer() = default;

    static IArchiveContainer& shared();
    // nullptr restores the headless default; the caller keeps ownership.
    static void setShared(IArchiveContainer* container);

    // Makes a project with that name and appends it to the list.
    virtual CBackup* addNewBackup(const QString& name) = 0;
    // Its index in the list, -1 when it is not there.
    virtual int getIndexBackup(const CBackup* backup) const = 0;
    virtual int backupCount() const = 0;
    virtual CBackup* backupAt(int index) const = 0;

    // The run queue.
    virtual void processNext() = 0;
    virtual CBackup* getBackupInProcess() const = 0;
    virtual bool removeFromProcessing(CBackup* backup) = 0;
};

// A list that owns its projects and never runs anything.
class HeadlessArchiveContainer : public IArchiveContainer
{
public:
    HeadlessArchiveContainer();
    ~HeadlessArchiveContainer() override;
    CBackup* addNewBackup(const QString& name) override;
    int getIndexBackup(const CBackup* backup) const override;
    int backupCount() const override { return int(m_backups.size()); }
    CBackup* backupAt(int index) const override;
    void processNext() override { }
    CBackup* getBackupInProcess() const override;
    bool removeFromProcessing(CBackup*) override { return true; }

private:
    std::vector<std::unique_ptr<CBackup>> m_backups;
};
