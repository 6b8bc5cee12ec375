// kv-test: labels=unit timeout=60
#include "KvTest.h"
#include "platform/AppPaths.h"
#include "platform/PlistBridge.h"
#include "projects/ClonerDefaults.h"

#include <QtTest>

class TestClonerDefaults : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void theThreeShippedListsAreOne();
    void hiddenEntriesAreNormalized();
};

// The application's default excludes and both system lists of the resources come from one list.
void TestClonerDefaults::theThreeShippedListsAreOne()
{
    AppPaths::setContentsDirOverride(KvTest::appContentsDir());
    const ClonerDefaults defaults = ClonerDefaults::fromApplication();
    QVERIFY(defaults.excludes.contains(QStringLiteral("/proc/*")));
    const PlistBridge::ReadResult read = PlistBridge::readFile(AppPaths::resourcePath(QStringLiteral("ParamProc.plist")));
    QCOMPARE(read.status, PlistBridge::ReadStatus::Ok);
    for (const char* key : { "clone_system_excludes", "clone_monosystem_excludes" })
        QCOMPARE(PlistValue::string(read.map(), QLatin1String(key)).split(QLatin1Char('\n')), defaults.excludes);
    // no hidden list is shipped: the hidden list is the normalised excludes
    QCOMPARE(defaults.hiddens.size(), defaults.excludes.size());
    QVERIFY(defaults.hiddens.contains(QStringLiteral("/proc")));
    AppPaths::setContentsDirOverride(QString());
}

void TestClonerDefaults::hiddenEntriesAreNormalized()
{
    QCOMPARE(ClonerDefaults::normalizedHiddens({ "/a/*", "/b/" }, { "/c", "/d/*/" }),
        (QStringList { "/a", "/b", "/c", "/d/*" }));
}

QTEST_GUILESS_MAIN(TestClonerDefaults)
#include "tst_clonerdefaults.moc"
