// Copies one source to one target through the file copier's window, shown on the offscreen
// platform, and presses "Ok" at the end: the program copier-bench times against bare rsync.
// Usage: copier-window SOURCE TARGET  (exit 0 when the copy finished)
#include "shell/dialogs/IFileCopierController.h"

#include <QApplication>
#include <QPushButton>
#include <QTimer>
#include <cstdio>

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: copier-window SOURCE TARGET\n");
        return 2;
    }
    IFileCopierController window;
    IFileCopierWindow::setShared(&window);
    // "Ok" as soon as the copy has ended and the window waits for it
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &window, [&] {
        if (!window.isCopying() && window.isVisible() && QApplication::activeModalWidget() == &window)
            window.okButton()->click();
    });
    poll.start(20);
    QString comment;
    const bool ok = IFileCopier::copyFilesWithSources({ QString::fromLocal8Bit(argv[1]) }, { 0 },
                                                      { QString::fromLocal8Bit(argv[2]) }, QString(), QString(),
                                                      &comment);
    IFileCopierWindow::setShared(nullptr);
    if (!ok)
        std::fprintf(stderr, "copy failed: %s\n", qPrintable(comment));
    return ok ? 0 : 1;
}
