#include "archive/IBackup.h"

#include "archive/CBackup.h"
#include "platform/BurnDrives.h"
#include "platform/Clock.h"
#include "platform/MainThread.h"
#include "projects/ILocation.h"
#include "utilities/ICommon.h"
#include "utilities/IShellServices.h"
#include "utilities/LogOptions.h"

#include <QCoreApplication>

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
    if (m_inProcess == inProcess && m_operation == operation)
        return;
    m_inProcess = inProcess;
    m_operation = operation;
    if (!inProcess)
        m_indicator = 0;
    IShellServices& shell = IShellServices::shared();
    shell.eventChangedProjectStatus(this);
    shell.DIIProcessIndicatorPositionCollect(this);
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
    if (options & LogOption::Status) {
        m_lastStatus = statusLineText(text.toString());
        if ((options & LogOption::RefreshNow) && m_backup && m_backup->isSelected() && isMainThread())
            IShellServices::shared().validateStatusString();
    }
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

double IBackup::indicatorPositionForGlobal() const
{
    const double p = m_indicator.load();
    return (p < 0 || p > 100) ? -1.0 : p;
}

void IBackup::setIndicatorPosition(double position)
{
    const double old = m_indicator.load();
    if (old != 0 && position < old)
        return;
    m_indicator = position;
    IShellServices& shell = IShellServices::shared();
    shell.DIIProcessIndicatorPositionCollect(this);
    if (old != position && m_backup && m_backup->isSelected())
        shell.eventChangedProjectStatus(this);
}

void IBackup::setIndicatorPosition(double position, bool showNow)
{
    if (!showNow) {
        setIndicatorPosition(position);
        return;
    }
    const double old = m_indicator.load();
    if (old != 0 && position < old)
        return;
    m_indicator = position;
    IShellServices& shell = IShellServices::shared();
    shell.DIIProcessIndicatorPositionCollect(this);
    shell.validateProcessIndicator();
}

void IBackup::setIndicatorPositionInZero()
{
    m_indicator = 0;
    IShellServices::shared().DIIProcessIndicatorPositionCollect(this);
}

void IBackup::setFullSize(double size)
{
    m_fullSize = size;
    m_processedUnits = 0;
    m_postedPercent = 0;
    m_indicator = 0;
}

void IBackup::clearAnalitics()
{
    m_analitics = Analitics();
    m_procFolders = 0;
    m_procFiles = 0;
    m_procSize = 0;
}

void IBackup::setBeginningDateToNow()
{
    m_analitics.beginingDate = Clock::current().now();
}

void IBackup::setEndingDateToNow()
{
    m_analitics.endingDate = Clock::current().now();
}

IBackup::Analitics IBackup::processAnalitics() const
{
    Analitics a = m_analitics;
    a.warningCount += quint64(m_warnLines.load());
    a.procFolderCount = m_procFolders.load();
    a.procFileCount = m_procFiles.load();
    a.procSize = m_procSize.load();
    return a;
}

void IBackup::printAnalitics()
{
    auto tr = [](const char* text) { return QCoreApplication::translate("Localizable", text); };
    setEndingDateToNow();
    const Analitics a = processAnalitics();
    auto line = [this](const QString& text) { processMessage(text, 0x4741, this); };
    line(QStringLiteral("%1 %2:").arg(name(), tr("backup summary")));
    if (a.warningCount > 0)
        line(QStringLiteral("%1: %2").arg(tr("Warnings")).arg(a.warningCount));
    const qint64 seconds = a.beginingDate.isValid() && a.endingDate.isValid()
        ? std::max<qint64>(0, a.beginingDate.secsTo(a.endingDate))
        : 0;
    const QString duration = seconds >= 3600
        ? tr("%1 hour %2 min %3 sec").arg(seconds / 3600).arg(seconds % 3600 / 60).arg(seconds % 60)
        : tr("%1 min %2 sec").arg(seconds / 60).arg(seconds % 60);
    line(QStringLiteral("%1: %2").arg(tr("Duration"), duration));
    line(QStringLiteral("%1: %2 (%3) - %4 %5, %6 %7")
             .arg(tr("Archived items"))
             .arg(a.procFolderCount + a.procFileCount)
             .arg(ICommon::doubleSizeConvertToReadableString(double(a.procSize)))
             .arg(a.procFolderCount)
             .arg(tr("folders"))
             .arg(a.procFileCount)
             .arg(tr("files")));
    const QString result = ICommon::doubleSizeConvertToReadableString(double(a.resultSize));
    if (m_backup && m_backup->useCompression() && a.procSize > 0)
        line(QStringLiteral("%1: %2 (%3 % %4)")
                 .arg(tr("Resulting size"), result)
                 .arg(double(a.resultSize) * 100.0 / double(a.procSize), 0, 'f', 2)
                 .arg(tr("of original size")));
    else
        line(QStringLiteral("%1: %2").arg(tr("Resulting size"), result));
    if (m_backup && m_backup->backupMethod() == BackupMethodIncremental) {
        const quint64 total = m_backup->computeTotalFileCount();
        line(QStringLiteral("%1: %2% (%3 %4 %5)")
                 .arg(tr("Modified or added files"))
                 .arg(total ? double(a.procFileCount) * 100.0 / double(total) : 0.0, 0, 'f', 2)
                 .arg(a.procFileCount)
                 .arg(tr("out of"))
                 .arg(total));
    }
    clearAnalitics();
}
