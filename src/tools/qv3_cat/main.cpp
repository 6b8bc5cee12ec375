#include "QV3Cat.h"

#include <QCoreApplication>
#include <csignal>
#include <cstdio>
#include <cstring>

int main(int argc, char** argv)
{
    // The tool heads a pipeline: when the reader is gone it ends like any pipe stage.
    std::signal(SIGPIPE, SIG_DFL);
    // Every other argument is ignored: the first piece is named again by the first answer.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-v") == 0) {
            std::fputs("qv_cat version 2.2\n", stdout);
            return 1;
        }
    }
    QCoreApplication app(argc, argv);
    QV3Cat cat;
    return cat.exec();
}
