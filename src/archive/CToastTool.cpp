#include "archive/CToastTool.h"

#include <QCoreApplication>

QString CToastTool::statusText() const
{
    return QCoreApplication::translate("Localizable", "burning application not found");
}
