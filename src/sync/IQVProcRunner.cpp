#include "sync/IQVProcRunner.h"

namespace {

IQVProcRunner::Factory& factory()
{
    static IQVProcRunner::Factory f;
    return f;
}

} // namespace

void IQVProcRunner::setFactory(Factory f)
{
    factory() = std::move(f);
}

std::unique_ptr<IQVProcRunner> IQVProcRunner::create()
{
    return factory() ? factory()() : nullptr;
}
