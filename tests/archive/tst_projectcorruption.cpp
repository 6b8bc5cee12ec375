// kv-test: labels=unit
#include "OldProjects.h"
#include "TempTree.h"
#include "archive/CBackup.h"
#include "archive/CBackupItem.h"
#include "platform/AppPaths.h"

#include <QRandomGenerator>
#include <QtTest>
#include <sys/resource.h>
#include <sys/stat.h>

namespace {

QStringList inventory(const TempTree& t, const std::string& folder)
{
    QStringList out;
    for (const std::string& n : t.list(folder)) {
        struct stat st
        {
        };
        ::lstat(t.filePathStd(folder + "/" + n).c_str(), &st);
        out << QStringLiteral("%1 %2 %3.%4")
                   .arg(QString::fromStdString(n))
                   .arg(st.st_size)
                   .arg(st.st_mtim.tv_sec)
                   .arg(st.st_mtim.tv_nsec);
    }
    return out;
}

} // namespace

class TestProjectCorruption : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // Damaged project files of every kind: each load ends, true or with a format error, never
    // allocates what the file merely claims, and never writes anything.
    void randomMutations()
    {
        TempTree ws;
        QVERIFY(ws.mkdir("Backups"));
        AppPaths::setWorkspacePathOverride(ws.path());

        // Two bases: a current pair with a folder whose child is named "ab", and a version 17 pair.
        CBackup base(QStringLiteral("C"));
        CBackupItem* d = base.insertNewItem(QStringLiteral("/d"), nullptr);
        d->setFlags(0x9801);
        d->addHistoryStateChanging(0, 3);
        d->insertNewItem(QStringLiteral("ab"), d)->setFlags(0x9800);
        base.addArchName(QStringLiteral("full_C_2020-01-01_00-00-00_lp.tar"));
        QVERIFY(base.saveTo(ws.filePath(std::string("Backups/c.bif")), true));
        struct Pair
        {
            QByteArray bif;
            QByteArray bih;
        };
        Pair pairs[2];
        pairs[0] = { ws.readFile("Backups/c.bif"), ws.readFile("Backups/c.bih") };
        pairs[1].bif = OldProjects::bif(17, &pairs[1].bih);

        // Address space bounded: a count taken at its word would fail the run here.
        struct rlimit old
        {
        };
        ::getrlimit(RLIMIT_AS, &old);
        struct rlimit bound = old;
        bound.rlim_cur = std::min<rlim_t>(old.rlim_cur, rlim_t(6) << 30);
        ::setrlimit(RLIMIT_AS, &bound);

        QRandomGenerator rng(20261211);
        int loaded = 0;
        int refused = 0;
        const QString bifPath = ws.filePath(std::string("Backups/m.bif"));
        for (int i = 0; i < 20000; ++i) {
            const Pair& p = pairs[i % 2];
            Pair m = p;
            const int mutations = 1 + int(rng.bounded(3));
            for (int k = 0; k < mutations; ++k) {
                QByteArray& target = rng.bounded(3) == 0 ? m.bih : m.bif;
                if (target.isEmpty())
                    continue;
                const int at = int(rng.bounded(quint32(target.size())));
                switch (rng.bounded(5)) {
                case 0:
                    target.truncate(at);
                    break;
                case 1:
                    target[at] = char(target[at] ^ char(1 + rng.bounded(255)));
                    break;
                case 2:
                case 3: {
                    // A count or offset set past its block, or to 0xFFFFFFFF.
                    const quint32 v
                        = rng.bounded(2) ? 0xFFFFFFFFu : quint32(target.size() + rng.bounded(1000u));
                    for (int b = 0; b < 4 && at + b < target.size(); ++b)
                        target[at + b] = char(v >> (24 - 8 * b));
                    break;
                }
                default: {
                    const qsizetype name = target.indexOf(QByteArray("a\0b\0", 4));
                    if (name >= 0)
                        target.replace(name, 4, QByteArray(".\0.\0", 4));
                    break;
                }
                }
            }
            QVERIFY(ws.writeFile(std::string("Backups/m.bif"), m.bif));
            QVERIFY(ws.writeFile(std::string("Backups/m.bih"), m.bih));
            const QStringList before = inventory(ws, "Backups");
            CBackup project(QStringLiteral("m"));
            if (project.load(bifPath, false)) {
                ++loaded;
            } else {
                QVERIFY(!project.lastFileError().isEmpty());
                QCOMPARE(project.count(), 0);
                ++refused;
            }
            if (inventory(ws, "Backups") != before)
                QFAIL(qPrintable(QStringLiteral("mutation %1 changed the Backups folder").arg(i)));
        }
        ::setrlimit(RLIMIT_AS, &old);
        AppPaths::setWorkspacePathOverride(QString());
        qInfo("%d loaded, %d refused", loaded, refused);
        QVERIFY(refused > 1000);
    }
};

QTEST_GUILESS_MAIN(TestProjectCorruption)
#include "tst_projectcorruption.moc"
