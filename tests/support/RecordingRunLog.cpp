#include "RecordingRunLog.h"

#include <QMutexLocker>

void RecordingRunLog::traceToLog(const QByteArray& text)
{
    if (text.isNull())
        return;
    QMutexLocker lock(&m_mutex);
    m_texts.append(text);
}

QString RecordingRunLog::tempFileName()
{
    QMutexLocker lock(&m_mutex);
    return tempNames.isEmpty() ? QString() : tempNames.takeFirst();
}

QByteArrayList RecordingRunLog::texts() const
{
    QMutexLocker lock(&m_mutex);
    return m_texts;
}

QByteArray RecordingRunLog::joined() const
{
    QMutexLocker lock(&m_mutex);
    return m_texts.join();
}

void RecordingRunLog::clear()
{
    QMutexLocker lock(&m_mutex);
    m_texts.clear();
}
