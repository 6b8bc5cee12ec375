#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// What every kind of rsync run needs to pass excluded names to rsync: escaping a rule, the
// exclusion file in the process's private temporary folder, and the name-pattern arguments.
//
// rsync reads a backslash as an escape only in a rule that holds "*", "?" or "[", so only such
// rules are escaped; "{" and "}" are never special. A rule holding a line end cannot be a line of
// the file: its callers pass it as its own "--exclude=" argument.
class RsyncExcludes
{
public:
    // Escapes \ * ? [ ] with a backslash when the rule holds "*", "?" or "["; else unchanged.
    static QByteArray shieldRule(const QByteArray& rule);

    // Writes the lines, each followed by "\n", into a new file made with mkstemps
    // ("XXXXXX.custom.txt", mode 0600) in folder. Returns its path, null on failure (*error set).
    static QString writeFile(const QString& folder, const QList<QByteArray>& lines, QString* error = nullptr);

    // The "--exclude=" arguments of a name pattern: every "|" separates, leading blanks and CRs of
    // an entry go, empty entries are left out.
    static QStringList patternExcludeArguments(const QString& pattern);
};
