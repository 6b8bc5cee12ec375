#include "archive/ArchiveProjectCreate.h"

#include "archive/CBackup.h"
#include "archive/CBackupContainer.h"
#include "archive/ICoordinator.h"
#include "projects/ProjectNames.h"

#include <QCoreApplication>

namespace ArchiveProjectCreate {

QString proposedName(const QString& path)
{
    QString trimmed = path;
    while (trimmed.size() > 1 && trimmed.endsWith(QLatin1Char('/')))
        trimmed.chop(1);
    const QString last = trimmed.mid(trimmed.lastIndexOf(QLatin1Char('/')) + 1);
    const QString name = ProjectNames::fromInput(last);
    return name.isEmpty() ? QCoreApplication::translate("Localizable", "Untitled") : name;
}

QString uniqueName(const CBackupContainer& container, const QString& base, const CBackup* excluded)
{
    return ProjectNames::makeUnique(base, [&](const QString& name) {
        for (int i = 0; i < container.backupCount(); ++i) {
            const CBackup* b = container.backupAt(i);
            if (b != excluded && b->name() == name)
                return false;
        }
        return ICoordinator::shared().isUniqueName(name, excluded);
    });
}

CBackup* createBackup(CBackupContainer& container, const QStringList& paths, QStringList* refused, const QString& name)
{
    CBackup* project = nullptr;
    for (const QString& path : paths) {
        if (!project) {
            // The project files in the Backups folder are named after the project: a second
            // project of the same name would overwrite the first one's files.
            const QString given = name.isNull() ? QString() : ProjectNames::fromInput(name);
            project = container.addNewBackup(uniqueName(container, given.isEmpty() ? proposedName(path) : given));
            if (!project)
                continue;
        }
        if (!project->addItemFromDisk(path) && refused)
            *refused << path;
    }
    if (project)
        container.makeSingleSelection(project);
    return project;
}

} // namespace ArchiveProjectCreate
