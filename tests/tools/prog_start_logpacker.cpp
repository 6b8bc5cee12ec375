// Starts the log packer as the application's quit path does: detached, in a session of its own,
// with its standard streams on /dev/null, and ends at once. Prints the packer's pid.
// Usage: start_logpacker PACKER TAR LOGS_FOLDER

#include "platform/Subprocess.h"

#include <cstdio>

int main(int argc, char** argv)
{
    if (argc != 4)
        return 2;
    Subprocess::Options options;
    options.program = QString::fromLocal8Bit(argv[1]);
    options.arguments = { QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]) };
    options.newSession = true;
    QString error;
    const pid_t pid = Subprocess::startDetached(options, &error);
    if (pid <= 0) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    std::printf("%d\n", static_cast<int>(pid));
    return 0;
}
