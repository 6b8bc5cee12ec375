#include "projects/ProjectStatusText.h"

#include <QMutexLocker>

QByteArray ProjectStatusText::cut(const QByteArray& text, int maxBytes)
{
    if (text.size() <= maxBytes)
        return text;
    // Step back over continuation bytes to the lead byte of the character that would be cut.
    int end = maxBytes;
    while (end > 0 && (uchar(text.at(end)) & 0xC0) == 0x80)
        --end;
    return text.left(end);
}

void ProjectStatusText::set(const QByteArray& utf8)
{
    const QByteArray cutText = cut(utf8);
    QMutexLocker lock(&m_mutex);
    m_text = cutText;
}

QString ProjectStatusText::text() const
{
    QMutexLocker lock(&m_mutex);
    return QString::fromUtf8(m_text);
}

QByteArray ProjectStatusText::utf8() const
{
    QMutexLocker lock(&m_mutex);
    return m_text;
}
