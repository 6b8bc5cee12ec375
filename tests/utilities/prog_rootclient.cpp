// Runs as a test user and reaches root through the real privilege backend (sudo), so the tests can
// check the sudo paths end to end. The first line of standard input is the user's password.
//   rootclient validate
//   rootclient run OUTFILE ARGS...     runs ARGS as root, writes their output to OUTFILE
//   rootclient stop ARGS...            starts ARGS as root, stops them after a "stop" line
//   rootclient fileops DIR             every root file operation on odd names inside DIR
//   rootclient lookup RSYNC3           a root grandchild named rsync3, found below this process
//   rootclient keychain DIR            keychain set-up, then a new process makes DIR as root
//   rootclient keychain-second DIR     (that new process)
// Results are "key=value" lines on stdout.

#include "KeyringFixture.h"
#include "platform/AppPaths.h"
#include "platform/NameCodec.h"
#include "platform/PrivilegeBackend.h"
#include "platform/ProcessTable.h"
#include "utilities/IAuthorizer.h"
#include "utilities/ICommon.h"
#include "utilities/IProcController.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <cstdio>
#include <iostream>
#include <mutex>
#include <string>
#include <unistd.h>

namespace {

void say(const QString& line)
{
    std::cout << line.toStdString() << std::endl;
}

// Answers every prompt it did not expect with Cancel and says so.
class CountingPrompts : public UiPrompts
{
public:
    QList<CredentialsAnswer> answers;
    CredentialsAnswer askAdminCredentials(const CredentialsRequest& r) override
    {
        if (answers.isEmpty()) {
            say(QStringLiteral("unexpected=credentials"));
            return {};
        }
        Q_UNUSED(r);
        return answers.takeFirst();
    }
    int showAlert(const Alert& a) override
    {
        say(QStringLiteral("unexpected=alert ") + a.title);
        return -1;
    }
};

// Few names, each with several of the characters that break careless code (every root
// operation through sudo costs a sudo call).
QStringList names()
{
    return { QStringLiteral("it's \"$(touch canary)\" `touch canary`"), QStringLiteral("two\nlines"),
        QStringLiteral("-rf a b"), QStringLiteral("caf") + QChar(0xDCE9) };
}

int fileops(const QString& base)
{
    int failures = 0;
    auto check = [&](bool ok, const QString& what) {
        if (!ok) {
            ++failures;
            say(QStringLiteral("fail=") + QString(what).replace(QLatin1Char('\n'), QStringLiteral("\\n")));
        }
    };
    for (const QString& name : names()) {
        const QString dir = base + QLatin1Char('/') + name;
        const QString file = dir + QLatin1Char('/') + name;
        bool isDir = false;
        check(IProcController::makeDir(dir, true), QStringLiteral("makeDir ") + name);
        check(IProcController::fileExistsAtPath(dir, &isDir, true) && isDir,
            QStringLiteral("exists dir ") + name);
        check(IProcController::makeFile(file, true), QStringLiteral("makeFile ") + name);
        check(!IProcController::makeDir(file, true), QStringLiteral("makeDir on a file ") + name);
        check(IProcController::fileExistsAtPath(file, &isDir, true) && !isDir,
            QStringLiteral("exists file ") + name);
        check(IProcController::permissionForPath(file, true) == 3, QStringLiteral("permission ") + name);
        check(IProcController::makeLinkAtPath(file + QStringLiteral("_l"), file, true),
            QStringLiteral("link ") + name);
        const quint64 id = IProcController::IDForPath(file, true);
        check(id != 0 && IProcController::IDForPath(file + QStringLiteral("_l"), true) == id,
            QStringLiteral("id ") + name);
        check(IProcController::IDForPath(file + QStringLiteral("_missing"), true) == 0,
            QStringLiteral("id missing ") + name);
        check(IProcController::isFolderSupportHardLinks(dir, true), QStringLiteral("hard links ") + name);
        check(IProcController::removeFile(file + QStringLiteral("_l"), true),
            QStringLiteral("rm link ") + name);
        check(IProcController::removeFile(file, true), QStringLiteral("rm ") + name);
        check(IProcController::removeFile(file, true), QStringLiteral("rm missing ") + name);
        check(IProcController::removeDir(dir, true), QStringLiteral("rmdir ") + name);
        check(!IProcController::fileExistsAtPath(dir, &isDir, true), QStringLiteral("gone ") + name);
    }
    say(QStringLiteral("failures=%1").arg(failures));
    return failures ? 1 : 0;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QStringList args; // lossless: names that are not UTF-8 stay byte for byte
    for (int i = 1; i < argc; ++i)
        args.append(NameCodec::decode(QByteArray(argv[i])));
    const QString mode = args.value(0);
    std::string line;
    std::getline(std::cin, line);
    const QString password = QString::fromStdString(line);
    PrivilegeBackend& backend = PrivilegeBackend::shared();
    IAuthorizer& authorizer = IAuthorizer::shared();
    CountingPrompts prompts;
    UiPrompts::setShared(&prompts);
    if (mode != QLatin1String("keychain") && mode != QLatin1String("keychain-second")) {
        authorizer.setPreferenceAccess([] { return false; }, [](bool) {});
        authorizer.setLogin(backend.userName(), password);
    }

    if (mode == QLatin1String("validate")) {
        const PrivilegeBackend::Validation v = backend.validate(password.toUtf8());
        const char* names[] = { "valid", "invalid", "notallowed", "unavailable" };
        say(QStringLiteral("validation=") + QLatin1String(names[int(v)]));
        return 0;
    }
    if (mode == QLatin1String("run")) {
        QFile out(args.value(1));
        if (!out.open(QIODevice::WriteOnly))
            return 2;
        std::mutex m;
        std::unique_ptr<RootProcess> p
            = IProcController::runRootedToolWithArgsArray(args.mid(2), [&](const char* d, size_t n) {
                  std::lock_guard<std::mutex> lock(m);
                  out.write(d, qint64(n));
              });
        say(QStringLiteral("reason=%1").arg(IProcController::runRootedToolTerminationReason()));
        if (!p)
            return 0;
        say(QStringLiteral("pid=%1").arg(p->rootPid()));
        p->waitForFinished(-1);
        say(QStringLiteral("exit=%1").arg(p->exitCode()));
        return 0;
    }
    if (mode == QLatin1String("stop")) {
        std::unique_ptr<RootProcess> p
            = IProcController::runRootedToolWithArgsArray(args.mid(1), [](const char*, size_t) {});
        say(QStringLiteral("reason=%1").arg(IProcController::runRootedToolTerminationReason()));
        if (!p)
            return 0;
        say(QStringLiteral("pid=%1").arg(p->rootPid()));
        say(QStringLiteral("group=%1").arg(p->rootGroup()));
        say(QStringLiteral("ready=1"));
        std::getline(std::cin, line); // "stop"
        p->stop();
        say(QStringLiteral("stopped=1"));
        return 0;
    }
    if (mode == QLatin1String("fileops"))
        return fileops(args.value(1));
    if (mode == QLatin1String("lookup")) {
        std::unique_ptr<RootProcess> p = IProcController::runRootedToolWithArgsArray(
            { QStringLiteral("sh"), QStringLiteral("-c"), QStringLiteral("\"$1\" 300; :"),
                QStringLiteral("sh"), args.value(1) },
            [](const char*, size_t) {});
        if (!p)
            return 2;
        qint64 found = 0;
        for (int i = 0; i < 200 && !found; ++i) {
            found = IProcController::lastChildProcessName(QStringLiteral("rsync3"), QString(), 0);
            if (!found)
                ::usleep(50000);
        }
        say(QStringLiteral("found=%1").arg(found));
        say(QStringLiteral("rootpid=%1").arg(p->rootPid()));
        say(QStringLiteral("sh=%1").arg(
            IProcController::lastChildProcessName(QStringLiteral("sh"), QStringLiteral("bash"), 0)));
        p->stop();
        return 0;
    }
    if (mode == QLatin1String("keychain")) {
        // the user switches the keychain preference on: the set-up dialog, then the preference
        KeyringFixture keyring;
        if (!keyring.isValid()) {
            say(QStringLiteral("error=") + keyring.errorString());
            return 2;
        }
        QDir().mkpath(AppPaths::currentWorkspacePath());
        UiPrompts::CredentialsAnswer a;
        a.ok = true;
        a.userName = backend.userName();
        a.password = password;
        prompts.answers.append(a);
        const bool stored = authorizer.userAuthorize();
        say(QStringLiteral("stored=%1").arg(stored));
        if (stored)
            ICommon::saveMainPrefBoolValue(true, QString::fromLatin1(IAuthorizer::KeychainPreferenceKey));
        // quit; a new process works from the keychain alone
        Subprocess::Options o;
        o.program = app.applicationFilePath();
        o.arguments = { QStringLiteral("keychain-second"), args.value(1) };
        o.standardInput = "\n";
        const Subprocess::Result r = Subprocess::run(o, 120000);
        std::cout << r.out.constData() << r.err.constData();
        return 0;
    }
    if (mode == QLatin1String("keychain-second")) {
        QString output;
        const bool ok = IProcController::runRootedToolWithArgsArray(
            { QStringLiteral("mkdir"), QStringLiteral("--"), args.value(1) }, &output);
        say(QStringLiteral("made=%1").arg(ok));
        return 0;
    }
    return 2;
}
