// kv-test: labels=unit
#include "utilities/JSONLookup.h"

#include <QtTest>
#include <climits>
#include <memory>

namespace {

using JsonPtr = std::unique_ptr<cJSON, decltype(&cJSON_Delete)>;

JsonPtr parse(const QByteArray& text)
{
    return JsonPtr(cJSON_Parse(text.constData()), &cJSON_Delete);
}

const QByteArray kLongName(2990, 'n');

// One fixture for every lookup row.
QByteArray fixture()
{
    return "{\"a\":{\"b\":5,\":b\":6},\":x\":7,\"n\":1e12,\"neg\":-1e12,\"f\":3.7,\"s\":\"text\","
           "\"t\":true,\"fl\":false,\""
        + kLongName + "\":{\"z\":{\"deep\":1}}}";
}

} // namespace

class TestJSONLookup : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void lookups_data()
    {
        QTest::addColumn<QByteArray>("path"); // null = a null path
        QTest::addColumn<QByteArray>("item"); // member name found, "<root>" or "<none>"
        QTest::addColumn<int>("i");
        QTest::addColumn<double>("f");
        QTest::addColumn<int>("b"); // -1 = the default
        QTest::addColumn<QByteArray>("s");
        const int di = -99;
        const double df = -9.5;
        const QByteArray ds = "DEF";
        QTest::newRow("a:b") << QByteArray("a:b") << QByteArray("b") << 5 << 5.0 << -1 << ds;
        QTest::newRow("A:B any case") << QByteArray("A:B") << QByteArray("b") << 5 << 5.0 << -1 << ds;
        QTest::newRow("a::b") << QByteArray("a::b") << QByteArray(":b") << 6 << 6.0 << -1 << ds;
        QTest::newRow(":x") << QByteArray(":x") << QByteArray(":x") << 7 << 7.0 << -1 << ds;
        QTest::newRow("empty path") << QByteArray("") << QByteArray("<root>") << di << df << -1 << ds;
        QTest::newRow("null path") << QByteArray() << QByteArray("<root>") << di << df << -1 << ds;
        QTest::newRow("a:") << QByteArray("a:") << QByteArray("a") << di << df << -1 << ds;
        QTest::newRow("missing") << QByteArray("missing") << QByteArray("<none>") << di << df << -1 << ds;
        QTest::newRow("through a number")
            << QByteArray("a:b:c") << QByteArray("<none>") << di << df << -1 << ds;
        QTest::newRow("1e12 saturates") << QByteArray("n") << QByteArray("n") << INT_MAX << 1e12 << -1 << ds;
        QTest::newRow("-1e12 saturates")
            << QByteArray("neg") << QByteArray("neg") << INT_MIN << -1e12 << -1 << ds;
        QTest::newRow("3.7 truncates") << QByteArray("f") << QByteArray("f") << 3 << 3.7 << -1 << ds;
        QTest::newRow("string") << QByteArray("s") << QByteArray("s") << di << df << -1 << QByteArray("text");
        QTest::newRow("true") << QByteArray("t") << QByteArray("t") << di << df << 1 << ds;
        QTest::newRow("false") << QByteArray("fl") << QByteArray("fl") << di << df << 0 << ds;
        QTest::newRow("3,000-byte path")
            << kLongName + ":z:deep" << QByteArray("deep") << 1 << 1.0 << -1 << ds;
    }

    void lookups()
    {
        QFETCH(QByteArray, path);
        QFETCH(QByteArray, item);
        QFETCH(int, i);
        QFETCH(double, f);
        QFETCH(int, b);
        QFETCH(QByteArray, s);
        const JsonPtr root = parse(fixture());
        QVERIFY(root);
        const char* p = path.isNull() ? nullptr : path.constData();

        const cJSON* found = get_param_item(root.get(), p);
        if (item == "<root>")
            QCOMPARE(found, root.get());
        else if (item == "<none>")
            QVERIFY(!found);
        else
            QVERIFY(found && QByteArray(found->string) == item);

        QCOMPARE(paramInt(root.get(), p, -99), i);
        QCOMPARE(paramFloat(root.get(), p, -9.5), f);
        QCOMPARE(paramBool(root.get(), p, true), b == -1 ? true : b == 1);
        QCOMPARE(paramBool(root.get(), p, false), b == -1 ? false : b == 1);
        QCOMPARE(QByteArray(paramString(root.get(), p, "DEF")), s);
    }

    void nullItem()
    {
        QVERIFY(!get_param_item(nullptr, "a"));
        QCOMPARE(paramInt(nullptr, "a", 4), 4);
        QCOMPARE(paramString(nullptr, nullptr, nullptr), static_cast<const char*>(nullptr));
    }

    void setString_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::newRow("older same key") << QByteArray(R"({"k":"old","x":1})");
        QTest::newRow("older other case") << QByteArray(R"({"K":"old","x":1})");
        QTest::newRow("older number") << QByteArray(R"({"k":5,"x":1})");
        QTest::newRow("none") << QByteArray(R"({"x":1})");
        QTest::newRow("duplicated key") << QByteArray(R"({"k":"a","x":1,"k":"b"})");
        QTest::newRow("duplicates any case") << QByteArray(R"({"K":"a","k":"b","x":1})");
    }

    // The key ends with exactly one member, last, holding the new text; other members stay.
    void setString()
    {
        QFETCH(QByteArray, json);
        const JsonPtr root = parse(json);
        QVERIFY(root);
        const cJSON* added = setStringToObject(root.get(), "k", "new");
        QVERIFY(added);
        int members = 0;
        int ofKey = 0;
        const cJSON* last = nullptr;
        for (const cJSON* child = root->child; child; child = child->next) {
            ++members;
            if (qstricmp(child->string, "k") == 0)
                ++ofKey;
            last = child;
        }
        QCOMPARE(ofKey, 1);
        QCOMPARE(last, added);
        QCOMPARE(QByteArray(last->string), QByteArray("k"));
        QCOMPARE(QByteArray(paramString(root.get(), "k", "")), QByteArray("new"));
        QCOMPARE(paramInt(root.get(), "x", 0), 1);
        QCOMPARE(members, 2);

        // Nothing changes for anything that is not an object, or without a key or text.
        QVERIFY(!setStringToObject(root.get(), nullptr, "v"));
        QVERIFY(!setStringToObject(root.get(), "k", nullptr));
        QVERIFY(!setStringToObject(cJSON_GetObjectItem(root.get(), "x"), "k", "v"));
        QCOMPARE(QByteArray(paramString(root.get(), "k", "")), QByteArray("new"));
    }

    // A start-parameter program: change a text and set a flag, print, parse again, read both.
    void engineProgramRoundTrip()
    {
        const JsonPtr program = parse(R"({"Phases":{"InitParams":{"InterfaceDataList":{
            "SourceFolder":{"Path":"/old/source"},"DestFolder":{"Path":"/dest"},
            "toolPath":"rsync3","SourceVolume":{"name":"Disk"}}}}})");
        QVERIFY(program);
        cJSON* source = get_param_item(program.get(), "Phases:InitParams:InterfaceDataList:SourceFolder");
        QVERIFY(source);
        QVERIFY(setStringToObject(source, "Path", "/new/s\u00f6urce \"quoted\""));
        cJSON* volume = get_param_item(program.get(), "Phases:InitParams:InterfaceDataList:SourceVolume");
        QVERIFY(volume);
        QVERIFY(cJSON_AddTrueToObject(volume, "mountAfterCloning"));
        // A true built in memory has valueint 0; it still reads as true.
        QVERIFY(paramBool(volume, "mountAfterCloning", false));

        char* printed = cJSON_PrintUnformatted(program.get());
        QVERIFY(printed);
        const JsonPtr again = parse(printed);
        cJSON_free(printed);
        QVERIFY(again);
        QCOMPARE(
            QByteArray(paramString(again.get(), "Phases:InitParams:InterfaceDataList:SourceFolder:Path", "")),
            QByteArray("/new/s\u00f6urce \"quoted\""));
        QVERIFY(paramBool(
            again.get(), "phases:initparams:interfacedatalist:sourcevolume:mountAfterCloning", false));
        QCOMPARE(QByteArray(paramString(again.get(), "Phases:InitParams:InterfaceDataList:toolPath", "")),
            QByteArray("rsync3"));
    }
};

QTEST_GUILESS_MAIN(TestJSONLookup)
#include "tst_jsonlookup.moc"
