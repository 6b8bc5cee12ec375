#include "APFSPreparer.h"
#include "platform/NameCodec.h"

#include <QStringList>
#include <csignal>

int main(int argc, char** argv)
{
    // A reader that goes away makes writes fail with EPIPE instead of ending the run half-way.
    std::signal(SIGPIPE, SIG_IGN);
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << NameCodec::decode(QByteArray(argv[i]));
    return APFSPreparer::run(arguments);
}
