#pragma once

#include <functional>

// The interface and all project state live on the main thread (Qt's event loop is the run loop).
// Child output is read on background threads and handed over with these two helpers only.

// True on the thread that runs the application's event loop (the process's first thread when
// no QCoreApplication exists yet).
bool isMainThread();

// Posts fn to the main thread and returns at once; calls posted from one thread run in order.
// Without a QCoreApplication there is no run loop to post to, so fn runs directly.
void runOnMain(std::function<void()> fn);

// Runs fn on the main thread and returns when it has run. On the main thread it is a direct call.
// Never call it from a thread the main thread may be waiting for (for example a reader thread
// whose child the main thread is joining): that would deadlock.
void runOnMainAndWait(std::function<void()> fn);

// Counts the modal dialogs and "process events" calls in progress. Qt runs timers inside them,
// which the schedule and queue timers must not act on: they return at once while depth() > 0.
class ModalDepthGuard
{
public:
    ModalDepthGuard();
    ~ModalDepthGuard();
    ModalDepthGuard(const ModalDepthGuard&) = delete;
    ModalDepthGuard& operator=(const ModalDepthGuard&) = delete;

    static int depth();
};
