// kv-test: labels=unit
#include "utilities/IPasswordMD5.h"

#include <QProcess>
#include <QtTest>

class TestPasswordMD5 : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void rfc1321_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("hex");
        QTest::newRow("empty") << QString() << QByteArray("d41d8cd98f00b204e9800998ecf8427e");
        QTest::newRow("a") << QStringLiteral("a") << QByteArray("0cc175b9c0f1b6a831c399e269772661");
        QTest::newRow("abc") << QStringLiteral("abc") << QByteArray("900150983cd24fb0d6963f7d28e17f72");
        QTest::newRow("message digest")
            << QStringLiteral("message digest") << QByteArray("f96b697d7cb7938d525a2f31aaf161d0");
        QTest::newRow("alphabet") << QStringLiteral("abcdefghijklmnopqrstuvwxyz")
                                  << QByteArray("c3fcd3d76192e4007dfb496cca67e13b");
        QTest::newRow("alphanumeric")
            << QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789")
            << QByteArray("d174ab98d277d9f5a5611c2c9f419d9f");
        QTest::newRow("digits") << QStringLiteral("1234567890").repeated(8)
                                << QByteArray("57edf4a22be3c955ac49da2e2107b67a");
    }

    void rfc1321()
    {
        QFETCH(QString, text);
        QFETCH(QByteArray, hex);
        const auto raw = IPasswordMD5::md5(text.toUtf8());
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(raw.data()), 16).toHex(), hex);
        const auto digest = IPasswordMD5::createWithPassword(text);
        if (text.isEmpty()) {
            QVERIFY(!digest.has_value()); // no object for an empty password
            return;
        }
        QVERIFY(digest.has_value());
        QCOMPARE(digest->data().toHex(), hex);
        QVERIFY(digest->correspondsToPassword(text));
        QVERIFY(!digest->correspondsToPassword(text + QLatin1Char('x')));
        QVERIFY(!digest->correspondsToPassword(QString()));
    }

    void emptyAndMalformed()
    {
        const IPasswordMD5 empty = IPasswordMD5::create();
        QVERIFY(empty.isEmpty());
        QVERIFY(!empty.correspondsToPassword(QStringLiteral(""))); // MD5 of no bytes is not zero
        QVERIFY(!IPasswordMD5::createWithPassword(QStringLiteral("")).has_value());

        for (int size : { 0, 15, 17 })
            QVERIFY(IPasswordMD5::createWithData(QByteArray(size, 'x')).isEmpty());

        IPasswordMD5 digest = *IPasswordMD5::createWithPassword(QStringLiteral("secret"));
        const QByteArray before = digest.data();
        digest.setFromData(QByteArray(17, 'x'));
        digest.setFromArray(nullptr);
        digest.pmd5Array(nullptr);
        QCOMPARE(digest.data(), before);
        QVERIFY(!IPasswordMD5::createWithArray(nullptr).has_value());
        QVERIFY(!digest.isEqualToMD5(nullptr));
        digest.setEmpty();
        QVERIFY(digest.isEmpty());
    }

    void roundTrips()
    {
        const IPasswordMD5 digest = *IPasswordMD5::createWithPassword(QStringLiteral("secret"));
        const IPasswordMD5 fromData = IPasswordMD5::createWithData(digest.data());
        QVERIFY(fromData.isEqualToMD5(&digest));
        QVERIFY(fromData.correspondsToPassword(QStringLiteral("secret")));

        unsigned char bytes[16];
        digest.pmd5Array(bytes);
        const auto fromArray = IPasswordMD5::createWithArray(bytes);
        QVERIFY(fromArray.has_value() && fromArray->isEqualToMD5(&digest));
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(digest.pmd5Array()), 16), digest.data());
    }

    // The digest of a non-ASCII password is the MD5 of its UTF-8 bytes, as md5sum computes it.
    void nonAsciiAgreesWithMd5sum()
    {
        const QString password = QStringLiteral("p\u00e4ssw\u00f6rd");
        QProcess md5sum;
        md5sum.start(QStringLiteral("md5sum"), {});
        QVERIFY2(md5sum.waitForStarted(10000), qPrintable(md5sum.errorString()));
        md5sum.write(password.toUtf8());
        md5sum.closeWriteChannel();
        QVERIFY(md5sum.waitForFinished(10000));
        QCOMPARE(md5sum.exitCode(), 0);
        const QByteArray expected = md5sum.readAllStandardOutput().left(32);
        QCOMPARE(IPasswordMD5::createWithPassword(password)->data().toHex(), expected);
    }
};

QTEST_GUILESS_MAIN(TestPasswordMD5)
#include "tst_passwordmd5.moc"
