// kv-test: labels=unit timeout=60

#include "platform/MainThread.h"

#include <QtTest>
#include <atomic>
#include <thread>

class TestMainThread : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void waitFromWorkerAndFromMain()
    {
        QVERIFY(isMainThread());
        // on the main thread: a direct call, no deadlock
        bool ranDirectly = false;
        runOnMainAndWait([&] { ranDirectly = isMainThread(); });
        QVERIFY(ranDirectly);

        // from a worker: runs on the main thread while the worker waits
        std::atomic<bool> done { false };
        std::atomic<bool> onMain { false };
        std::atomic<bool> workerSawResult { false };
        std::thread worker([&] {
            QVERIFY(!isMainThread());
            int value = 0;
            runOnMainAndWait([&] {
                onMain = isMainThread();
                value = 42;
            });
            workerSawResult = value == 42;
            done = true;
        });
        QTRY_VERIFY_WITH_TIMEOUT(done.load(), 10000);
        worker.join();
        QVERIFY(onMain.load());
        QVERIFY(workerSawResult.load());
    }

    void postsKeepOrderAndNeverWait()
    {
        QList<int> order;
        std::thread worker([&] {
            for (int i = 0; i < 100; ++i)
                runOnMain([&order, i] { order.append(i); });
        });
        worker.join();
        runOnMain([&order] { order.append(100); });
        QVERIFY(order.isEmpty()); // posted, not run yet
        QTRY_COMPARE_WITH_TIMEOUT(order.size(), 101, 10000);
        for (int i = 0; i <= 100; ++i)
            QCOMPARE(order[i], i);
    }

    void modalDepth()
    {
        QCOMPARE(ModalDepthGuard::depth(), 0);
        {
            ModalDepthGuard outer;
            QCOMPARE(ModalDepthGuard::depth(), 1);
            {
                ModalDepthGuard inner;
                QCOMPARE(ModalDepthGuard::depth(), 2);
            }
            QCOMPARE(ModalDepthGuard::depth(), 1);
        }
        QCOMPARE(ModalDepthGuard::depth(), 0);
    }
};

QTEST_GUILESS_MAIN(TestMainThread)
#include "tst_mainthread.moc"
