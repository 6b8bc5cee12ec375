#pragma once

#include <QString>
#include <QStringList>
#include <optional>

// The decisions of the snapshot-backup pane, as functions of the project list, the current
// project's state and the selection. The pane's widgets only apply what these return.
namespace Backup3PaneRules {

// ---- Buttons and menu items -------------------------------------------------------------------
struct ButtonInput
{
    bool appClosing = false;
    int projectCount = 0;
    bool currentInProcess = false;
    bool hasSources = false;
    bool hasOutlineSelection = false;
    bool selectionCheckedOrTopLevel = false; // a selected row is a source or (partly) included
    bool hasLastVersion = false; // lastProcessFolder
    bool useImage = false;
    bool hasImageObject = false;
};
struct Buttons
{
    bool apply = false; // false while the application closes: the buttons are left as they are
    bool deleteProject = false, properties = false, addFile = false, templates = false;
    bool removeFile = false, restore = false;
};
Buttons validateButtons(const ButtonInput& in);

enum class MenuAction
{
    RevealItem,
    DeleteContent,
    AddContent,
    ProjectProperties,
    DeleteProject,
    Other
};
struct MenuInput
{
    bool selectedIsOutlineItem = false;
    bool hasCurrent = false;
    bool currentInProcess = false;
};
// Deleting a project follows the delete button: not while it runs.
bool validateMenuItem(MenuAction action, const MenuInput& in);

// ---- Status line and window title ---------------------------------------------------------------
struct StatusInput
{
    bool hasCurrent = false;
    QString name;
    QString lastStatus; // null: none set
    bool inProcess = false;
    bool readyForInterface = false;
};
// The text to show; nullopt leaves the line as it is.
std::optional<QString> statusString(const StatusInput& in);

// "Backup: <name>", "No Projects"; nullopt when another kit is shown or the external-restore
// sheet is up.
std::optional<QString> windowHeader(
    bool kitShown, bool externalSheetVisible, bool hasCurrent, const QString& name);

// ---- Text router ------------------------------------------------------------------------------
struct TextInput
{
    QString text;
    int type = 0;
    quint8 target = 0;
    bool hasProject = false; // the sender is a snapshot project
    QString projectName;
    bool projectIsSelected = false;
    bool externalRestore = false;
    QString processCode; // the run's code string
    QString now; // the current date and time, general form
};
struct TextOutput
{
    std::optional<QString> notificationTitle; // target 128
    QString notificationText;
    std::optional<QString> status; // target 1 (the selected project, or no project)
    std::optional<QString> externalStatus; // the external-restore sheet's status field
    QStringList logWindow; // lines for the log window
    QStringList runLog; // lines for the run log
};
TextOutput routeText(const TextInput& in);

// ---- Schedule timer ---------------------------------------------------------------------------
struct ScheduleStep
{
    bool processNext = false;
    bool scheduleProcess = false;
};
// One tick: nothing while a modal window is up; queued projects go on; due ones are queued only
// while scheduled starts are on (agent bit 1) and not suspended (bit 2).
ScheduleStep scheduleEvent(int modalDepth, bool queueNotEmpty, int agentBits);

} // namespace Backup3PaneRules
