#include "projects/IProject.h"

IProject::IProject(QObject* parent)
    : QObject(parent)
{ }

IProject::~IProject() = default;

QString IProject::name() const
{
    return QString();
}

QByteArray IProject::utf8Name() const
{
    return name().toUtf8();
}

QByteArray IProject::utf8StringCode() const
{
    return QByteArray();
}

void IProject::processMessage(const LogText&, quint64, QObject*) { }

// ---- Questions the rsync option list asks (base answers) ----

int IProject::synchronType() const
{
    return 0;
}
bool IProject::isMacSrcDestForPass(long) const
{
    return true;
}
bool IProject::isUseAdminPrivilegesForPass(long) const
{
    return true;
}
bool IProject::isOptionConsiderModDate() const
{
    return false;
}
bool IProject::isOptionDelete() const
{
    return false;
}
bool IProject::isExcludeAliases() const
{
    return false;
}
bool IProject::isSourceDoubleVolumeSystemForPass(long) const
{
    return false;
}
int IProject::extendedAttrsProcessType() const
{
    return 0;
}
bool IProject::useBDI() const
{
    return false;
}
IProcessCard* IProject::processCard() const
{
    return nullptr;
}
