#pragma once

#include "RunOptions.h"

#include <QString>

// "--kit archive --describe": finds one stored archive project of the workspace by name or
// UUID, loads it and prints its record, archive list and tree, writing nothing at all.
class ArchiveDescribe
{
public:
    explicit ArchiveDescribe(const RunOptions& options);
    // Prints the description on stdout; 0 described, 1 the project's files do not load,
    // 2 no or several matching projects.
    int exec();
    QString lastLine() const { return m_last; }

    // A text as the description prints it: "\\", "\t", "\n", "\xHH" for control bytes and
    // bytes that are not UTF-8; "-" for nil or empty.
    static QByteArray escape(const QString& text);

private:
    RunOptions m_options;
    QString m_last;
};
