#include "shell/LogLineFormatter.h"

#include "utilities/ICommon.h"
#include "utilities/LogOptions.h"

#include <QCoreApplication>

QString LogLineFormatter::notificationTitle(const QString& projectName)
{
    if (projectName.isNull())
        return QCoreApplication::translate("Localizable", "New message");
    return QCoreApplication::translate("Localizable", "Project \"%1\"").arg(projectName);
}

SinkLines LogLineFormatter::formatMessage(const LogText& text, quint64 options, bool senderIsProject,
    const QByteArray& name, const QByteArray& tag, const QDateTime& now)
{
    SinkLines out;
    if (!(options & (LogOption::Utf8 | LogOption::String)) || text.isNull())
        return out;
    out.taken = true;

    QByteArray body = text.toUtf8();
    // One final full stop goes; two or three stay (an ellipsis).
    if (body.endsWith('.') && !body.endsWith(".."))
        body.chop(1);

    if (options & LogOption::Notify) {
        out.notify = true;
        out.notificationTitle = notificationTitle(senderIsProject ? QString::fromUtf8(name) : QString());
        out.notificationText = QString::fromUtf8(body);
    }

    if (options & LogOption::Banner) {
        out.line = ">>>>>>>>>>>   " + body + '\n';
    } else {
        QByteArray line;
        line.reserve(body.size() + name.size() + tag.size() + 32);
        if (options & LogOption::Tab)
            line += '\t';
        if (options & LogOption::Time)
            line += ICommon::generalUTF8StringFromDateTime(now);
        if (senderIsProject && (options & (LogOption::Window | LogOption::ProjectName)))
            line += '"' + name + "\" ";
        if (senderIsProject && (options & LogOption::RunTag))
            line += tag;
        line += body;
        line += '\n';
        out.line = line;
    }
    out.toWindow = (options & LogOption::Window) && !out.line.isEmpty();
    out.blankLineFirst = options & LogOption::BlankLineFirst;
    return out;
}

RouterLines LogLineFormatter::formatTextInfo(const QString& text, qint32 type, quint8 target,
    bool senderIsArchive, const QString& archiveName, bool isCurrentArchive, const QDateTime& now)
{
    RouterLines out;
    if (target & tpMessage) {
        out.notify = true;
        out.notificationTitle = notificationTitle(senderIsArchive ? archiveName : QString());
        out.notificationText = text;
    }
    if (type == 0 && !(target & tpStatus)) {
        out.toWindow = true;
        out.windowLine = QStringLiteral("\n");
        out.toRunLog = true;
        out.runLogLine = QByteArray("\n");
        return out;
    }

    const QString body = text.isEmpty() ? QString() : text;
    const QString date = (target & tpTime) ? u' ' + ICommon::generalStringFromDateTime(now) : QString();
    const QString namePrefix
        = senderIsArchive && !archiveName.isNull() ? u'"' + archiveName + QStringLiteral("\" ") : QString();

    if ((target & tpStatus) && (!senderIsArchive || isCurrentArchive)) {
        out.setsStatus = true;
        out.status = body;
    }

    QString line = body;
    if (!line.isEmpty() && !line.endsWith(u'\n'))
        line += u'\n';

    if (target & tpLog) {
        out.toWindow = true;
        if (target & tpSpace)
            out.windowLine = line;
        else if (target & tpTime)
            out.windowLine = date + u' ' + QString() + u' ' + namePrefix + QStringLiteral(" -- ") + line;
        else
            out.windowLine = namePrefix + QStringLiteral(" -- ") + line;
    }

    if (type == 0 || type == 5)
        return out;

    if (!line.isEmpty()) {
        out.toRunLog = true;
        out.runLogLine = line.toUtf8();
    }
    return out;
}

QString LogLineFormatter::statusText(const QString& text)
{
    if (text.isNull())
        return QStringLiteral("");
    if (text.endsWith(u'.') && !text.endsWith(QLatin1String("...")))
        return text.chopped(1);
    return text;
}
