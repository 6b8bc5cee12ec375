#include "RootCommand.h"

#include "platform/MainThread.h"
#include "platform/PrivilegeBackend.h"
#include "platform/RootProcess.h"

#include <thread>

namespace RootCommand {

namespace {

QString resultError(const RootProcess::Result& result)
{
    QString text = QString::fromUtf8(result.out + result.err).trimmed();
    if (text.isEmpty())
        text = result.error;
    if (text.isEmpty())
        text = result.signal ? QStringLiteral("ended by signal %1").arg(result.signal)
                             : QStringLiteral("exit status %1").arg(result.exitCode);
    return text;
}

RootProcess::Result runNow(const QStringList& argv)
{
    PrivilegeBackend::RootCommand command;
    command.arguments = argv;
    return RootProcess::run(command);
}

} // namespace

bool run(const QStringList& argv, QString* error)
{
    if (argv.isEmpty())
        return false;
    const RootProcess::Result result = runNow(argv);
    if (result.succeeded())
        return true;
    if (error)
        *error = resultError(result);
    return false;
}

void start(const QStringList& argv, std::function<void(bool ok, const QString& error)> done)
{
    if (argv.isEmpty())
        return;
    // The waiting thread owns the child: it is reaped there and the result goes to the main thread.
    std::thread([argv, done] {
        const RootProcess::Result result = runNow(argv);
        const bool ok = result.succeeded();
        const QString text = ok ? QString() : resultError(result);
        if (done)
            runOnMain([done, ok, text] { done(ok, text); });
    }).detach();
}

} // namespace RootCommand
