#include "RecordingShellServices.h"

#include "projects/IProject.h"
#include "projects/QVConnectMessage.h"

#include <QMutexLocker>

QList<RecordingShellServices::Message> RecordingShellServices::messages() const
{
    QMutexLocker lock(&m_mutex);
    return m_messages;
}

QList<RecordingShellServices::TextInfo> RecordingShellServices::textInfos() const
{
    QMutexLocker lock(&m_mutex);
    return m_textInfos;
}

QStringList RecordingShellServices::calls() const
{
    QMutexLocker lock(&m_mutex);
    return m_calls;
}

void RecordingShellServices::clear()
{
    QMutexLocker lock(&m_mutex);
    m_messages.clear();
    m_textInfos.clear();
    m_calls.clear();
}

void RecordingShellServices::record(const QString& call)
{
    QMutexLocker lock(&m_mutex);
    m_calls.append(call);
}

void RecordingShellServices::processMessage(const LogText& text, quint64 options, QObject* sender)
{
    QMutexLocker lock(&m_mutex);
    m_messages.append({ text.isNull() ? QByteArray() : text.toUtf8(), options, sender });
}

void RecordingShellServices::sendTextInfo(const QString& text, qint32 type, quint8 target, QObject* sender)
{
    QMutexLocker lock(&m_mutex);
    m_textInfos.append({ text, type, target, sender });
}

void RecordingShellServices::eventChangedProjectStatus(IProject* project)
{
    record(QStringLiteral("eventChangedProjectStatus:") + (project ? project->name() : QString()));
}

void RecordingShellServices::DIIProcessIndicatorPositionCollect(IProject* project)
{
    record(QStringLiteral("DIIProcessIndicatorPositionCollect:") + (project ? project->name() : QString()));
}

bool RecordingShellServices::burnDisc(int volume)
{
    record(QStringLiteral("burnDisc:") + QString::number(volume));
    return burnResult;
}

bool RecordingShellServices::toastDisc(int volume)
{
    record(QStringLiteral("toastDisc:") + QString::number(volume));
    return burnResult;
}

void RecordingShellServices::validateDeviceMount(const QString& devicePath)
{
    record(QStringLiteral("validateDeviceMount:") + devicePath);
}

void RecordingShellServices::connectMessageProcess(const QVConnectMessage& message)
{
    record(QStringLiteral("connectMessageProcess:") + QString::number(message.type()));
}

void RecordingShellServices::SSD_OkButton(const std::optional<QDateTime>& resumeDate)
{
    record(QStringLiteral("SSD_OkButton:")
        + (resumeDate ? resumeDate->toString(Qt::ISODate) : QStringLiteral("unlimited")));
}

void RecordingShellServices::saveProjectOrderListToDict(QVariantList& list)
{
    record(QStringLiteral("saveProjectOrderListToDict"));
    list.append(projectOrder);
}

void RecordingShellServices::setSandboxFirstNotNormalMigration(bool flag)
{
    record(QStringLiteral("setSandboxFirstNotNormalMigration:") + (flag ? u'1' : u'0'));
}
