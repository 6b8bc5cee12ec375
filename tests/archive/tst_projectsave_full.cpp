// kv-test: labels=root fixtures=kv_loop_cleanup
#include "KvTest.h"
#include "LoopImage.h"
#include "RecordingShellServices.h"
#include "ScopedMount.h"
#include "archive/CBackup.h"
#include "archive/CBackupItem.h"
#include "platform/AppPaths.h"

#include <QDir>
#include <QtTest>

class TestProjectSaveFull : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // A save that runs out of space keeps the previous pair as it was and leaves nothing behind.
    void fullVolumeKeepsThePreviousFiles()
    {
        KV_REQUIRE_ROOT();
        ScopedMount mount;
        const QString ws = LoopImage::loopRoot() + QStringLiteral("/full-ws-%1").arg(::getpid());
        QVERIFY(QDir().mkpath(ws));
        QVERIFY2(mount.mount({ QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"),
                                 QStringLiteral("size=64k"), QStringLiteral("tmpfs") },
                     ws + QStringLiteral("/Backups")),
            qPrintable(mount.errorString()));
        AppPaths::setWorkspacePathOverride(ws);
        RecordingShellServices hub;
        IShellServices::setShared(&hub);

        CBackup p(QStringLiteral("Full"));
        p.insertNewItem(QStringLiteral("/home/u/small"), nullptr);
        QVERIFY(p.save());
        const QString bif = p.makeBifFileName();
        const QString bih = CBackup::QVProjectHeaderFileName(bif);
        auto read = [](const QString& path) {
            QFile f(path);
            return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
        };
        const QByteArray oldBif = read(bif);
        const QByteArray oldBih = read(bih);
        QVERIFY(!oldBif.isEmpty() && !oldBih.isEmpty());

        CBackupItem* top = p.insertNewItem(QStringLiteral("/home/u/big"), nullptr);
        top->setFlags(0x9801);
        for (int i = 0; i < 4000; ++i)
            top->insertNewItem(QStringLiteral("a file with a long enough name %1").arg(i), top);
        p.markChanged();
        QVERIFY(!p.save());
        QVERIFY(p.isTreeChanged()); // the changes still wait to be saved
        bool told = false;
        for (const auto& m : hub.messages())
            told = told || m.text.contains("Can't write backup info file");
        QVERIFY(told);
        QCOMPARE(read(bif), oldBif);
        QCOMPARE(read(bih), oldBih);
        QStringList names = QDir(ws + QStringLiteral("/Backups")).entryList(QDir::Files | QDir::Hidden);
        names.sort();
        QCOMPARE(names,
            (QStringList { p.fileName() + QStringLiteral(".bif"), p.fileName() + QStringLiteral(".bih") }));

        IShellServices::setShared(nullptr);
        AppPaths::setWorkspacePathOverride(QString());
        QVERIFY(mount.unmount());
        QDir(ws).removeRecursively();
    }
};

QTEST_GUILESS_MAIN(TestProjectSaveFull)
#include "tst_projectsave_full.moc"
