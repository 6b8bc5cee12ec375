#include "KvTest.h"
#include "TempTree.h"
#include "snapshot/IDiskImage.h"

#include <QtTest>

// The project image's names and size rules, as pure functions.
class TestIDiskImage : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void names_data()
    {
        QTest::addColumn<QString>("projectFileName");
        QTest::addColumn<bool>("encrypted");
        QTest::addColumn<QString>("fileName");
        const QString uuid = QStringLiteral("1234ABCD-0000-1111-2222-333344445555");
        QTest::newRow("encrypted") << QStringLiteral("Docs_") + uuid << true
                                   << QStringLiteral("encr_Docs_1234ABCD.sparsebundle");
        QTest::newRow("plain") << QStringLiteral("Docs_") + uuid << false
                               << QStringLiteral("Docs_1234ABCD.sparsebundle");
        QTest::newRow("28 characters")
            << QString(28, QLatin1Char('x')) << false << QStringLiteral(".sparsebundle");
        QTest::newRow("27 characters") << QString(27, QLatin1Char('x')) << true << QString();
    }
    void names()
    {
        QFETCH(QString, projectFileName);
        QFETCH(bool, encrypted);
        QFETCH(QString, fileName);
        const QString result
            = IDiskImage::fileNameForName(IDiskImage::nameForProjectFileName(projectFileName, encrypted));
        QCOMPARE(result, fileName);
        QCOMPARE(result.isNull(), fileName.isNull());
    }

    void createSize_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<double>("custom");
        QTest::addColumn<double>("freeGB");
        QTest::addColumn<double>("capacityGB");
        QTest::addColumn<double>("sizeGB");
        QTest::newRow("custom 0, 200 GB free") << 1 << 0.0 << 200.0 << 500.0 << 180.0;
        QTest::newRow("custom 50") << 1 << 50.0 << 200.0 << 500.0 << 50.0;
        QTest::newRow("automatic: capacity") << 0 << 50.0 << 200.0 << 500.0 << 450.0;
    }
    void createSize()
    {
        QFETCH(int, type);
        QFETCH(double, custom);
        QFETCH(double, freeGB);
        QFETCH(double, capacityGB);
        QFETCH(double, sizeGB);
        QCOMPARE(IDiskImage::createSizeInGB(type, custom, quint64(freeGB * 1e9), quint64(capacityGB * 1e9)),
            sizeGB);
    }

    void fit_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<double>("custom");
        QTest::addColumn<double>("holdingFreeGB");
        QTest::addColumn<double>("imageMB");
        QTest::addColumn<double>("imageFreeMB");
        QTest::addColumn<int>("action");
        QTest::addColumn<double>("sizeGB");
        QTest::addColumn<int>("state");
        using F = IDiskImage::FitDecision;
        QTest::newRow("custom 100 on 105 GB: within 8 %")
            << 1 << 100.0 << 500.0 << 105000.0 << 50.0 << int(F::Keep) << 100.0 << 0;
        QTest::newRow("custom 100 on 120 GB: shrink")
            << 1 << 100.0 << 500.0 << 120000.0 << 50.0 << int(F::Shrink) << 100.0 << 0;
        QTest::newRow("custom 300 on 120 GB: grow")
            << 1 << 300.0 << 500.0 << 120000.0 << 50.0 << int(F::Grow) << 300.0 << 0;
        QTest::newRow("custom, image full")
            << 1 << 100.0 << 500.0 << 100000.0 << 0.5 << int(F::Refuse) << 0.0 << 9;
        QTest::newRow("custom 0") << 1 << 0.0 << 500.0 << 100000.0 << 0.0 << int(F::Keep) << 0.0 << 0;
        QTest::newRow("automatic, room on the volume: grow to capacity")
            << 0 << 0.0 << 500.0 << 100000.0 << 50.0 << int(F::Grow) << 1000.0 << 0;
        QTest::newRow("automatic, image as large as allowed")
            << 0 << 0.0 << 100.0 << 100000.0 << 50.0 << int(F::Keep) << 0.0 << 0;
        QTest::newRow("automatic, image full")
            << 0 << 0.0 << 100.0 << 100000.0 << 0.05 << int(F::Refuse) << 0.0 << 3;
    }
    void fit()
    {
        QFETCH(int, type);
        QFETCH(double, custom);
        QFETCH(double, holdingFreeGB);
        QFETCH(double, imageMB);
        QFETCH(double, imageFreeMB);
        QFETCH(int, action);
        QFETCH(double, sizeGB);
        QFETCH(int, state);
        const auto d = IDiskImage::fitDecision(
            type, custom, quint64(holdingFreeGB * 1e9), quint64(1000 * 1e9), imageMB, imageFreeMB);
        QCOMPARE(int(d.action), action);
        QCOMPARE(d.state, state);
        if (d.action == IDiskImage::FitDecision::Grow || d.action == IDiskImage::FitDecision::Shrink)
            QCOMPARE(d.sizeGB, sizeGB);
    }

    void shrinkBelowMinimum()
    {
        bool raised = false;
        QCOMPARE(IDiskImage::shrinkTargetGB(100, 140, &raised), 140.0);
        QVERIFY(raised);
        QCOMPARE(IDiskImage::shrinkTargetGB(100, 60, &raised), 100.0);
        QVERIFY(!raised);
        QCOMPARE(IDiskImage::shrinkTargetGB(100, 0, &raised), 100.0); // minimum unknown
        QVERIFY(!raised);
    }

    void creationNeedsFreeSpace()
    {
        QVERIFY(99999999 < IDiskImage::MinimumFreeForCreation);
        QVERIFY(100000000 >= IDiskImage::MinimumFreeForCreation);
    }

    void savedName()
    {
        TempTree tree;
        const QString name = QStringLiteral("Docs_1234ABCD.sparsebundle");
        QCOMPARE(IDiskImage::generateSavedNameForFileWithName(name, tree.path()),
            QStringLiteral("Docs_1234ABCD.qv_saved.sparsebundle"));
        QVERIFY(tree.mkdir("Docs_1234ABCD.qv_saved.sparsebundle"));
        QVERIFY(tree.mkdir("Docs_1234ABCD.qv_saved-1.sparsebundle"));
        QCOMPARE(IDiskImage::generateSavedNameForFileWithName(name, tree.path()),
            QStringLiteral("Docs_1234ABCD.qv_saved-2.sparsebundle"));
    }
};

QTEST_GUILESS_MAIN(TestIDiskImage)
#include "tst_idiskimage.moc"
