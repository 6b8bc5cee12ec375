#pragma once

#include <QString>
#include <QStringList>
#include <optional>

// The decisions of the synchronization and clone panes as functions of the kind shown (0
// synchronizations, 1 clones), the current project's readiness bits (ISynchron::getReady) and its
// state. The widgets only apply what these return.
namespace SyncPaneRules {

// ---- Buttons ------------------------------------------------------------------------------------
struct ButtonInput
{
    int kind = 0;
    bool hasProject = false;
    int ready = 0; // getReady bits: 2 content, 4 run, 8 analyse, 16 change, 32 stop, 64 images
    bool foldersNested = false; // a synchronization whose folders are equal or nested
};
struct Buttons
{
    bool add = true;
    bool deleteProject = false, properties = false; // both panes
    bool pickers = false; // the clone disk pickers
    bool folderChoosers = false; // the synchronization folder choosers
    bool topPanel = false, directionChange = false;
    bool analyze = false;
    bool mountImages = false; // enabled and shown
    bool clearVerdict = false; // no project: empty verdict line, no icon, no folders
};
Buttons validateButtons(const ButtonInput& in);

// The readiness bits the pane acts on: a synchronization whose folders are the same or one lies
// inside the other is never ready to run or to analyse, whatever the places' access says.
int effectiveReady(int ready, bool foldersNested);

// ---- Status line ---------------------------------------------------------------------------------
struct StatusInput
{
    bool hasProject = false;
    QString name;
    int ready = 0;
    QString lastStatus;
};
// The status line's text ("" for nothing), with one trailing "." dropped.
QString statusString(const StatusInput& in);
// "Clone: <name>", "Synchronize: <name>", "No Projects".
QString windowHeader(int kind, bool hasProject, const QString& name);

// ---- Project status changes ----------------------------------------------------------------------
// What eventChangedProjectStatus does for a project's last state change (1 operation, 2 button,
// 3 current, 4 status, 5 places).
struct StatusChangeActions
{
    bool validateButtons = false;
    bool validateIndicator = false; // the indicator takes the visible project's state
    bool takeProjectIndicator = false; // the indicator takes this (selected) project's state
    bool validateStatus = false;
    std::optional<int> projectChanged; // eventProjectChanged with that code
    bool redisplayList = false;
    bool validateHeader = false;
};
StatusChangeActions statusChangeActions(int change, bool selected, bool noSend);

// ---- Text router ---------------------------------------------------------------------------------
struct TextInput
{
    QString text;
    int type = 0;
    quint32 target = 0;
    bool noSend = false;
    bool hasProject = false;
    QString projectName;
    bool projectIsSelected = false;
    QString processCode;
    QString now; // the current date and time, general form
};
struct TextOutput
{
    std::optional<QString> notificationTitle;
    QString notificationText;
    std::optional<QString> status;
    QStringList logWindow;
    QStringList runLog;
};
TextOutput routeText(const TextInput& in);

// ---- Schedule timer ------------------------------------------------------------------------------
struct ScheduleStep
{
    bool processNext = false;
    bool scheduleProcess = false;
};
ScheduleStep scheduleEvent(int modalDepth, bool queueNotEmpty, int agentBits);

// The suspend/resume tooltip: "Suspend scheduler" while scheduled starts run, else "Resume
// scheduler", naming the resume date while suspended.
QString suspenderToolTip(int agentBits, const QString& resumeDate);

// ---- Analysis outline ----------------------------------------------------------------------------
// The "Direction" column's image, from a node's flags.
enum class DirectionImage
{
    None,
    NothingDo,
    CopyLeft,
    CopyRight,
    CopyPropLeft,
    CopyPropRight,
    Delete,
    EditFolder
};
DirectionImage directionImage(qint64 flags, bool folder, bool arrows);
// The resource name of a direction image (":/sync/<name>.svg" form without the prefix);
// selected rows use the white forms.
QString directionImageName(DirectionImage image, bool selected);

// How a side's cell is drawn.
enum class CellStyle
{
    Dimmed, // absent on this side, or a selected row with results shown
    Copied,
    Deleted,
    Changed, // a folder with changes below it
    Normal
};
CellStyle cellStyle(qint64 flags, bool folder, bool rightSide, bool selected, bool arrows);

// The outline's empty-state hint; empty() true when the outline shows only the hint.
struct EmptyState
{
    bool empty = false;
    QString text;
};
struct EmptyInput
{
    bool closing = false;
    bool hasProject = false;
    int ready = 0;
    bool networkInactive = false; // a network place is not mounted
    bool imageInactive = false; // a disk-image place is not mounted
    bool samePlaces = false;
};
EmptyState analysisEmptyState(const EmptyInput& in);
EmptyState cloneEmptyState(bool hasProject, bool sourceChosen);

// ---- Top panel -----------------------------------------------------------------------------------
enum class DropRefusal
{
    None,
    NotSynchronization,
    NotFolder,
    Busy, // the panel is disabled or the project runs
    Nested
};
struct DropInput
{
    bool hasProject = false;
    int kind = 0;
    bool panelEnabled = true;
    bool inProcess = false;
    bool isFolder = false;
    bool nestedWithOther = false; // the folder and the other side's folder are equal or nested
};
DropRefusal dropRefusal(const DropInput& in);
// A drop's side: 0 left of the middle, 1 right.
int dropSide(int x, int width);

// The direction control: the index taken for a request, or nullopt when nothing changes.
std::optional<int> directionChoice(int current, int requested, const bool enabled[3]);
// The image pack of a direction (14 + direction; 14 for anything outside 0..2).
int directionPack(int direction);

// ---- Clone start warning -------------------------------------------------------------------------
struct WarningDecision
{
    bool start = false;
    bool switchOff = false; // the project's start warning is switched off
};
WarningDecision startWarningDecision(bool ok, bool showAgainTicked);
struct WarningTexts
{
    QString prompt, text, text2;
};
WarningTexts startWarningTexts(bool fullGroupClone, const QString& appName, const QString& destination);

// ---- Clone disk pickers -------------------------------------------------------------------------
// What a picker needs of one disk of the disk array.
struct DiskFacts
{
    QString title; // "name (space)" as the side shows it
    QString tooltip;
    QString device; // the whole device the volume lives on
    int deviceType = 0; // 0 internal, 1 USB, 6 network
    int role = 0; // 6 System, 7 Data
    bool writable = true;
    bool doubleVolume = false; // belongs to a system/data volume group
    bool startup = false; // mounted at "/"
    bool systemOfNewerHost = false; // location flags 64 or 128
};
enum : int
{
    TagSourceRemembered = 1000,
    TagDestinationRemembered = 1001,
    TagNone = 1005,
    TagSeparator = 1006,
};
struct PickerItem
{
    QString title;
    QString tooltip;
    int tag = TagNone;
    bool enabled = true;
};
// The items of a picker: "Select a Source"/"Select a Destination" (tag 1005), then per device a
// disabled header (tag 1006, "Internal Disk(s)" for internal disks) and its volumes, tagged with
// their index in the disk array. Network volumes and Data volumes are skipped, and the startup
// volume is never a destination. A system volume of a newer system is a source only on hosts
// from 10.16 on; a read-only destination is listed disabled unless it is a group's System volume.
QList<PickerItem> pickerItems(const QList<DiskFacts>& disks, bool source, int hostVersion);

// ---- Verdict line --------------------------------------------------------------------------------
// The rich text of the verdict line: the text and "(help)" whose only link is the word "help".
QString verdictHtml(const QString& text, const QString& anchor);

} // namespace SyncPaneRules
