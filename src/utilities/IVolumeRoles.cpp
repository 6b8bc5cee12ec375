#include "utilities/IVolumeRoles.h"

#include <atomic>

namespace {
std::atomic<IVolumeRoles*> g_roles { nullptr };
}

IVolumeRoles& IVolumeRoles::shared()
{
    static NullVolumeRoles none;
    IVolumeRoles* roles = g_roles.load(std::memory_order_acquire);
    return roles ? *roles : none;
}

void IVolumeRoles::setShared(IVolumeRoles* roles)
{
    g_roles.store(roles, std::memory_order_release);
}
