#pragma once

#include <QString>
#include <QStringList>

class CBackup;
class CBackupContainer;

// Making archive projects from paths: the projects pane's drops and "New", and the driver's
// "--new", so that a project gets the same name either way.
namespace ArchiveProjectCreate {

// The name a path proposes: its last component, through the name function ("/" -> "|", then the
// sanitiser); "Untitled" when nothing usable is left.
QString proposedName(const QString& path);

// The first of base, base1, base2, ... that no project of the container and no project the
// coordinator knows has (case-sensitive); `excluded` does not count.
QString uniqueName(const CBackupContainer& container, const QString& base, const CBackup* excluded = nullptr);

// One project named after the first usable path (or `name` when given), made unique, holding
// every path as a top-level item, made the container's single selection. nullptr when no path
// gave a project; an empty list makes nothing. `refused` gets the paths that could not be added.
CBackup* createBackup(CBackupContainer& container, const QStringList& paths, QStringList* refused = nullptr,
    const QString& name = QString());

} // namespace ArchiveProjectCreate
