#include "RunOptions.h"

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
        "--kit snapshot (the default) runs a snapshot-backup project as above.\n");
}

bool RunOptions::parse(const QStringList& arguments, RunOptions* options, QString* error)
{
    RunOptions o;
    bool haveWorkspace = false;
    bool haveTimeout = false;
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
                || n == QLatin1String("--timeout") || n == QLatin1String("--kit");
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
            if (kit != QLatin1String("snapshot") && kit != QLatin1String("archive"))
                return fail(QStringLiteral("unknown kit \"%1\" (snapshot or archive)").arg(kit));
            o.kit = kit;
        } else if (name == QLatin1String("--describe")) {
            o.describe = true;
        } else if (name == QLatin1String("--scheduled")) {
            o.scheduled = true;
        } else if (name == QLatin1String("--password-stdin")) {
            o.passwordStdin = true;
        } else {
            return fail(QStringLiteral("unknown argument \"%1\"").arg(arg));
        }
    }
    if (!haveWorkspace)
        return fail(QStringLiteral("--workspace is missing"));
    if (o.projectName.isNull() == o.projectUUID.isNull())
        return fail(QStringLiteral("give exactly one of --project and --uuid"));
    if (o.kit == QLatin1String("archive") && !o.describe)
        return fail(QStringLiteral("the archive kit needs --describe"));
    if (o.kit == QLatin1String("snapshot") && o.describe)
        return fail(QStringLiteral("--describe needs --kit archive"));
    o.workspace = QDir::cleanPath(QFileInfo(o.workspace).absoluteFilePath());
    if (!o.argvOut.isNull())
        o.argvOut = QFileInfo(o.argvOut).absoluteFilePath();
    *options = o;
    return true;
}
