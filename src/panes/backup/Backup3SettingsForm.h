#pragma once

#include "projects/ScheduleFormRules.h"

#include <QColor>
#include <QDateTime>
#include <QString>
#include <memory>

class IBackup3;
class IBackup3Container;
class ILocation;

// What the snapshot-backup settings sheet shows and edits, as plain values. The sheet binds its
// widgets to it; formFromProject fills it when the sheet opens and applyForm writes it back on OK.
struct Backup3SettingsForm
{
    QString name;
    // 0 folder, 1 disk image (an encrypted image shows as a disk image).
    int targetType = 0;
    // The destination menu's location (a copy): null for "Select a Destination".
    std::shared_ptr<ILocation> destination;
    bool automount = false;
    bool admin = false;
    bool neverDelete = true;
    bool considerModDate = false;
    bool excludeInvisible = false;
    bool excludeFinderData = false;
    bool excludeApplications = false;
    bool excludeAliases = false;
    int extendedAttrs = 0;
    bool useExcludePattern = false;
    QString excludePattern;
    bool useIncludePattern = false;
    QString includePattern;
    QColor color;
    ScheduleFormRules::ScheduleForm schedule;
    bool processOnMount = false;
    bool processOnMountEnabled = false;
    bool startIfLate = true;
    int cuttingType = 0; // 0 none, 1 older than a count of units, 2 keep a count of versions
    long cuttingCount = 0;
    int cuttingUnit = 0;
    int diMaxSizeType = 0; // 0 by the volume, 1 custom
    double diCustomSizeGB = 0; // shown as 0 below 0.1
    bool diCustomInUse = false; // the custom field is enabled and shown (image, custom type)
};

// The form of a project as the sheet opens.
Backup3SettingsForm formFromProject(const IBackup3& project);

// The name a typed name becomes: made unique among the container's other projects ("%@%ld"
// from 1); an empty or refused text keeps the project's name.
QString settingsName(const QString& typed, const IBackup3& project, const IBackup3Container* container);

// Writes the form into the project (the sheet's OK). The next date is computed from now.
void applyForm(const Backup3SettingsForm& form, IBackup3& project, const IBackup3Container* container,
    const QDateTime& now);
