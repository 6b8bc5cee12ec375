#include "ArchiveDescribe.h"
#include "ProjectRun.h"
#include "RunOptions.h"
#include "platform/NameCodec.h"
#include "utilities/TempFolder.h"

#include <QCoreApplication>
#include <csignal>
#include <cstdio>

// kv-run-project: runs one snapshot-backup project of a workspace headless, for the end-to-end
// tests and the benchmark. See bench/README.md.
int main(int argc, char** argv)
{
    // Our own programs see EPIPE on writes to a closed pipe instead of dying.
    std::signal(SIGPIPE, SIG_IGN);
    ProjectRun::catchStopSignals();

    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Kelvane Pro 3"));

    // Paths keep their bytes: the arguments are decoded losslessly, not by the locale.
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << NameCodec::decode(QByteArray(argv[i]));

    auto printLast = [](const QString& line) {
        const QByteArray bytes = NameCodec::encode(line) + '\n';
        std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
        std::fflush(stdout);
    };

    RunOptions options;
    QString error;
    if (arguments.contains(QLatin1String("--help")) || arguments.contains(QLatin1String("-h"))) {
        std::fputs(qPrintable(RunOptions::usage()), stderr);
        printLast(QStringLiteral("2 - usage"));
        return 2;
    }
    if (!RunOptions::parse(arguments, &options, &error)) {
        std::fprintf(stderr, "kv-run-project: %s\n%s", NameCodec::encode(error).constData(),
            qPrintable(RunOptions::usage()));
        printLast(QStringLiteral("2 - ") + error);
        return 2;
    }

    int code = 2;
    QString last;
    if (options.kit == QLatin1String("archive")) {
        ArchiveDescribe describe(options);
        code = describe.exec();
        printLast(describe.lastLine());
        return code;
    }
    {
        ProjectRun run(options);
        code = run.exec();
        last = run.lastLine();
    }
    // This process's private temporary folder (exclude files of the passes) goes with it.
    TempFolder::removeAll();
    printLast(last);
    return code;
}
