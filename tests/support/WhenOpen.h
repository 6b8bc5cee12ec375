#pragma once

#include "ModalWatchdog.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QTimer>
#include <QtTest>

// Runs fn on the next modal dialog of class T once it is open (and active), from a single-shot
// timer of the running event loop, so a test can answer a dialog that a blocking call opens.
// The dialog is announced to the ModalWatchdog meanwhile. Gives up, failing the test, when no
// such dialog opened within timeoutMs.
template<typename T, typename Fn>
void whenOpen(Fn fn, int timeoutMs = 10000)
{
    ModalWatchdog::instance().announce(T::staticMetaObject.className());
    struct Poll
    {
        static void next(Fn fn, QDeadlineTimer deadline)
        {
            QTimer::singleShot(10, qApp, [fn, deadline] {
                if (T* w = qobject_cast<T*>(QApplication::activeModalWidget())) {
                    if (w->isVisible()) {
                        ModalWatchdog::instance().withdraw(T::staticMetaObject.className());
                        fn(w);
                        return;
                    }
                }
                if (deadline.hasExpired()) {
                    ModalWatchdog::instance().withdraw(T::staticMetaObject.className());
                    QTest::qFail(qPrintable(QStringLiteral("no %1 opened")
                                                .arg(QLatin1String(T::staticMetaObject.className()))),
                        __FILE__, __LINE__);
                    return;
                }
                next(fn, deadline);
            });
        }
    };
    Poll::next(fn, QDeadlineTimer(timeoutMs));
}
