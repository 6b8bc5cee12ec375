#include "DriverShellServices.h"

#include "archive/IBackup.h"
#include "platform/NameCodec.h"

#include <cstdio>

DriverShellServices::DriverShellServices()
{
    m_sink.setLogWindow(&m_window);
    m_sink.setNotifier(&m_notifier);
}

DriverShellServices::~DriverShellServices()
{
    m_sink.setLogWindow(nullptr);
}

void DriverShellServices::processMessage(const LogText& text, quint64 options, QObject* sender)
{
    m_sink.processMessage(text, options, sender);
}

void DriverShellServices::sendTextInfo(const QString& text, qint32 type, quint8 target, QObject* sender)
{
    m_sink.sendTextInfo(text, type, target, sender);
}

void DriverShellServices::StderrWindow::appendLog(const QString& text)
{
    // Names from disk keep their original bytes on the way out.
    QByteArray bytes = NameCodec::encode(text);
    if (!bytes.endsWith('\n'))
        bytes.append('\n');
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    std::fflush(stderr);
}

void DriverShellServices::qv3CatFileRequestProcess()
{
    if (m_archive)
        m_archive->sendFileNameToQV3Cat();
}

void DriverShellServices::qv3CatFileErrorProcess(const QString& path)
{
    if (m_archive)
        m_archive->qv3CatFileError(path);
}
