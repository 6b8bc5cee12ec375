#pragma once

#include <QList>

class IQV3ProjectListView;
class QString;

class QAction;
class QWidget;

// A kit's pane as the main window hosts it. A pane is one widget that lays out its parts itself
// when it stands alone (tests, screenshots); in the main window its three parts go into the
// window's own split view (the project list on the left, the content on the right) and status
// row, so the window's splitter limits and stored divider hold for every kit. The pane object
// stays alive, hidden, as the owner of the parts' models.
class IKitPane
{
public:
    virtual ~IKitPane() = default;
    // The project list with its buttons (left of the divider).
    virtual QWidget* kitProjectListPart() = 0;
    // The current project's content (right of the divider).
    virtual QWidget* kitContentPart() = 0;
    // The start/stop indicator and status text (the window's status row); may be null.
    virtual QWidget* kitStatusPart() = 0;
    // The list the window reloads and focuses.
    virtual IQV3ProjectListView* kitListView() = 0;

    // The window's "Process" menu items, sent to the pane of the current kit.
    enum class Action
    {
        AddProject,
        DeleteProject,
        ProjectProperties,
        ProcessProject,
        RestoreProject
    };
    virtual void kitAction(Action action) { }
    // The window's status line while this kit is shown: a pane with a status part shows the
    // text in its own status field, so the row has one status, not two.
    virtual void setKitStatusText(const QString& text) { }

    // The kit's own items of the "Process" menu, shown while the kit is; the pane keeps their
    // enable states.
    virtual QList<QAction*> kitMenuActions() { return {}; }
};
