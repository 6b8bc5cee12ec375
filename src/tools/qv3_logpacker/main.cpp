#include "LogPacker.h"

#include <csignal>
#include <cstdio>

int main(int argc, char** argv)
{
    // Writes to a closed stream report EPIPE instead of ending the packer between two files.
    std::signal(SIGPIPE, SIG_IGN);
    if (argc != 3) {
        std::fputs("qv_logpacker version 1.1\nParameters not found.\n", stdout);
        return 255;
    }
    return LogPacker(argv[1], argv[2]).run();
}
