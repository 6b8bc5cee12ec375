#pragma once

#include <QString>
#include <QStringList>

// The command line of kv-run-project.
struct RunOptions
{
    QString workspace; // absolute, without a trailing "/"
    QString projectName; // exactly one of name and UUID is set
    QString projectUUID;
    bool scheduled = false;
    bool passwordStdin = false;
    QString argvOut;
    double timeoutSeconds = 0; // 0: none
    QString kit = QStringLiteral("snapshot"); // snapshot or archive
    bool describe = false; // archive kit: print the stored project, run nothing

    // Parses the arguments after the program name; false and *error (one line) on a usage error.
    static bool parse(const QStringList& arguments, RunOptions* options, QString* error);
    static QString usage();
};
