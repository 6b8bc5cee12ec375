#pragma once

#include "WhenOpen.h"
#include "shell/dialogs/IFileCopierController.h"

#include <functional>

// Runs fn once the copier's window has finished its copy and waits for the user. It polls from
// the event loop, since the copy runs its own loop under the test's; the window stays announced
// to the watchdog until then, so a long copy is no dialog left waiting.
inline void whenCopied(std::function<void(IFileCopierController*)> fn)
{
    ModalWatchdog::instance().announce("IFileCopierController");
    whenOpen<IFileCopierController>([fn](IFileCopierController* w) {
        auto* poll = new QTimer(w);
        QObject::connect(poll, &QTimer::timeout, w, [w, poll, fn] {
            if (w->isCopying() || QApplication::activeModalWidget() != w)
                return;
            poll->stop();
            poll->deleteLater();
            ModalWatchdog::instance().withdraw("IFileCopierController");
            fn(w);
        });
        poll->start(10);
    });
}
