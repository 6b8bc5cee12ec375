#pragma once

#include <QColor>
#include <QDateTime>
#include <QString>
#include <functional>

class ISynchron;

// What the synchronization and clone settings sheets show, and what their OK stores: a form
// struct per sheet filled from a project and written back into it. The rules live here; the
// dialogs only bind widgets to the fields.
namespace SyncPropertiesForm {

struct Schedule
{
    bool scheduled = false;
    int type = 1; // 1 daily, 2 week days, 3 monthly, 4 intervals
    int weekDayMask = 0; // bit 0 Monday .. bit 6 Sunday
    int monthDay = 1;
    int hour = 0;
    int minute = 0;
    int interval = 60; // minutes; a value not in the list is kept
    bool startIfLate = true;
};

// The start-if-late box: enabled only for a schedule that is on and not of intervals; a disabled
// box shows (and stores) checked.
struct StartIfLateBox
{
    bool enabled = false;
    bool checked = true;
};
StartIfLateBox startIfLateBox(bool scheduled, int type, bool stored);

struct SyncForm
{
    QString name;
    bool noDelete = false; // "No files will be deleted": the delete option is off
    bool considerModDate = false;
    bool deleteAndDateEnabled = true; // not for direction 2
    bool excludeInvisible = false, excludeFinderData = false, excludeApplications = false, excludeAliases = false;
    bool excludeByPattern = false;
    QString pattern;
    int extendedAttrs = 0;
    Schedule schedule;
    bool processOnMount = false;
    bool processOnMountEnabled = false;
    QColor color;
    bool admin = false;
    bool automountEnabled = false; // a place is a network volume or a disk image
    bool automount = false;
    bool mountButtonEnabled = false;
};
SyncForm fromSynchron(ISynchron& project);
// OK: the name made unique (isUnique excludes the project itself), a week-days schedule without
// a day switched off, the next date from now.
void store(const SyncForm& form, ISynchron& project, const std::function<bool(const QString&)>& isUnique,
    const QDateTime& now);

struct CloneForm
{
    QString name;
    bool noDelete = false;
    QColor color;
    Schedule schedule; // no intervals: a stored type other than 1, 2 or 3 shows as daily
    bool usbRemovableDestination = false; // enables the two boxes below
    bool processOnMount = false;
    bool usbAutomount = false;
    bool startWarning = true;
};
CloneForm fromClone(ISynchron& project);
void store(const CloneForm& form, ISynchron& project, const std::function<bool(const QString&)>& isUnique,
    const QDateTime& now);

// The pattern a capture leaves in the field: rule 0 "*.ext", 1 "name.*", 2 the whole name; with
// combine on, a different non-empty pattern gets the new one appended after "|".
QString capturePattern(const QString& current, int rule, const QString& chosenPath, bool combine);

// The places of a synchronization as the automount controls see them.
struct AutomountInput
{
    bool firstRemote = false, secondRemote = false; // network (device type 6) or a disk image
    bool firstAutomount = false, secondAutomount = false, fullAutomount = false;
    bool secondActive = true;
    bool imageNotMounted = false; // either place is a disk image that is not mounted
};
struct AutomountControls
{
    bool boxEnabled = false, boxChecked = false, mountEnabled = false;
};
AutomountControls automountControls(const AutomountInput& in);

} // namespace SyncPropertiesForm
