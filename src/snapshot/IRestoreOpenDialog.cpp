#include "snapshot/IRestoreOpenDialog.h"

namespace {
HeadlessRestoreOpenDialog g_headless;
IRestoreOpenDialog* g_current = nullptr;
} // namespace

IRestoreOpenDialog& IRestoreOpenDialog::sharedRestoreOpenDialog()
{
    return g_current ? *g_current : g_headless;
}

void IRestoreOpenDialog::setShared(IRestoreOpenDialog* dialog)
{
    g_current = dialog;
}
