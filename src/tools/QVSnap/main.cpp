#include "QVSnap.h"

#include <csignal>

int main(int argc, char** argv)
{
    // Writes to a closed pipe report EPIPE instead of ending the tool half-way.
    std::signal(SIGPIPE, SIG_IGN);
    return QVSnap::run(argc, argv);
}
