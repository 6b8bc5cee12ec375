#include "utilities/IIconUtil.h"

#include "utilities/IColorUtil.h"

namespace {

struct Row
{
    const char* light[3];
    const char* dark[3];
};

// Light and dark resource names per phase (normal, active, disabled); null = no image.
const Row kTable[25] = {
    { { "backup_norm", "backup_active", nullptr }, { "backup_norm_drk", "backup_active_drk", nullptr } },
    { { "archive_norm", "archive_active", nullptr }, { "archive_norm_drk", "archive_active_drk", nullptr } },
    { { "sync_norm", "sync_active", nullptr }, { "sync_norm_drk", "sync_active_drk", nullptr } },
    { { "clone_norm", "clone_active", nullptr }, { "clone_norm_drk", "clone_active_drk", nullptr } },
    { { "start-progr_button", "stop-progr_button", "start-progr_dis_button" },
        { "start-progr_button", "stop-progr_button", "start-progr_dis_button_drk" } },
    { { "plus_n", "plus_h", "plus_dis" }, { "plus_dis", "plus_h", "plus_n" } },
    { { "minus_n", "minus_h", "minus_dis" }, { "minus_dis", "minus_h", "minus_n" } },
    { { "properties_n", "properties_h", "properties_dis" },
        { "properties_dis", "properties_h", "properties_n" } },
    { { "process_scheduled", "process_scheduled_sel", nullptr },
        { "process_scheduled_sel", "process_scheduled_sel", nullptr } },
    { { "process_waiting", "process_waiting_sel", nullptr },
        { "process_waiting_sel", "process_waiting_sel", nullptr } },
    { { "report", "report_sel", nullptr }, { "report_drk", "report_sel", nullptr } },
    { { "schedule", "schedule_sel", nullptr }, { "schedule_drk", "schedule_sel", nullptr } },
    { { "schedule_disabled", "schedule_disabled_sel", nullptr },
        { "schedule_disabled_drk", "schedule_disabled_sel", nullptr } },
    { { "target", nullptr, nullptr }, { "target_drk", nullptr, nullptr } },
    { { "QV_dir_2R", nullptr, nullptr }, { "QV_dir_2R_drk", nullptr, nullptr } },
    { { "QV_dir_2L", nullptr, nullptr }, { "QV_dir_2L_drk", nullptr, nullptr } },
    { { "QV_dir_Bi", nullptr, nullptr }, { "QV_dir_Bi_drk", nullptr, nullptr } },
    { { "sync-drop-panel_L", nullptr, nullptr }, { "sync-drop-panel_L_drk", nullptr, nullptr } },
    { { "sync-drop-panel_R", nullptr, nullptr }, { "sync-drop-panel_R_drk", nullptr, nullptr } },
    { { "sync-drop-panel_C", nullptr, nullptr }, { "sync-drop-panel_C_drk", nullptr, nullptr } },
    { { "proc_empty_L", "proc_full_L", "proc_dis_L" },
        { "proc_empty_L_drk", "proc_full_L", "proc_dis_L_drk" } },
    { { "proc_empty_C", "proc_full_C", "proc_dis_C" },
        { "proc_empty_C_drk", "proc_full_C", "proc_dis_C_drk" } },
    { { "proc_empty_R", "proc_full_R", "proc_dis_R" },
        { "proc_empty_R_drk", "proc_full_R", "proc_dis_R_drk" } },
    { { "colorButton", nullptr, nullptr }, { "colorButton_drk", nullptr, nullptr } },
    { { "dots", nullptr, nullptr }, { "dots_drk", nullptr, nullptr } },
};

} // namespace

IIconUtil::IIconUtil()
{
    load();
}

IIconUtil& IIconUtil::shared()
{
    static IIconUtil instance;
    return instance;
}

void IIconUtil::load()
{
    for (int i = 0; i < 25; ++i) {
        IIconPack pack = IIconPack::create();
        for (int phase = 0; phase < 3; ++phase) {
            if (kTable[i].light[phase])
                pack.loadPhase(phase, 0, QLatin1String(kTable[i].light[phase]));
            if (kTable[i].dark[phase])
                pack.loadPhase(phase, 1, QLatin1String(kTable[i].dark[phase]));
        }
        m_packs[i] = pack;
    }
}

void IIconUtil::insertIconPack(const IIconPack& pack, int index)
{
    if (index >= 0 && index < packCount)
        m_packs[index] = pack;
}

QIcon IIconUtil::icon(int index, int phase) const
{
    if (index < 0 || index >= packCount)
        return QIcon();
    return m_packs[index].iconPhase(phase, IColorUtil::effectiveMode() == IColorUtil::ModeDark ? 1 : 0);
}

QString IIconUtil::iconName(int index, int phase) const
{
    if (index < 0 || index >= packCount)
        return QString();
    return m_packs[index].namePhase(phase, IColorUtil::effectiveMode() == IColorUtil::ModeDark ? 1 : 0);
}

QStringList IIconUtil::allIconNames()
{
    QStringList names;
    for (const Row& r : kTable) {
        for (int p = 0; p < 3; ++p) {
            for (const char* n : { r.light[p], r.dark[p] }) {
                if (n && !names.contains(QLatin1String(n)))
                    names.append(QLatin1String(n));
            }
        }
    }
    return names;
}
