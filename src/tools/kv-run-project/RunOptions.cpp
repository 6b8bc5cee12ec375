#include "RunOptions.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <cmath>

QString RunOptions::usage()
{
    return QStringLiteral(
        "usage: kv-run-project --workspace DIR (--project NAME | --uuid UUID) [--scheduled]\n"
        "                      [--password-stdin] [--argv-out FILE] [--timeout S]\n"
        "Runs one snapshot-backup project of the workspace DIR and prints\n"
        "\"<code> <version folder or -> <status>\" as its last line.\n"
        "Exit codes: 0 a version was recorded (or a restore completed), 1 failed, 3 warnings,\n"
        "4 stopped by the user, 2 no run could be started.\n"
        "       kv-run-project --workspace DIR --kit archive (--project NAME | --uuid UUID) --describe\n"
        "Prints a stored archive project (record rows, archive list, items) and writes nothing;\n"
        "last line \"0 <file> described\", or \"1 <file> <why>\" when its files do not load.\n"
        "--kit snapshot (the default) runs a snapshot-backup project as above.\n"
        "       kv-run-project --workspace DIR --kit archive --new NAME --source PATH [--source PATH]...\n"
        "                      (--dest DIR | --dest-disc) [--method full|incr|vers] [--compress]\n"
        "                      [--cipher bf|des3|aes128|aes256] [--split-kb N]\n"
        "       kv-run-project --workspace DIR --kit archive (--project NAME | --uuid UUID)\n"
        "                      [--scheduled] [--timeout S] [--argv-out FILE] [--password-stdin]\n"
        "                      [--admin-password-stdin]\n"
        "                      [--restore [--archive NAME] [--item PATH]... (--to DIR | --in-place) "
        "[--single]\n"
        "                                 [--volume-dir DIR]... [--skip-missing]]\n"
        "Creates an archive project, or builds or restores one; last line \"<code> <archive or -> "
        "<status>\".\n"
        "       kv-run-project --workspace DIR --kit archive (--schedule-check | --mount-check PATH)\n"
        "                      [--now ISO] [--timeout S] [--argv-out FILE] [--password-stdin] [--burn-drive "
        "D]...\n"
        "Runs the archive projects due now (or bound to the mounted volume) one after another; one\n"
        "\"run\" line per run, then \"<worst code> <count> runs\" or \"5 0 nothing due\".\n"
        "--new also takes --schedule HH:MM and --start-on-mount; --burn-drive stdio:PATH is the\n"
        "drive list of this run.\n"
        "       kv-run-project --workspace DIR --kit sync|clone --project NAME [--scheduled]\n"
        "                      [--timeout S] [--now ISO] [--argv-out FILE] [--password-stdin]\n"
        "                      [--admin-password-stdin] [--confirm]\n"
        "Runs one synchronization (or clone) project of DIR/Syncs (DIR/Clones); last line\n"
        "\"<code> <device or -> <status>\"; --confirm answers a clone's start warning.\n"
        "       kv-run-project --workspace DIR --kit sync|clone (--schedule-check | --mount-check PATH)\n"
        "                      [--now ISO] [--timeout S] [--argv-out FILE] [--admin-password-stdin]\n"
        "Runs what the schedule (or the mount of PATH) makes due in both lists, one line\n"
        "\"run<TAB><code><TAB><device or -><TAB><kit><TAB><name><TAB><status>\" per run, then\n"
        "\"<worst code> <count> runs\", or \"5 0 nothing due\".\n"
        "       kv-run-project --workspace DIR --kit sync --project NAME --analyze [--tree-out FILE]\n"
        "                      [--program-out FILE] [--timeout S] [--argv-out FILE] [--admin-password-stdin]\n"
        "Analyses one synchronization project; last line \"<code> <nodes with results> <status>\".\n"
        "       kv-run-project --workspace DIR --kit clone --project NAME --check\n"
        "Judges the stored places of a clone as the pane does and starts nothing; \"verdict:\" and\n"
        "\"anchor:\" lines on stderr, last line \"0 - <verdict>\" (may start) or \"1 - <verdict>\".\n"
        "       kv-run-project --workspace DIR [--kit snapshot] (--project NAME | --uuid UUID)\n"
        "                      --restore [--version FOLDER] [--item PATH]... (--to DIR | --in-place)\n"
        "                      [--password-stdin] [--argv-out FILE] [--timeout S]\n"
        "       kv-run-project --workspace DIR [--kit snapshot] --restore --external FOLDER\n"
        "                      [--version FOLDER] [--item PATH]... (--to DIR | --in-place)\n"
        "                      [--argv-out FILE] [--timeout S]\n"
        "Restores a version of a snapshot-backup project (or of a project folder outside the list);\n"
        "last line \"<code> <version folder> <status>\".\n");
}

bool RunOptions::parse(const QStringList& arguments, RunOptions* options, QString* error)
{
    RunOptions o;
    bool haveWorkspace = false;
    bool haveTimeout = false;
    QStringList archiveOnly; // options of the archive kit that were given
    QStringList restoreOnly; // restore options the archive and snapshot kits share
    QStringList snapshotOnly; // restore options of the snapshot kit
    auto fail = [error](const QString& text) {
        *error = text;
        return false;
    };
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString arg = arguments.at(i);
        // "--name=value" and "--name value" are both accepted for options that take a value.
        QString name = arg;
        QString value;
        bool inlineValue = false;
        if (arg.startsWith(QLatin1String("--")) && arg.contains(QLatin1Char('='))) {
            const qsizetype eq = arg.indexOf(QLatin1Char('='));
            name = arg.left(eq);
            value = arg.mid(eq + 1);
            inlineValue = true;
        }
        auto takeValue = [&](QString* out) {
            if (inlineValue) {
                *out = value;
            } else {
                if (i + 1 >= arguments.size())
                    return false;
                *out = arguments.at(++i);
            }
            return true;
        };
        auto isValueOption = [](const QString& n) {
            return n == QLatin1String("--workspace") || n == QLatin1String("--project")
                || n == QLatin1String("--uuid") || n == QLatin1String("--argv-out")
                || n == QLatin1String("--timeout") || n == QLatin1String("--kit")
                || n == QLatin1String("--new") || n == QLatin1String("--source") || n == QLatin1String("--dest")
                || n == QLatin1String("--method") || n == QLatin1String("--cipher")
                || n == QLatin1String("--split-kb") || n == QLatin1String("--archive")
                || n == QLatin1String("--item") || n == QLatin1String("--to")
                || n == QLatin1String("--version") || n == QLatin1String("--external")
                || n == QLatin1String("--volume-dir")
                || n == QLatin1String("--mount-check") || n == QLatin1String("--now")
                || n == QLatin1String("--burn-drive") || n == QLatin1String("--schedule")
                || n == QLatin1String("--tree-out") || n == QLatin1String("--program-out");
        };
        if (inlineValue && !isValueOption(name))
            return fail(QStringLiteral("the option %1 takes no value").arg(name));

        if (name == QLatin1String("--workspace")) {
            if (haveWorkspace)
                return fail(QStringLiteral("--workspace is given twice"));
            if (!takeValue(&o.workspace) || o.workspace.isEmpty())
                return fail(QStringLiteral("--workspace needs a folder"));
            haveWorkspace = true;
        } else if (name == QLatin1String("--project")) {
            if (!o.projectName.isNull())
                return fail(QStringLiteral("--project is given twice"));
            if (!takeValue(&o.projectName) || o.projectName.isEmpty())
                return fail(QStringLiteral("--project needs a project name"));
        } else if (name == QLatin1String("--uuid")) {
            if (!o.projectUUID.isNull())
                return fail(QStringLiteral("--uuid is given twice"));
            if (!takeValue(&o.projectUUID) || o.projectUUID.isEmpty())
                return fail(QStringLiteral("--uuid needs a project identifier"));
        } else if (name == QLatin1String("--argv-out")) {
            if (!o.argvOut.isNull())
                return fail(QStringLiteral("--argv-out is given twice"));
            if (!takeValue(&o.argvOut) || o.argvOut.isEmpty())
                return fail(QStringLiteral("--argv-out needs a file"));
        } else if (name == QLatin1String("--timeout")) {
            QString text;
            if (haveTimeout)
                return fail(QStringLiteral("--timeout is given twice"));
            if (!takeValue(&text))
                return fail(QStringLiteral("--timeout needs a number of seconds"));
            bool ok = false;
            const double s = text.toDouble(&ok);
            if (!ok || !std::isfinite(s) || s <= 0 || s > 2e6)
                return fail(QStringLiteral(
                    "--timeout needs a positive number of seconds (at most 2000000), not \"%1\"")
                                .arg(text));
            o.timeoutSeconds = s;
            haveTimeout = true;
        } else if (name == QLatin1String("--kit")) {
            QString kit;
            if (!takeValue(&kit))
                return fail(QStringLiteral("--kit needs a kit name"));
            if (kit != QLatin1String("snapshot") && kit != QLatin1String("archive")
                && kit != QLatin1String("sync") && kit != QLatin1String("clone"))
                return fail(QStringLiteral("unknown kit \"%1\" (snapshot, archive, sync or clone)").arg(kit));
            o.kit = kit;
        } else if (name == QLatin1String("--new")) {
            if (!takeValue(&o.newName) || o.newName.isEmpty())
                return fail(QStringLiteral("--new needs a project name"));
            archiveOnly << name;
        } else if (name == QLatin1String("--source")) {
            QString v;
            if (!takeValue(&v) || v.isEmpty())
                return fail(QStringLiteral("--source needs a path"));
            o.sources << QFileInfo(v).absoluteFilePath();
            archiveOnly << name;
        } else if (name == QLatin1String("--dest")) {
            if (!takeValue(&o.dest) || o.dest.isEmpty())
                return fail(QStringLiteral("--dest needs a folder"));
            o.dest = QFileInfo(o.dest).absoluteFilePath();
            archiveOnly << name;
        } else if (name == QLatin1String("--method")) {
            if (!takeValue(&o.method)
                || !QStringList { QStringLiteral("full"), QStringLiteral("incr"), QStringLiteral("vers") }
                        .contains(o.method))
                return fail(QStringLiteral("--method needs full, incr or vers"));
            archiveOnly << name;
        } else if (name == QLatin1String("--cipher")) {
            if (!takeValue(&o.cipher)
                || !QStringList { QStringLiteral("bf"), QStringLiteral("des3"), QStringLiteral("aes128"),
                    QStringLiteral("aes256") }
                        .contains(o.cipher))
                return fail(QStringLiteral("--cipher needs bf, des3, aes128 or aes256"));
            archiveOnly << name;
        } else if (name == QLatin1String("--split-kb")) {
            QString v;
            bool ok = false;
            if (!takeValue(&v) || (o.splitKb = v.toLongLong(&ok), !ok) || o.splitKb < 0)
                return fail(QStringLiteral("--split-kb needs a number of kilobytes"));
            archiveOnly << name;
        } else if (name == QLatin1String("--dest-disc")) {
            o.destDisc = true;
            archiveOnly << name;
        } else if (name == QLatin1String("--compress")) {
            o.compress = true;
            archiveOnly << name;
        } else if (name == QLatin1String("--admin")) {
            o.admin = true;
            archiveOnly << name;
        } else if (name == QLatin1String("--restore")) {
            o.restore = true;
            restoreOnly << name;
        } else if (name == QLatin1String("--archive")) {
            if (!takeValue(&o.restoreArchive) || o.restoreArchive.isEmpty())
                return fail(QStringLiteral("--archive needs an archive file name"));
            archiveOnly << name;
        } else if (name == QLatin1String("--item")) {
            QString v;
            if (!takeValue(&v) || v.isEmpty())
                return fail(QStringLiteral("--item needs a path"));
            o.restoreItems << v;
            restoreOnly << name;
        } else if (name == QLatin1String("--to")) {
            if (!takeValue(&o.restoreTo) || o.restoreTo.isEmpty())
                return fail(QStringLiteral("--to needs a folder"));
            o.restoreTo = QFileInfo(o.restoreTo).absoluteFilePath();
            restoreOnly << name;
        } else if (name == QLatin1String("--in-place")) {
            o.inPlace = true;
            restoreOnly << name;
        } else if (name == QLatin1String("--version")) {
            if (!takeValue(&o.restoreVersion) || o.restoreVersion.isEmpty())
                return fail(QStringLiteral("--version needs a version folder name"));
            snapshotOnly << name;
        } else if (name == QLatin1String("--external")) {
            if (!takeValue(&o.external) || o.external.isEmpty())
                return fail(QStringLiteral("--external needs a project folder"));
            o.external = QFileInfo(o.external).absoluteFilePath();
            snapshotOnly << name;
        } else if (name == QLatin1String("--volume-dir")) {
            QString v;
            if (!takeValue(&v) || v.isEmpty())
                return fail(QStringLiteral("--volume-dir needs a folder"));
            o.volumeDirs << QFileInfo(v).absoluteFilePath();
            archiveOnly << name;
        } else if (name == QLatin1String("--skip-missing")) {
            o.skipMissing = true;
            archiveOnly << name;
        } else if (name == QLatin1String("--single")) {
            o.single = true;
            archiveOnly << name;
        } else if (name == QLatin1String("--burn-drive")) {
            QString v;
            if (!takeValue(&v) || !v.startsWith(QLatin1String("stdio:")) || v.size() <= 6)
                return fail(QStringLiteral("--burn-drive needs a stdio: drive"));
            o.burnDrives << v;
            archiveOnly << name;
        } else if (name == QLatin1String("--schedule")) {
            const QTime t = takeValue(&o.scheduleTime)
                ? QTime::fromString(o.scheduleTime, QStringLiteral("HH:mm"))
                : QTime();
            if (!t.isValid())
                return fail(QStringLiteral("--schedule needs a time HH:MM"));
            archiveOnly << name;
        } else if (name == QLatin1String("--start-on-mount")) {
            o.startOnMount = true;
            archiveOnly << name;
        } else if (name == QLatin1String("--describe")) {
            o.describe = true;
        } else if (name == QLatin1String("--analyze")) {
            o.analyze = true;
        } else if (name == QLatin1String("--tree-out")) {
            if (!takeValue(&o.treeOut) || o.treeOut.isEmpty())
                return fail(QStringLiteral("--tree-out needs a file"));
        } else if (name == QLatin1String("--program-out")) {
            if (!takeValue(&o.programOut) || o.programOut.isEmpty())
                return fail(QStringLiteral("--program-out needs a file"));
        } else if (name == QLatin1String("--confirm")) {
            o.confirm = true;
        } else if (name == QLatin1String("--check")) {
            o.check = true;
        } else if (name == QLatin1String("--scheduled")) {
            o.scheduled = true;
        } else if (name == QLatin1String("--password-stdin")) {
            o.passwordStdin = true;
        } else if (name == QLatin1String("--admin-password-stdin")) {
            o.adminPasswordStdin = true;
        } else if (name == QLatin1String("--schedule-check")) {
            o.scheduleCheck = true;
        } else if (name == QLatin1String("--mount-check")) {
            if (!takeValue(&o.mountCheck) || o.mountCheck.isEmpty())
                return fail(QStringLiteral("--mount-check needs a mount point"));
        } else if (name == QLatin1String("--now")) {
            QString text;
            if (!takeValue(&text))
                return fail(QStringLiteral("--now needs a date and time"));
            o.now = QDateTime::fromString(text, Qt::ISODate);
            if (!o.now.isValid())
                return fail(QStringLiteral("--now needs an ISO date and time, not \"%1\"").arg(text));
        } else {
            return fail(QStringLiteral("unknown argument \"%1\"").arg(arg));
        }
    }
    if (!haveWorkspace)
        return fail(QStringLiteral("--workspace is missing"));
    // Synchronization and clone projects have no identifier; only a clone has a start warning.
    const bool syncKit = o.kit == QLatin1String("sync") || o.kit == QLatin1String("clone");
    if (syncKit && !o.projectUUID.isNull())
        return fail(QStringLiteral("--uuid: %1 projects have no identifier, give --project").arg(o.kit));
    if ((o.analyze || !o.treeOut.isNull()) && o.kit != QLatin1String("sync"))
        return fail(QStringLiteral("--analyze and --tree-out need --kit sync"));
    if (!o.treeOut.isNull() && !o.analyze)
        return fail(QStringLiteral("--tree-out needs --analyze"));
    if (o.confirm && o.kit != QLatin1String("clone"))
        return fail(QStringLiteral("--confirm needs --kit clone"));
    if (o.check && (o.kit != QLatin1String("clone") || o.projectName.isNull()))
        return fail(QStringLiteral("--check needs --kit clone and --project"));
    if (o.check && (o.scheduled || o.confirm || o.scheduleCheck || !o.mountCheck.isNull()))
        return fail(QStringLiteral("--check takes no --scheduled, --confirm, --schedule-check or --mount-check"));
    const bool triggerCheck = o.scheduleCheck || !o.mountCheck.isNull();
    if ((triggerCheck || o.now.isValid()) && o.kit == QLatin1String("snapshot"))
        return fail(QStringLiteral("--schedule-check, --mount-check and --now need --kit archive, sync or clone"));
    if (triggerCheck) {
        // A check walks the kit's lists; it names no project and starts nothing by hand.
        if (o.scheduleCheck && !o.mountCheck.isNull())
            return fail(QStringLiteral("give one of --schedule-check and --mount-check"));
        if (!o.projectName.isNull() || !o.projectUUID.isNull() || !o.newName.isNull() || o.restore
            || o.describe || o.scheduled || o.confirm)
            return fail(QStringLiteral("--schedule-check and --mount-check take no --project, --uuid, --new, "
                                       "--restore, --scheduled or --confirm"));
        if (syncKit)
            o.projectName = QStringLiteral("-");
    }
    if (syncKit && o.describe)
        return fail(QStringLiteral("--describe needs --kit archive"));
    if (o.kit != QLatin1String("archive") && !archiveOnly.isEmpty())
        return fail(QStringLiteral("%1 needs --kit archive").arg(archiveOnly.first()));
    if (syncKit && !restoreOnly.isEmpty())
        return fail(QStringLiteral("%1 needs --kit archive or snapshot").arg(restoreOnly.first()));
    if (o.kit != QLatin1String("snapshot") && !snapshotOnly.isEmpty())
        return fail(QStringLiteral("%1 needs --kit snapshot").arg(snapshotOnly.first()));
    if (o.kit == QLatin1String("snapshot")) {
        if (!snapshotOnly.isEmpty() && !o.restore)
            return fail(QStringLiteral("%1 needs --restore").arg(snapshotOnly.first()));
        if (!o.external.isNull()
            && (!o.projectName.isNull() || !o.projectUUID.isNull() || o.scheduled || o.passwordStdin))
            return fail(
                QStringLiteral("--external takes no --project, --uuid, --scheduled or --password-stdin"));
        if (o.restore && o.scheduled)
            return fail(QStringLiteral("--restore takes no --scheduled"));
        // Nothing is restored in place by accident: the target is always named.
        if (o.restore && !o.restoreTo.isNull() && o.inPlace)
            return fail(QStringLiteral("give exactly one of --to DIR and --in-place"));
    }
    if ((!o.scheduleTime.isNull() || o.startOnMount) && o.newName.isNull())
        return fail(QStringLiteral("--schedule and --start-on-mount need --new"));
    if (triggerCheck) {
        if (!o.sources.isEmpty() || !o.dest.isEmpty() || o.compress || !o.cipher.isEmpty() || o.splitKb
            || o.admin)
            return fail(QStringLiteral("project settings are given only with --new"));
        if (!o.restoreArchive.isNull() || !o.restoreItems.isEmpty() || !o.restoreTo.isNull() || o.inPlace
            || o.single)
            return fail(QStringLiteral("restore options need --restore"));
    } else if (!o.newName.isNull()) {
        if (!o.projectName.isNull() || !o.projectUUID.isNull() || o.restore || o.describe)
            return fail(QStringLiteral("--new takes no --project, --uuid, --restore or --describe"));
        if (o.sources.isEmpty())
            return fail(QStringLiteral("--new needs at least one --source"));
        if (o.dest.isEmpty() == !o.destDisc)
            return fail(QStringLiteral("--new needs one of --dest and --dest-disc"));
    } else {
        if (o.external.isNull() && o.projectName.isNull() == o.projectUUID.isNull())
            return fail(QStringLiteral("give exactly one of --project and --uuid"));
        if (!o.sources.isEmpty() || !o.dest.isEmpty() || o.destDisc || o.compress || !o.cipher.isEmpty()
            || o.splitKb || o.admin)
            return fail(QStringLiteral("project settings are given only with --new"));
        if (!o.restore
            && (!o.restoreArchive.isNull() || !o.restoreItems.isEmpty() || !o.restoreTo.isNull() || o.inPlace
                || o.single || !o.volumeDirs.isEmpty() || o.skipMissing))
            return fail(QStringLiteral("restore options need --restore"));
        if (o.restore && o.restoreTo.isNull() && !o.inPlace)
            return fail(QStringLiteral("--restore needs --to DIR or --in-place"));
    }
    if (o.kit == QLatin1String("snapshot") && o.describe)
        return fail(QStringLiteral("--describe needs --kit archive"));
    o.workspace = QDir::cleanPath(QFileInfo(o.workspace).absoluteFilePath());
    if (!o.argvOut.isNull())
        o.argvOut = QFileInfo(o.argvOut).absoluteFilePath();
    *options = o;
    return true;
}
