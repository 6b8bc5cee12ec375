#pragma once

#include <QByteArray>
#include <QMutex>
#include <QString>

// The last status text of a project, as UTF-8 of at most MaxBytes bytes, cut at the end of the
// last whole character. Run texts arrive from reader threads while the interface reads it on the
// main thread: every access takes the lock.
class ProjectStatusText
{
public:
    static constexpr int MaxBytes = 2046;

    void set(const QByteArray& utf8);
    QString text() const;
    QByteArray utf8() const;
    // Cuts UTF-8 text to at most maxBytes, never inside a character.
    static QByteArray cut(const QByteArray& utf8, int maxBytes = MaxBytes);

private:
    mutable QMutex m_mutex;
    QByteArray m_text;
};
