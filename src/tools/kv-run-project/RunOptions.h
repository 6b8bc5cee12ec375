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
    // Archive kit: a new project, or a restore of the run project.
    QString newName;
    QStringList sources;
    QString dest;
    QString method = QStringLiteral("vers");
    bool compress = false;
    QString cipher;
    qint64 splitKb = 0;
    bool admin = false;
    bool restore = false;
    QString restoreArchive;
    QStringList restoreItems;
    QString restoreTo;
    bool inPlace = false;
    bool single = false;
    bool confirm = false; // clone kit: the start warning is confirmed
    // Archive kit: the container's triggers, the clock, the burn drives and the schedule of --new.
    bool scheduleCheck = false;
    QString mountCheck; // null: no mount check
    QString now; // "yyyy-MM-ddTHH:mm:ss", local; null: the system clock
    QStringList burnDrives;
    QString scheduleTime; // "HH:MM" of --new; null: no schedule
    bool startOnMount = false;

    // Parses the arguments after the program name; false and *error (one line) on a usage error.
    static bool parse(const QStringList& arguments, RunOptions* options, QString* error);
    static QString usage();
};
