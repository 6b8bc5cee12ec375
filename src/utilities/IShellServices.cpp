#include "utilities/IShellServices.h"

#include <atomic>

namespace {
std::atomic<IShellServices*> g_services { nullptr };
}

IShellServices& IShellServices::shared()
{
    static HeadlessShellServices headless;
    IShellServices* services = g_services.load(std::memory_order_acquire);
    return services ? *services : headless;
}

void IShellServices::setShared(IShellServices* services)
{
    g_services.store(services, std::memory_order_release);
}
