#pragma once

// Fakes of the archive kit's neighbours: the project container, the coordinator and the
// content pane's item node.

#include "archive/IArchiveContainer.h"

#include <QStringList>

// An archive container for tests: owns the projects it makes, records the queue calls, and
// registers itself as the shared container while it lives.
class RecordingArchiveContainer : public IArchiveContainer
{
public:
    RecordingArchiveContainer();
    ~RecordingArchiveContainer() override;

    CBackup* addNewBackup(const QString& name) override;
    int getIndexBackup(const CBackup* backup) const override;
    int backupCount() const override;
    CBackup* backupAt(int index) const override;
    void processNext() override;
    CBackup* getBackupInProcess() const override;
    bool removeFromProcessing(CBackup* backup) override;

    // Adds a project made elsewhere (the container owns it from now on).
    CBackup* adopt(std::unique_ptr<CBackup> backup);

    QStringList calls; // "addNewBackup <name>", "processNext", "removeFromProcessing <name>"

private:
    std::vector<std::unique_ptr<CBackup>> m_backups;
};

#include "archive/ICoordinator.h"

#include <QSet>

// A coordinator for tests: the names given in `taken` (and those of the shared container's
// projects) are not unique; calls are recorded. Registers itself while it lives.
class FakeCoordinator : public ICoordinator
{
public:
    FakeCoordinator();
    ~FakeCoordinator() override;

    bool isUniqueName(const QString& name, const CBackup* excluded) override;
    void fullReloadBackupData() override { calls << QStringLiteral("fullReloadBackupData"); }
    bool chooseDestPathByUser(ILocation*) override;
    int newBackupIndex() override { return -1; }
    IProcessIndicator* processIndicator() override { return nullptr; }

    QSet<QString> taken;
    QString chosenFolder; // what chooseDestPathByUser sets; empty answers No
    QStringList calls;
};

#include "archive/IBackupItemNode.h"

// A content-pane node for tests: counts how often its item told it to forget the item.
class RecordingItemNode : public IBackupItemNode
{
public:
    void setPBackupItemNil() override { ++forgotten; }
    int forgotten = 0;
};
