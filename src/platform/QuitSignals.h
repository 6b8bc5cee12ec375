#pragma once

#include <QObject>

// SIGTERM and SIGINT for a Qt program: the handler only writes one byte into a socket pair, and
// the main thread's run loop turns it into the quit() signal. catchSignals() belongs on the first
// line of main, before the application object exists; a signal that arrives before listen() waits
// in the socket and is delivered as soon as the run loop runs.
class QuitSignals : public QObject
{
    Q_OBJECT
public:
    static void catchSignals();
    // Emits quitRequested() on the main thread for every caught signal.
    explicit QuitSignals(QObject* parent = nullptr);
    ~QuitSignals() override;

Q_SIGNALS:
    void quitRequested();
};
