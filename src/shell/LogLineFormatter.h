#pragma once

#include "utilities/LogText.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

// What the log sink does with one message, decided without side effects.
struct SinkLines
{
    bool taken = false; // false: the sink does nothing with the message
    QByteArray line; // the formatted line, ending in "\n"
    bool toWindow = false; // the line goes to the log window
    bool blankLineFirst = false; // an empty line goes to the run log before it
    bool notify = false;
    QString notificationTitle;
    QString notificationText;
};

// What the text router does with one text.
struct RouterLines
{
    bool notify = false;
    QString notificationTitle;
    QString notificationText;
    bool setsStatus = false;
    QString status; // as given; setStringToStatus() shapes it
    bool toWindow = false;
    QString windowLine;
    bool toRunLog = false;
    QByteArray runLogLine;
};

// The formatting of the log sink and the text router as pure functions: texts, option words,
// what is known of the sender and the time in, lines out. Every line is built in locals, so
// any number of threads may format at once.
class LogLineFormatter
{
public:
    // The log sink. senderIsProject: the sender is a project; name and tag are its UTF-8 name
    // and run tag.
    static SinkLines formatMessage(const LogText& text, quint64 options, bool senderIsProject,
        const QByteArray& name, const QByteArray& tag, const QDateTime& now);

    // The text router. Only the lower eight target bits reach it. senderIsArchive: the sender is
    // an archive project; archiveName is its name (null when it has no archive record);
    // isCurrentArchive: it is the project the main window shows.
    static RouterLines formatTextInfo(const QString& text, qint32 type, quint8 target, bool senderIsArchive,
        const QString& archiveName, bool isCurrentArchive, const QDateTime& now);

    // The status line's text: null shows an empty line; one final "." is dropped unless the
    // text ends with "...".
    static QString statusText(const QString& text);

    // The notification title for a project's name, or for no project (null name).
    static QString notificationTitle(const QString& projectName);
};
