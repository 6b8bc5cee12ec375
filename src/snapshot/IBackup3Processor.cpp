#include "snapshot/IBackup3Processor.h"

#include "platform/AppPaths.h"
#include "platform/Clock.h"
#include "snapshot/IBackup3.h"
#include "snapshot/IBackup3Controller.h"
#include "utilities/LogOptions.h"

#include <QCoreApplication>
#include <QFileInfo>

namespace {

QString loc(const char* text)
{
    return QCoreApplication::translate("Localizable", text);
}

} // namespace

// The pass runner (user child or root shell) of the running pass.
class IBackup3Processor::PassRun
{
};

IBackup3Processor::IBackup3Processor()
    : IBackup3Processor(QString(), nullptr)
{ }

IBackup3Processor::IBackup3Processor(const QString& toolPath, Clock* clock)
    : m_clock(clock)
{
    m_parser.setSink(this);
    if (toolPath.isNull())
        _toolPath = testToolPath();
    else
        setToolPath(toolPath);
}

IBackup3Processor::~IBackup3Processor() = default;

QString IBackup3Processor::testToolPath()
{
    const QString path = AppPaths::resourcePath(QStringLiteral("rsync3"));
    const QFileInfo info(path);
    return info.isFile() && info.isExecutable() ? path : QString();
}

void IBackup3Processor::setToolPath(const QString& path)
{
    const QFileInfo info(path);
    _toolPath = info.isFile() && info.isExecutable() ? path : QString();
}

QDateTime IBackup3Processor::now() const
{
    return (m_clock ? *m_clock : Clock::current()).now();
}

void IBackup3Processor::processProject(const std::shared_ptr<IBackup3>& project)
{
    if (!project)
        return;
    project->setInProcess(false, IBackup3::OpIdle);
    project->setInState(IBackup3::OpIdle);
    project->setLastProcessFailed(true);
    m_lastVersionFolderName.clear();
    m_lastReportText = loc("Backup failed.");
    m_lastResultCode = wrcFailed;
    _processStatus = wesTerminateByUser;
}

bool IBackup3Processor::terminateProcess()
{
    return true;
}

bool IBackup3Processor::terminateProcessWithReason(int)
{
    return true;
}

void IBackup3Processor::preprocessFailed()
{
    _backup3.reset();
    IBackup3Controller::shared().eventProcessFinished(m_lastResultCode == wrcFailed ? wrcFailed : wrcSuccess);
}

bool IBackup3Processor::isRunning() const
{
    return false;
}

void IBackup3Processor::stopProcess() { }

quint64 IBackup3Processor::processErrorAccumulator() const
{
    return m_parser.processErrorAccumulator();
}

void IBackup3Processor::parserMessage(const LogText&, quint64) { }
void IBackup3Processor::parserProgress(double) { }
void IBackup3Processor::parserKillRequest() { }
