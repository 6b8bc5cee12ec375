#include "MainThread.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>
#include <atomic>
#include <sys/syscall.h>
#include <unistd.h>

namespace {
std::atomic<int> g_modalDepth { 0 };
} // namespace

bool isMainThread()
{
    if (QCoreApplication* app = QCoreApplication::instance())
        return QThread::currentThread() == app->thread();
    return ::syscall(SYS_gettid) == ::getpid();
}

void runOnMain(std::function<void()> fn)
{
    if (!fn)
        return;
    QCoreApplication* app = QCoreApplication::instance();
    if (!app) {
        fn();
        return;
    }
    QMetaObject::invokeMethod(app, std::move(fn), Qt::QueuedConnection);
}

void runOnMainAndWait(std::function<void()> fn)
{
    if (!fn)
        return;
    QCoreApplication* app = QCoreApplication::instance();
    if (!app || isMainThread()) {
        fn();
        return;
    }
    QMetaObject::invokeMethod(app, std::move(fn), Qt::BlockingQueuedConnection);
}

ModalDepthGuard::ModalDepthGuard()
{
    g_modalDepth.fetch_add(1);
}

ModalDepthGuard::~ModalDepthGuard()
{
    g_modalDepth.fetch_sub(1);
}

int ModalDepthGuard::depth()
{
    return g_modalDepth.load();
}
