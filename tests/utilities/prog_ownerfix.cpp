// Hands root-made files back to the user who runs it, through the privilege backend, the way
// the application does after a run with administrator rights. The password comes on stdin.
//   ownerfix files PATH   : every volume of PATH (a split archive) or PATH itself, waiting
//   ownerfix tree PATH    : PATH and everything in it, started in the background; the program
//                           waits until PATH is its own (or 30 s) and prints failures
#include "platform/PrivilegeBackend.h"
#include "utilities/IPathUtil.h"
#include "utilities/IShellServices.h"
#include "utilities/MainPreferences.h"

#include <QCoreApplication>
#include <QFile>
#include <QTimer>
#include <cstdio>
#include <iostream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// Log lines go to stderr, so the test sees why something failed.
class StderrShell : public HeadlessShellServices
{
public:
    void processMessage(const LogText& text, quint64, QObject*) override
    {
        std::fprintf(stderr, "%s\n", text.toUtf8().constData());
    }
};
} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 3)
        return 2;
    std::string password;
    std::getline(std::cin, password);
    PrivilegeBackend::shared().setCredential(QByteArray::fromStdString(password));
    StderrShell shell;
    IShellServices::setShared(&shell);
    const QString path = QFile::decodeName(argv[2]);
    int status = 1;
    if (std::string(argv[1]) == "files") {
        status = MainPreferences::setNormalOwnerToFiles(path, true) ? 0 : 1;
    } else {
        IPathUtil::fixOwnerForDirectory(path);
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            struct stat st;
            if (::lstat(argv[2], &st) == 0 && st.st_uid == ::getuid()) {
                status = 0;
                app.quit();
            }
        });
        poll.start(50);
        QTimer::singleShot(30000, &app, &QCoreApplication::quit);
        app.exec();
        // Give the background child's last files a moment: the tree's root changes first.
        QTimer::singleShot(300, &app, &QCoreApplication::quit);
        app.exec();
    }
    IShellServices::setShared(nullptr);
    return status;
}
