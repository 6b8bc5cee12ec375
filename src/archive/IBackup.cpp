#include "archive/IBackup.h"

#include "archive/CBackup.h"
#include "platform/BurnDrives.h"
#include "projects/ILocation.h"
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

bool IBackup::isReadyForInterface() const
{
    if (!m_backup || m_backup->count() == 0)
        return false;
    return m_backup->getLocationDeviceType() != ILocation::DeviceCD || isCDRWInSystem();
}

bool IBackup::isCDRWInSystem()
{
    return BurnDrives::any();
}

void IBackup::processMessage(const LogText& text, quint64 options, QObject* sender)
{
    if (options & LogOption::Status)
        m_lastStatus = statusLineText(text.toString());
    if (options & (LogOption::Window | LogOption::RunLog))
        IShellServices::shared().processMessage(text, options, sender ? sender : this);
}

QString IBackup::statusLineText(const QString& text)
{
    // The status line holds at most 2046 bytes of UTF-8, cut at a character boundary.
    QByteArray bytes = text.toUtf8();
    if (bytes.size() <= kStatusLineBytes)
        return text;
    qsizetype cut = kStatusLineBytes;
    while (cut > 0 && (uchar(bytes.at(cut)) & 0xC0) == 0x80)
        --cut;
    bytes.truncate(cut);
    return QString::fromUtf8(bytes);
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
