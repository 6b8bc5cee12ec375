#include "panes/sync/SyncPaneRules.h"

#include "projects/ProjectNames.h"
#include "sync/IAnalyzeFileSystemItem.h"
#include "utilities/LogOptions.h"

#include <QCoreApplication>

namespace {

QString loc(const char* text)
{
    return QCoreApplication::translate("Localizable", text);
}

enum : int
{
    ReadyLoadContent = 2,
    ReadyRun = 4,
    ReadyAnalyse = 8,
    ReadyParameterChange = 16,
    ReadyStop = 32,
    ReadyMountImages = 64,
};

} // namespace

namespace SyncPaneRules {

int effectiveReady(int ready, bool foldersNested)
{
    return foldersNested ? ready & ~(ReadyRun | ReadyAnalyse) : ready;
}

Buttons validateButtons(const ButtonInput& in)
{
    Buttons b;
    const int R = in.hasProject ? effectiveReady(in.ready, in.foldersNested) : 0;
    const bool change = (R & ReadyParameterChange) != 0;
    b.add = true;
    b.deleteProject = b.properties = b.pickers = b.folderChoosers = change;
    b.topPanel = b.directionChange = change;
    b.clearVerdict = !in.hasProject;
    if (in.hasProject) {
        b.analyze = in.kind == 0 && (R & ReadyAnalyse);
        b.mountImages = in.kind == 0 && (R & ReadyMountImages);
    }
    return b;
}

QString statusString(const StatusInput& in)
{
    if (!in.hasProject || in.name.isEmpty())
        return QString();
    if ((in.ready & ReadyRun) && in.lastStatus.isEmpty())
        return loc("Ready");
    if (in.ready & (ReadyRun | ReadyStop))
        return ProjectNames::trimStatus(in.lastStatus);
    return QString();
}

QString windowHeader(int kind, bool hasProject, const QString& name)
{
    if (!hasProject)
        return loc("No Projects");
    return (kind == 1 ? loc("Clone: %1") : loc("Synchronize: %1")).arg(name);
}

StatusChangeActions statusChangeActions(int change, bool selected, bool noSend)
{
    StatusChangeActions a;
    if (noSend) {
        // An analysis runs: only a change of the current project counts, and an unselected
        // project's operation change still redraws its row.
        if (change == 3)
            a.projectChanged = 4;
        else if (change == 1 && !selected)
            a.redisplayList = true;
        return a;
    }
    switch (change) {
    case 1:
        a.validateButtons = a.validateIndicator = true;
        break;
    case 2:
        if (selected)
            a.takeProjectIndicator = a.validateStatus = true;
        break;
    case 3:
    case 5:
        if (selected) {
            a.takeProjectIndicator = a.validateStatus = true;
            a.projectChanged = change == 3 ? 4 : 6;
        }
        break;
    case 4:
        a.validateIndicator = true;
        break;
    default:
        break;
    }
    a.redisplayList = a.validateHeader = true;
    return a;
}

TextOutput routeText(const TextInput& in)
{
    TextOutput out;
    if (in.text.isEmpty() || in.noSend)
        return out;
    if (in.target & tpMessage) {
        out.notificationTitle = in.hasProject ? loc("Project \"%1\"").arg(in.projectName) : loc("New message");
        out.notificationText = in.text;
    }
    if (in.type == 0 && !(in.target & tpStatus)) {
        out.logWindow << QStringLiteral("\n");
        out.runLog << QStringLiteral("\n");
        return out;
    }
    const QString prefix = in.hasProject ? QStringLiteral("\"%1\" ").arg(in.projectName) : QString();
    const QString code = in.hasProject ? in.processCode : QString();
    if ((in.target & tpStatus) && (!in.hasProject || in.projectIsSelected))
        out.status = ProjectNames::trimStatus(in.text);
    const QString line = in.text.endsWith(QLatin1Char('\n')) ? in.text : in.text + QLatin1Char('\n');
    if (in.target & tpLog) {
        if (in.target & tpTime)
            out.logWindow << in.now + QString() + prefix + QStringLiteral(" -- ") + line;
        else
            out.logWindow << prefix + QStringLiteral(" -- ") + line;
    }
    if (in.type != 0 && in.type != 5) {
        const bool tool = in.target & tpUtilOriginal;
        const bool withCode = in.target & tpProcCodeString;
        if (tool && withCode)
            out.runLog << code + QLatin1Char(' ') + line;
        else if (tool)
            out.runLog << code + QLatin1Char(' ') + prefix + line;
        else if (withCode)
            out.runLog << in.now + QLatin1Char(' ') + code + QLatin1Char(' ') + line;
        else
            out.runLog << in.now + QLatin1Char(' ') + prefix + code + QLatin1Char(' ') + line;
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

QString suspenderToolTip(int agentBits, const QString& resumeDate)
{
    if ((agentBits & 1) && !(agentBits & 2))
        return loc("Suspend scheduler");
    const QString resume = loc("Resume scheduler");
    if ((agentBits & 2) && !resumeDate.isEmpty())
        return loc("%1.\nIt was suspended until %2").arg(resume, resumeDate);
    return resume;
}

DirectionImage directionImage(qint64 f, bool folder, bool arrows)
{
    using I = IAnalyzeFileSystemItem;
    if (!arrows)
        return DirectionImage::None;
    if (!folder) {
        if (f & I::CopyToRight)
            return DirectionImage::CopyRight;
        if (f & I::CopyToLeft)
            return DirectionImage::CopyLeft;
        if (f & (I::DeleteLeft | I::DeleteRight))
            return DirectionImage::Delete;
        return DirectionImage::NothingDo;
    }
    if (f & (I::DeleteLeft | I::DeleteRight))
        return DirectionImage::Delete;
    if (f & (I::BelowChangesLeft | I::BelowChangesRight))
        return DirectionImage::EditFolder;
    if (f & I::CopyToRight)
        return DirectionImage::CopyPropRight;
    if (f & I::CopyToLeft)
        return DirectionImage::CopyPropLeft;
    return DirectionImage::NothingDo;
}

QString directionImageName(DirectionImage image, bool selected)
{
    switch (image) {
    case DirectionImage::None:
        return QString();
    case DirectionImage::NothingDo:
        return QStringLiteral("nothing_do");
    case DirectionImage::CopyLeft:
        return selected ? QStringLiteral("copy_white_left") : QStringLiteral("copy_left");
    case DirectionImage::CopyRight:
        return selected ? QStringLiteral("copy_white_right") : QStringLiteral("copy_right");
    case DirectionImage::CopyPropLeft:
        return selected ? QStringLiteral("copy_prop_white_left") : QStringLiteral("copy_prop_left");
    case DirectionImage::CopyPropRight:
        return selected ? QStringLiteral("copy_prop_white_right") : QStringLiteral("copy_prop_right");
    case DirectionImage::Delete:
        return selected ? QStringLiteral("delete_white") : QStringLiteral("delete");
    case DirectionImage::EditFolder:
        return selected ? QStringLiteral("edit_folder_white") : QStringLiteral("edit_folder");
    }
    return QString();
}

CellStyle cellStyle(qint64 f, bool folder, bool right, bool selected, bool arrows)
{
    using I = IAnalyzeFileSystemItem;
    if (selected)
        return arrows ? CellStyle::Dimmed : CellStyle::Normal;
    if (!(f & (right ? I::Right : I::Left)))
        return CellStyle::Dimmed;
    if (!arrows)
        return CellStyle::Normal;
    const qint64 copied = right ? I::CopyToLeft : I::CopyToRight;
    const qint64 deleted = right ? I::DeleteRight : I::DeleteLeft;
    const qint64 below = right ? I::BelowChangesRight : I::BelowChangesLeft;
    if (f & deleted)
        return CellStyle::Deleted;
    if (!folder)
        return (f & copied) ? CellStyle::Copied : CellStyle::Normal;
    return (f & (copied | below)) ? CellStyle::Changed : CellStyle::Normal;
}

EmptyState analysisEmptyState(const EmptyInput& in)
{
    EmptyState s;
    if (in.closing)
        return { true, QString() };
    if (in.hasProject) {
        if (in.networkInactive)
            return { true, loc("Source or destination not mounted") };
        if (in.imageInactive)
            return { true, loc("Source or destination Disk Image not mounted") };
        if (in.samePlaces)
            return { true, loc("Source and destination must differ") };
    }
    if (!in.hasProject || !(in.ready & ReadyLoadContent))
        return { true, loc("Choose left and right folder above to start synchronization.") };
    return s;
}

EmptyState cloneEmptyState(bool hasProject, bool sourceChosen)
{
    if (!hasProject || !sourceChosen)
        return { true, loc("Select Source and Destination volumes from the drop down menus above to begin cloning.") };
    return {};
}

DropRefusal dropRefusal(const DropInput& in)
{
    if (!in.hasProject || in.kind != 0)
        return DropRefusal::NotSynchronization;
    if (!in.panelEnabled || in.inProcess)
        return DropRefusal::Busy;
    if (!in.isFolder)
        return DropRefusal::NotFolder;
    if (in.nestedWithOther)
        return DropRefusal::Nested;
    return DropRefusal::None;
}

int dropSide(int x, int width)
{
    return x < width / 2 ? 0 : 1;
}

std::optional<int> directionChoice(int current, int requested, const bool enabled[3])
{
    int d = requested >= 0 && requested <= 2 && enabled[requested] ? requested : 0;
    if (d == current || !enabled[d])
        return std::nullopt;
    return d;
}

int directionPack(int direction)
{
    return direction >= 0 && direction <= 2 ? 14 + direction : 14;
}

WarningDecision startWarningDecision(bool ok, bool showAgainTicked)
{
    return { ok, !showAgainTicked };
}

WarningTexts startWarningTexts(bool full, const QString& appName, const QString& destination)
{
    WarningTexts t;
    if (full) {
        t.prompt = loc("%1 will now start cloning your volume disk.").arg(appName);
        t.text = loc("Note that this is a full replication of the source volume to the destination volume. The "
                     "content of your destination volume disk \"%1\" will be completely erased. Don't stop this "
                     "process until it is complete.")
                     .arg(destination);
        return t;
    }
    t.prompt = loc("%1 will now start cloning your disk.").arg(appName);
    t.text = loc("Note that this will delete files on the destination volume that do not exist on the source volume!");
    t.text2 = loc("To make the process faster, identical files present on both volumes will not be rewritten.");
    return t;
}

QList<PickerItem> pickerItems(const QList<DiskFacts>& disks, bool source, int hostVersion)
{
    QList<PickerItem> items;
    items.append({ source ? loc("Select a Source") : loc("Select a Destination"), QString(), TagNone, true });
    QString lastDevice;
    bool first = true;
    for (int i = 0; i < disks.size() && i < TagSourceRemembered; ++i) {
        const DiskFacts& d = disks.at(i);
        if (d.deviceType == 6 || d.role == 7 || (!source && d.startup))
            continue;
        if (first || d.device != lastDevice) {
            items.append({ d.deviceType == 0 ? loc("Internal Disk(s)") : d.device, QString(), TagSeparator, false });
            lastDevice = d.device;
            first = false;
        }
        PickerItem item { d.title, d.tooltip, i, true };
        if (source)
            item.enabled = !d.systemOfNewerHost || hostVersion >= 101600;
        else
            item.enabled = d.writable || (d.doubleVolume && d.role == 6);
        items.append(item);
    }
    return items;
}

QString verdictHtml(const QString& text, const QString& anchor)
{
    const QString shown = text.isEmpty() ? loc("Status is undefined") : text;
    const QString a = anchor.isEmpty() ? QStringLiteral("cloning_messages_html_select_disks") : anchor;
    return QStringLiteral("%1 (<a href=\"%2\" style=\"color:#d00000;\">%3</a>)")
        .arg(shown.toHtmlEscaped(), a.toHtmlEscaped(), loc("help"));
}

} // namespace SyncPaneRules
