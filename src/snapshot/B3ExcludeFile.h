#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// The user's excluded paths of a snapshot-backup project, turned into rsync exclude rules for one
// pass (one source).
//
// rsync is given the source without a trailing "/", so the transfer root is the source's parent
// and every rule is anchored there: "/<source folder name>/<path inside the source>" (for the
// source "/" the full path). An anchored rule matches exactly one place, and a name that starts
// with "#", ";", "+ " or "- " stays a literal name. Wildcard characters are escaped only in rules
// that hold "*", "?" or "[" (rsync reads a backslash as an escape only in such rules); "{" and "}"
// are never special. A name holding a newline cannot be one line of a file, so its rule goes on
// the command line as its own --exclude= argument. Escaping and the file are RsyncExcludes'.
class B3ExcludeFile
{
public:
    struct Rules
    {
        QList<QByteArray> lines; // for the --exclude-from file, without line ends
        QStringList arguments; // "--exclude=<rule>" for rules a file line cannot carry
        bool isEmpty() const { return lines.isEmpty() && arguments.isEmpty(); }
    };

    // The rules for the entries lying strictly inside source (at a "/" boundary; an entry equal to
    // the source writes nothing). extraPaths are added the same way (the project folder or image
    // bundle when it lies inside the source, so a backup never copies its own earlier versions).
    static Rules rulesForSource(const QString& source, const QStringList& excludePathList,
        const QStringList& extraPaths = QStringList());

    // The anchored rule of one path inside source; null when the path is not strictly inside it.
    static QByteArray ruleForPath(const QString& source, const QString& path);
};
