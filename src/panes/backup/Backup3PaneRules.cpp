#include "panes/backup/Backup3PaneRules.h"

#include "projects/ProjectNames.h"

#include <QCoreApplication>

namespace Backup3PaneRules {

namespace {

QString loc(const char* text)
{
    return QCoreApplication::translate("Localizable", text);
}

// Target bits of the text router.
constexpr quint8 tpStatus = 1, tpLogWindow = 2, tpTime = 8, tpToolText = 16, tpProcessCode = 32,
                 tpNotification = 128;

} // namespace

Buttons validateButtons(const ButtonInput& in)
{
    Buttons b;
    if (in.appClosing)
        return b;
    b.apply = true;
    const bool enabled = in.projectCount > 0 && !in.currentInProcess;
    b.deleteProject = b.properties = b.addFile = b.templates = enabled;
    b.removeFile = enabled && in.hasSources && in.hasOutlineSelection && in.selectionCheckedOrTopLevel;
    b.restore = enabled && in.hasLastVersion && (!in.useImage || in.hasImageObject);
    return b;
}

bool validateMenuItem(MenuAction action, const MenuInput& in)
{
    switch (action) {
    case MenuAction::RevealItem:
    case MenuAction::DeleteContent:
        return in.selectedIsOutlineItem;
    case MenuAction::AddContent:
    case MenuAction::ProjectProperties:
        return in.hasCurrent;
    case MenuAction::DeleteProject:
        return in.hasCurrent && !in.currentInProcess;
    case MenuAction::Other:
        return true;
    }
    return true;
}

std::optional<QString> statusString(const StatusInput& in)
{
    if (!in.hasCurrent || in.name.isEmpty())
        return QStringLiteral("");
    if (in.lastStatus.isNull())
        return std::nullopt;
    if (in.inProcess || !in.readyForInterface)
        return ProjectNames::trimStatus(in.lastStatus);
    if (in.lastStatus.isEmpty())
        return loc("Ready");
    return ProjectNames::trimStatus(in.lastStatus);
}

std::optional<QString> windowHeader(
    bool kitShown, bool externalSheetVisible, bool hasCurrent, const QString& name)
{
    if (!kitShown || externalSheetVisible)
        return std::nullopt;
    return hasCurrent ? loc("Backup: %1").arg(name) : loc("No Projects");
}

TextOutput routeText(const TextInput& in)
{
    TextOutput out;
    if (in.target & tpNotification) {
        out.notificationTitle
            = in.hasProject ? loc("Project \"%1\"").arg(in.projectName) : loc("New message");
        out.notificationText = in.text;
    }
    if (in.type == 0 && !(in.target & tpStatus)) {
        out.logWindow << QStringLiteral("\n");
        out.runLog << QStringLiteral("\n");
        return out;
    }
    const QString text = in.text.isEmpty() ? QString() : in.text;
    if (in.hasProject && in.externalRestore && (in.type == 5 || (in.target & tpStatus)))
        out.externalStatus = text;
    if ((in.target & tpStatus) && (!in.hasProject || in.projectIsSelected))
        out.status = ProjectNames::trimStatus(text);
    if (text.isNull())
        return out;
    const QString line = text.endsWith(QLatin1Char('\n')) ? text : text + QLatin1Char('\n');
    const QString quoted = in.hasProject ? QStringLiteral("\"%1\"").arg(in.projectName) : QString();
    if (in.target & tpLogWindow) {
        if (in.target & tpTime)
            out.logWindow << QStringLiteral("%1 %2 %3 -- %4").arg(in.now, QString(), quoted, line);
        else
            out.logWindow << QStringLiteral("%1 -- %2").arg(quoted, line);
    }
    if (in.type != 0 && in.type != 5) {
        const QString code = in.hasProject ? in.processCode : QString();
        const bool tool = in.target & tpToolText;
        const bool withCode = in.target & tpProcessCode;
        if (!tool && !withCode)
            out.runLog << QStringLiteral("%1 %2 %3 %4 %5").arg(in.now, QString(), quoted, code, line);
        else if (!tool)
            out.runLog << QStringLiteral("%1 %2 %3 %4").arg(in.now, QString(), code, line);
        else if (!withCode)
            out.runLog << QStringLiteral("\t%1 %2 %3 %4").arg(QString(), code, quoted, line);
        else
            out.runLog << QStringLiteral("\t%1 %2 %3").arg(QString(), code, line);
    }
    return out;
}

ScheduleStep scheduleEvent(int modalDepth, bool queueNotEmpty, int agentBits)
{
    ScheduleStep s;
    if (modalDepth > 0)
        return s;
    s.processNext = queueNotEmpty;
    s.scheduleProcess = (agentBits & 1) && !(agentBits & 2);
    return s;
}

} // namespace Backup3PaneRules
