#pragma once

#include <QByteArray>
#include <QString>
#include <string>

// The text handed to a log sink: either a string object or UTF-8 bytes, as the caller has it.
// The option bits (LogOption::String / LogOption::Utf8) say whether the sink takes it at all;
// either form converts to the other.
class LogText
{
public:
    LogText() = default;
    LogText(const QString& text)
        : m_string(text)
        , m_isBytes(false)
    { }
    LogText(const char* utf8)
        : m_bytes(utf8)
        , m_isBytes(true)
        , m_isNull(utf8 == nullptr)
    { }
    LogText(const QByteArray& utf8)
        : m_bytes(utf8)
        , m_isBytes(true)
        , m_isNull(utf8.isNull())
    { }
    LogText(const std::string& utf8)
        : m_bytes(QByteArray::fromStdString(utf8))
        , m_isBytes(true)
        , m_isNull(false)
    { }

    bool isNull() const { return m_isBytes ? m_isNull : m_string.isNull(); }
    QByteArray toUtf8() const { return m_isBytes ? m_bytes : m_string.toUtf8(); }
    QString toString() const { return m_isBytes ? QString::fromUtf8(m_bytes) : m_string; }

private:
    QString m_string;
    QByteArray m_bytes;
    bool m_isBytes = false;
    bool m_isNull = true;
};
