// kv-test: labels=dbus timeout=120
#include "ArchiveFakes.h"
#include "KeyringFixture.h"
#include "TempTree.h"
#include "archive/CBackup.h"
#include "archive/CBackupItem.h"
#include "platform/AppPaths.h"
#include "utilities/ProjectKeychain.h"

#include <QtTest>

class TestArchiveDuplicate : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // A scheduled, encrypted project with its password in the keychain is duplicated; the source
    // is renamed and closed: its files and its keychain item go, the copy stays.
    void duplicateThenCloseTheRenamedSource()
    {
        KeyringFixture keyring;
        QVERIFY2(keyring.isValid(), qPrintable(keyring.errorString()));
        TempTree ws;
        AppPaths::setWorkspacePathOverride(ws.path());
        RecordingArchiveContainer container;
        FakeCoordinator coordinator;

        QVERIFY(ws.writeFile(std::string("data/a"), QByteArray("a")));
        QVERIFY(ws.writeFile(std::string("more/b"), QByteArray("b")));
        CBackup* source = container.addNewBackup(QStringLiteral("Secret"));
        source->setUseSchedule(true);
        source->setScheduleIntervalType(CBSchedIntervalDaily);
        source->setCryptMethod(CBCryptAES256);
        source->setPasswordDigest(*IPasswordMD5::createWithPassword(QStringLiteral("pw")));
        source->setPasswordInKeychain(true);
        source->addItemFromDisk(ws.filePath(std::string("data")));
        source->addItemFromDisk(ws.filePath(std::string("more")));
        QVERIFY(source->save());
        QVERIFY(ProjectKeychain::write(source->name(), source->getUUID(), QStringLiteral("pw")));

        CBackup* copy = source->duplicateProject();
        QVERIFY(copy);
        QCOMPARE(copy->name(), QStringLiteral("Secret-copy"));
        QVERIFY(copy->getUUID() != source->getUUID());
        QVERIFY(copy->fileName() != source->fileName());
        QVERIFY(!copy->useSchedule());
        QCOMPARE(copy->cryptMethod(), quint32(CBCryptAES256));
        QCOMPARE(copy->passwordDigest().data(), source->passwordDigest().data());
        QCOMPARE(copy->count(), source->count());
        for (int i = 0; i < copy->count(); ++i)
            QCOMPARE(copy->itemAt(i)->getAbsolutePath(), source->itemAt(i)->getAbsolutePath());
        const std::string copyStem = "Backups/" + copy->fileName().toStdString();
        QVERIFY(ws.exists(copyStem + ".bif") && ws.exists(copyStem + ".bih"));

        source->setName(QStringLiteral("Secret renamed"));
        const std::string sourceStem = "Backups/" + source->fileName().toStdString();
        QVERIFY(source->close());
        QVERIFY(!ws.exists(sourceStem + ".bif") && !ws.exists(sourceStem + ".bih"));
        QVERIFY(!ProjectKeychain::exists(QStringLiteral("Secret"), source->getUUID()));
        QVERIFY(ws.exists(copyStem + ".bif") && ws.exists(copyStem + ".bih"));

        CBackup reread(QStringLiteral("x"));
        QVERIFY(reread.load(ws.filePath(copyStem + ".bif"), false));
        QCOMPARE(reread.name(), QStringLiteral("Secret-copy"));
        QCOMPARE(reread.getUUID(), copy->getUUID());
        AppPaths::setWorkspacePathOverride(QString());
    }
};

QTEST_GUILESS_MAIN(TestArchiveDuplicate)
#include "tst_archiveduplicate.moc"
