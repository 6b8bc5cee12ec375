#pragma once

#include <QDateTime>
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
    bool adminPasswordStdin = false; // the administrator password is the first line of stdin
    QString argvOut;
    double timeoutSeconds = 0; // 0: none
    QString kit = QStringLiteral("snapshot"); // snapshot or archive
    bool describe = false; // archive kit: print the stored project, run nothing
    // Archive kit: a new project, or a restore of the run project.
    QString newName;
    QStringList sources;
    QString dest;
    bool destDisc = false; // an optical destination in place of --dest
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
    QStringList volumeDirs; // restores: folders searched for a missing archive or volume
    bool skipMissing = false; // restores: a missing archive is skipped where that is offered
    bool confirm = false; // clone kit: the start warning is confirmed
    bool check = false; // clone kit: the pre-flight verdict of the stored places, nothing started
    // Archive, synchronization and clone kits: one pass of the schedule check, or of the check
    // after the volume at mountCheck was mounted, at the time now (invalid: the real clock).
    bool scheduleCheck = false;
    QString mountCheck;
    QDateTime now;
    // Synchronization kit: an analysis instead of a run, its tree and the engine's programs written out.
    bool analyze = false;
    QString treeOut;
    QString programOut;
    // Snapshot kit restores: the version folder (default the newest) and a project folder
    // outside the list.
    QString restoreVersion;
    QString external;
    // Archive kit: the burn drives and the schedule of --new.
    QStringList burnDrives;
    QString scheduleTime; // "HH:MM" of --new; null: no schedule
    bool startOnMount = false;

    // Parses the arguments after the program name; false and *error (one line) on a usage error.
    static bool parse(const QStringList& arguments, RunOptions* options, QString* error);
    static QString usage();
};
