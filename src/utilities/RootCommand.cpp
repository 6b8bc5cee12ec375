#include "RootCommand.h"

#include "platform/MainThread.h"
#include "platform/Subprocess.h"

#include <QCoreApplication>
#include <memory>
#include <thread>
#include <unistd.h>

namespace RootCommand {

namespace {

QString resultError(const Subprocess::Result& result)
{
    QString text = QString::fromUtf8(result.err + result.out).trimmed();
    if (text.isEmpty())
        text = result.error;
    if (text.isEmpty())
        text = result.signal ? QStringLiteral("ended by signal %1").arg(result.signal)
                             : QStringLiteral("exit status %1").arg(result.exitCode);
    return text;
}

bool canRunAsRoot(QString* error)
{
    if (::geteuid() == 0)
        return true;
    if (error)
        *error = QCoreApplication::translate("Localizable", "There is no way to get administrator rights");
    return false;
}

Subprocess::Options optionsFor(const QStringList& argv)
{
    Subprocess::Options options;
    options.program = argv.value(0);
    options.arguments = argv.mid(1);
    return options;
}

} // namespace

bool run(const QStringList& argv, QString* error)
{
    if (argv.isEmpty() || !canRunAsRoot(error))
        return false;
    const Subprocess::Result result = Subprocess::run(optionsFor(argv));
    if (result.succeeded())
        return true;
    if (error)
        *error = resultError(result);
    return false;
}

void start(const QStringList& argv, std::function<void(bool ok, const QString& error)> done)
{
    QString error;
    if (argv.isEmpty() || !canRunAsRoot(&error)) {
        if (done)
            runOnMain([done, error] { done(false, error); });
        return;
    }
    // The waiting thread owns the child: it is reaped there and the result goes to the main thread.
    std::thread([options = optionsFor(argv), done] {
        const Subprocess::Result result = Subprocess::run(options);
        const bool ok = result.succeeded();
        const QString text = ok ? QString() : resultError(result);
        if (done)
            runOnMain([done, ok, text] { done(ok, text); });
    }).detach();
}

} // namespace RootCommand
