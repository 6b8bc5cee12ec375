#include "sync/CloneVerdict.h"

#include "projects/ILocation.h"
#include "sync/ISynchron.h"
#include "utilities/IDiskUtil.h"

#include <QCoreApplication>
#include <algorithm>

namespace {

QString tr(const char* text)
{
    return QCoreApplication::translate("CloneVerdict", text);
}

using CloneVerdict::Icon;
using CloneVerdict::Result;

Result verdict(bool allowed, const char* text, Icon icon, const char* anchor, QList<ProcessCardFlag> flags = {})
{
    return Result { allowed, tr(text), icon, QString::fromLatin1(anchor), std::move(flags) };
}

Result apfsRequired()
{
    return verdict(false, "APFS volume is required for destination", Icon::Error,
        "cloning_messages_html_select_disks", { analyticNoSupportClone });
}

Result dataVolumeOnly()
{
    return verdict(true, "Cloning Data Volume only", Icon::Warning, "cloning_messages_html_apfs_data_volume_only",
        { analyticRSYNCOnlyClone });
}

Result groupVerdict(QList<ProcessCardFlag> flags)
{
    return verdict(true, "Clone may be bootable", Icon::Ok, "cloning_messages_html_apfs_clone_is_bootable",
        std::move(flags));
}

Result classic(const CloneVerdict::Facts& f)
{
    const auto& S = f.source;
    const auto& D = f.destination;
    const int H = f.hostVersion;
    if (!S.system || !S.bootable)
        return verdict(true, "Clone will not be bootable (Source is not bootable)", Icon::Warning,
            "cloning_messages_html_source_not_bootable");
    if (!D.bootable)
        return verdict(true, "Clone will not be bootable (Destination is not bootable)", Icon::Warning,
            "cloning_messages_html_destination_not_bootable");
    if ((S.hfsPlus && D.apfs) || (H >= 101200 && H < 101300 && D.apfs))
        return verdict(true, "Clone will not be bootable (unable to create bootable volume on the destination)",
            Icon::Warning, "cloning_messages_html_destination_preparing_problem");
    if (f.sourceDoubleVolumeSystem && !D.apfs)
        return verdict(true, "Clone will not be bootable (APFS format is required on destination)", Icon::Warning,
            "cloning_messages_html_not_bootable_apfs_required");
    if (f.doubleVolumeClone)
        return groupVerdict({ analyticDoubleVolumeBootableClone, analyticUnmountNotReasonForTermination });
    return verdict(
        true, "Clone may be bootable", Icon::Ok, "cloning_messages_html_clone_is_bootable", { analyticBootableClone });
}

Result bootability(const CloneVerdict::Facts& f)
{
    const auto& S = f.source;
    const auto& D = f.destination;
    const int H = f.hostVersion;
    if (H >= 101600 && H < 120000) {
        if (S.system12)
            return D.hfsPlus ? apfsRequired() : dataVolumeOnly();
        if (S.system11) {
            if (D.hfsPlus)
                return apfsRequired();
            if (D.apfs && !D.system11)
                return dataVolumeOnly();
            if (D.system11 && S.bySnapshot) {
                QList<ProcessCardFlag> flags { analyticDoubleVolumeBootableClone, analyticSURClone,
                    analyticUnmountNotReasonForTermination };
                if (S.sysVersion != D.sysVersion)
                    flags << analyticASROnlyClone;
                return groupVerdict(flags);
            }
            return dataVolumeOnly();
        }
        return classic(f);
    }
    if (H < 101600) {
        if (S.system11)
            return verdict(false, "Source must be active bootable disk", Icon::Error,
                "cloning_messages_html_select_disks", { analyticNoSupportClone });
        return classic(f);
    }
    if (!S.system11 && !S.system12)
        return classic(f);
    if (D.hfsPlus)
        return apfsRequired();
    if (S.system11)
        return D.system11 ? dataVolumeOnly()
                          : groupVerdict({ taskFullCloning, analyticUnmountNotReasonForTermination });
    if (D.system12)
        return groupVerdict({ analyticDoubleVolumeBootableClone, analyticUnmountNotReasonForTermination });
    return groupVerdict(
        { analyticDoubleVolumeBootableClone, analyticUnmountNotReasonForTermination, analyticASROnlyClone });
}

} // namespace

CloneVerdict::Result CloneVerdict::judge(const Facts& f)
{
    Result r = [&f]() -> Result {
        const auto& S = f.source;
        const auto& D = f.destination;
        if ((S.chosen && !S.present) || (D.chosen && !D.present)) {
            if (f.cardOnlyRunning && f.cardUnmountTolerated)
                return verdict(true, "Destination volume is unavailable. Wait until cloning is complete.",
                    Icon::Warning, "cloning_messages_html_no_access");
            return verdict(true, "Source or destination is not accessible", Icon::Error,
                "cloning_messages_html_no_access");
        }
        if (f.sourceAccess == ILocation::AccessDataMissing)
            return verdict(false, "Source data volume is inaccessible", Icon::Error, "cloning_messages_html_no_access",
                { analyticNoSupportClone });
        if (!S.present || !D.present)
            return verdict(false, "Select source and destination", Icon::Warning, "cloning_messages_html_select_disks");
        if (f.sameVolume)
            return verdict(false, "Source and destination must differ", Icon::Error,
                "cloning_messages_html_same_source_and_destination");
        if (!(D.hfsPlus || D.apfs) || !(S.hfsPlus || S.apfs))
            return verdict(true, "Mac OS Extended or APFS required for source and destination", Icon::Warning,
                "cloning_messages_html_hfs_required");
        if (!D.writable && D.role != 6)
            return verdict(true, "Destination is read only", Icon::Error, "cloning_messages_html_read_only");
        if (S.caseSensitive && !D.caseSensitive)
            return verdict(true, "Case-sensitive HFS+ recommended for destination", Icon::Warning,
                "cloning_messages_html_case_sensitive");
        if (!(S.usedMB < D.cloneSpaceMB))
            return verdict(true, "Destination has insufficient space", Icon::Warning,
                "cloning_messages_html_destination_low_space");
        return bootability(f);
    }();
    // A volume-group clone always carries these two, whatever the verdict.
    if (f.doubleVolumeClone) {
        for (const ProcessCardFlag& flag : { analyticDoubleVolumeBootableClone, analyticUnmountNotReasonForTermination }) {
            const bool held = std::any_of(r.flags.begin(), r.flags.end(),
                [&flag](const ProcessCardFlag& f) { return f.value == flag.value && f.sector == flag.sector; });
            if (!held)
                r.flags.prepend(flag);
        }
    }
    return r;
}

void CloneVerdict::applyToCard(IProcessCard& card, const Result& result)
{
    if (card.isFlag(stateRunning))
        return;
    for (const ProcessCardFlag& flag : { analyticDoubleVolumeBootableClone, analyticBootableClone,
             analyticUnmountNotReasonForTermination, analyticASROnlyClone, analyticRSYNCOnlyClone, analyticSURClone,
             analyticNoSupportClone })
        card.remove(flag);
    for (const ProcessCardFlag& flag : result.flags)
        card.add(flag);
}

CloneVerdict::Facts CloneVerdict::factsForProject(ISynchron& project)
{
    Facts f;
    auto volume = [](ILocation* l) {
        Volume v;
        if (!l)
            return v;
        v.chosen = !l->getUnverifiedFullPath().isEmpty() || !l->getMountPoint().isEmpty();
        v.present = l->isActive();
        v.hfsPlus = l->isHFSp();
        v.apfs = l->isAPFS();
        v.writable = l->isWritable();
        v.role = l->getRole();
        v.caseSensitive = l->isCaseSensitiveFS();
        v.usedMB = l->getUsedSpace();
        v.cloneSpaceMB = qint64(l->getSpaceForCloneMB());
        v.system = l->isSystem();
        v.bootable = l->isBootable();
        v.bySnapshot = l->isPresentBySnapshot();
        v.system11 = l->isFlag(64);
        v.system12 = l->isFlag(128);
        const ILocation::SysVersion s = l->getSysVersion();
        v.sysVersion = s.version * 10000 + s.sysUpdate * 100 + s.softUpdate;
        return v;
    };
    ILocation* S = project.firstLocation().get();
    ILocation* D = project.secondLocation().get();
    f.source = volume(S);
    f.destination = volume(D);
    f.sameVolume = S && D && f.source.present && f.destination.present && S->getMountPoint() == D->getMountPoint();
    f.sourceAccess = S ? S->getAccessWithAdmin(true, project.isUSBAutomountForProcess(), false) : 0;
    f.hostVersion = int(IDiskUtil::systemVersion());
    f.doubleVolumeClone = project.isDoubleVolumeClone();
    f.sourceDoubleVolumeSystem = project.isSourceDoubleVolumeSystemForPass(-1);
    f.cardOnlyRunning = project.card().isOnlyFlag(stateRunning);
    f.cardUnmountTolerated = project.card().isFlag(analyticUnmountNotReasonForTermination);
    return f;
}
