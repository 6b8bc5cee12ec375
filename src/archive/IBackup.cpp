#include "archive/IBackup.h"

#include "archive/CBackup.h"
#include "utilities/IShellServices.h"
#include "utilities/LogOptions.h"

IBackup::IBackup(CBackup* backup)
    : m_backup(backup)
{ }

IBackup::~IBackup() = default;

QString IBackup::name() const
{
    return m_backup ? m_backup->name() : QString();
}

void IBackup::setInProcess(bool inProcess, int operation)
{
    m_inProcess = inProcess;
    m_operation = operation;
}

void IBackup::processMessage(const LogText& text, quint64 options, QObject* sender)
{
    if (options & LogOption::Status)
        m_lastStatus = text.toString();
    if (options & (LogOption::Window | LogOption::RunLog))
        IShellServices::shared().processMessage(text, options, sender ? sender : this);
}

void IBackup::registerExternalChange(int what)
{
    m_lastExternalChange = what;
    ++m_externalChanges;
}

void IBackup::setIndicatorPosition(double position, bool showNow)
{
    m_indicator = position;
    if (showNow)
        IShellServices::shared().validateProcessIndicator();
}
