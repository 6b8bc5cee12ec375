// kv-test: labels=unit
#include "KvTest.h"
#include "RecordingShellServices.h"
#include "TempTree.h"
#include "platform/PlistBridge.h"
#include "projects/ITemplateTool.h"

#include <QtTest>
#include <plist/plist.h>

namespace {

// A property list in libplist's binary form, as other programs write their preferences.
QByteArray binaryPlist(const QVariant& value)
{
    const QByteArray xml = PlistBridge::toXml(value);
    plist_t node = nullptr;
    plist_from_xml(xml.constData(), uint32_t(xml.size()), &node);
    char* bin = nullptr;
    uint32_t length = 0;
    plist_to_bin(node, &bin, &length);
    const QByteArray out(bin, int(length));
    free(bin);
    plist_free(node);
    return out;
}

QVariantMap source(std::initializer_list<std::pair<QString, QVariant>> pairs)
{
    QVariantMap m;
    for (const auto& [k, v] : pairs)
        m.insert(k, v);
    return m;
}

} // namespace

// Templates turn into concrete paths: fixed "~" paths, other programs' preference values,
// cut components, and a data file found in a folder or chosen by the user.
class TestTemplateTool : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void pathSources_data()
    {
        QTest::addColumn<QVariantMap>("entry");
        QTest::addColumn<QString>("chooserAnswer"); // "-" cancels
        QTest::addColumn<QStringList>("expected"); // "<home>" stands for the fixture home
        QTest::addColumn<QStringList>("chooserCalls");

        const QString pp = QStringLiteral("plistPath"), pk = QStringLiteral("plistKey");
        const QString cut = QStringLiteral("cutLastComponents"), mask = QStringLiteral("fileMask");
        const QString folder = QStringLiteral("folderPath");
        QTest::newRow("plistPath without ~ is skipped")
            << source({ { pp, "/prefs/xml.plist" }, { pk, "Text" } }) << "" << QStringList() << QStringList();
        QTest::newRow("string value, XML list")
            << source({ { pp, "~/prefs/xml.plist" }, { pk, "Text" } }) << ""
            << QStringList { "<home>/Music/Library" } << QStringList();
        QTest::newRow("empty array value is skipped")
            << source({ { pp, "~/prefs/bin.plist" }, { pk, "Empty" } }) << "" << QStringList()
            << QStringList();
        QTest::newRow("array value gives its first element, binary list")
            << source({ { pp, "~/prefs/bin.plist" }, { pk, "Array" } }) << "" << QStringList { "/data/first" }
            << QStringList();
        QTest::newRow("missing list file is skipped")
            << source({ { pp, "~/prefs/none.plist" }, { pk, "Text" } }) << "" << QStringList()
            << QStringList();
        QTest::newRow("file:/// URL") << source({ { folder, "file:///srv/a%20b/c" } }) << ""
                                      << QStringList { "/srv/a b/c" } << QStringList();
        QTest::newRow("file://localhost URL") << source({ { folder, "file://localhost/srv/a%20b/c" } }) << ""
                                              << QStringList { "/srv/a b/c" } << QStringList();
        QTest::newRow("cut 2 gives the grandparent folder")
            << source({ { pp, "~/prefs/xml.plist" }, { pk, "LibraryFile" }, { cut, 2 } }) << ""
            << QStringList { "<home>/Music/Library" } << QStringList();
        QTest::newRow("cut -1, one matching file: no dialog")
            << source({ { folder, "~/one" }, { cut, -1 }, { mask, "photo.db" } }) << ""
            << QStringList { "<home>/one/library.db" } << QStringList();
        QTest::newRow("cut -1, two matching files: the user chooses")
            << source({ { folder, "~/two" }, { cut, -1 }, { mask, "photo.db" } }) << "<home>/two/b.db"
            << QStringList { "<home>/two/b.db" }
            << QStringList { "db|<home>/two|Choose datafile for T|Choose" };
        QTest::newRow("chooser cancelled: entry skipped")
            << source({ { folder, "~/two" }, { cut, -1 }, { mask, "x.db" }, { "filePrompt", "Pick it" } })
            << "-" << QStringList() << QStringList { "db|<home>/two|Pick it|Choose" };
    }

    void pathSources()
    {
        QFETCH(QVariantMap, entry);
        QFETCH(QString, chooserAnswer);
        QFETCH(QStringList, expected);
        QFETCH(QStringList, chooserCalls);

        TempTree home(QStringLiteral("home"));
        const QString h = home.path();
        QVariantMap xmlPrefs;
        xmlPrefs.insert("Text", "~/Music/Library");
        xmlPrefs.insert("LibraryFile", QString(h + "/Music/Library/db/lib.xml"));
        QVariantMap binPrefs;
        binPrefs.insert("Empty", QVariantList());
        binPrefs.insert("Array", QVariantList { "/data/first", "/x" });
        QVERIFY(home.writeFile(std::string("prefs/xml.plist"), PlistBridge::toXml(xmlPrefs)));
        QVERIFY(home.writeFile(std::string("prefs/bin.plist"), binaryPlist(binPrefs)));
        QVERIFY(home.writeFile(std::string("one/library.db")));
        QVERIFY(home.writeFile(std::string("one/notes.txt")));
        QVERIFY(home.writeFile(std::string("two/a.db")));
        QVERIFY(home.writeFile(std::string("two/b.db")));

        QVariantMap tmpl;
        tmpl.insert("pathSource", QVariantList { entry });
        QVariantMap list;
        list.insert("T", tmpl);
        TempTree res(QStringLiteral("res"));
        QVERIFY(res.writeFile(std::string("TemplateContent.plist"), PlistBridge::toXml(list)));

        RecordingShellServices shell;
        ShellServicesScope scope(&shell);
        ITemplateTool tool(res.filePath(std::string("TemplateContent.plist")), h, 101507);
        QStringList calls;
        tool.setFileChooser([&](const ITemplateTool::FileRequest& r) {
            calls << QStringList { r.extension, r.folder, r.prompt, r.buttonTitle }.join('|');
            return chooserAnswer == "-" ? QString() : QString(chooserAnswer).replace("<home>", h);
        });

        const std::optional<QStringList> paths = tool.templateContent(QStringLiteral("T"));
        QVERIFY(paths.has_value());
        expected.replaceInStrings("<home>", h);
        chooserCalls.replaceInStrings("<home>", h);
        QCOMPARE(*paths, expected);
        QCOMPARE(calls, chooserCalls);
        // One full-log line per resolved source.
        QCOMPARE(shell.textInfos().size(), expected.size());
        for (const auto& info : shell.textInfos()) {
            QCOMPARE(info.type, 1);
            QCOMPARE(info.target, quint8(4));
            QCOMPARE(info.text, QStringLiteral("Template T:  looking for <%1>").arg(expected.first()));
        }
    }

    void fixedPathsAndList()
    {
        TempTree res(QStringLiteral("res"));
        QVariantMap mail, itunes, list;
        mail.insert("path", QVariantList { "~/Mail", "/abs/x", 7 });
        itunes.insert("path", QVariantList { "~/Music/iTunes" });
        list.insert("Mail", mail);
        list.insert("iTunes", itunes);
        list.insert("Broken", "text");
        QVERIFY(res.writeFile(std::string("T.plist"), PlistBridge::toXml(list)));
        const QString listPath = res.filePath(std::string("T.plist"));

        ITemplateTool tool(listPath, QStringLiteral("/home/u"), 101507);
        QCOMPARE(tool.count(), 1); // iTunes is gone from 10.15 on, a non-dictionary never counts
        QCOMPARE(tool.templateName(0), QStringLiteral("Mail"));
        QVERIFY(tool.templateName(1).isNull());
        QCOMPARE(tool.templateContentCount("Mail"), 3);
        QCOMPARE(tool.templateContent("Mail", 0), QStringLiteral("/home/u/Mail"));
        QCOMPARE(*tool.templateContent(QStringLiteral("Mail")), (QStringList { "/home/u/Mail", "/abs/x" }));
        QVERIFY(!tool.templateContent(QStringLiteral("Nope")).has_value());

        ITemplateTool older(listPath, QStringLiteral("/home/u"), 101406);
        QCOMPARE(older.count(), 2);

        ITemplateTool missing(res.filePath(std::string("none.plist")), QStringLiteral("/home/u"), 101507);
        QCOMPARE(missing.count(), 0);
        QVERIFY(!missing.templateContent(QStringLiteral("Mail")).has_value());
    }

    void singleFileWithExtKeepsNameBytes()
    {
        TempTree t;
        QVERIFY(t.writeFile(std::string("d/caf\xe9.db")));
        QVERIFY(t.writeFile(std::string("d/other.dbx")));
        const QString name = ITemplateTool::singleFileWithExt("db", t.filePath(std::string("d")));
        QVERIFY(!name.isNull());
        QCOMPARE(t.filePath(std::string("d/caf\xe9.db")), t.filePath(std::string("d")) + "/" + name);
        QVERIFY(ITemplateTool::singleFileWithExt("db", t.filePath(std::string("none"))).isNull());
    }

    // The shipped list resolves against a home holding the folders it names.
    void shippedListEndToEnd()
    {
        TempTree home(QStringLiteral("home"));
        for (const char* d : { ".thunderbird", ".local/share/evolution", ".config/evolution",
                 ".mozilla/firefox", "Pictures", "Music/iTunes" })
            QVERIFY(home.mkdir(d));
        QVERIFY(home.writeFile(std::string(".local/share/shotwell/data/photo.db")));

        RecordingShellServices shell;
        ShellServicesScope scope(&shell);
        ITemplateTool tool(
            KvTest::appContentsDir() + "/Resources/TemplateContent.plist", home.path(), 101507);
        tool.setFileChooser([](const ITemplateTool::FileRequest&) {
            QTest::qFail("no data file should need a question", __FILE__, __LINE__);
            return QString();
        });
        QVERIFY(tool.count() >= 4);
        int sources = 0;
        for (int i = 0; i < tool.count(); ++i) {
            const QString name = tool.templateName(i);
            const std::optional<QStringList> paths = tool.templateContent(name);
            QVERIFY2(paths && !paths->isEmpty(), qPrintable(name));
            for (const QString& p : *paths)
                QVERIFY2(QFileInfo::exists(p), qPrintable(name + ": " + p));
            sources += tool.templateContentCount(name) < paths->size()
                ? paths->size() - tool.templateContentCount(name)
                : 0;
        }
        QVERIFY(sources >= 1);
        QCOMPARE(shell.textInfos().size(), sources);
        QVERIFY(
            shell.textInfos().first().text.endsWith(home.path() + "/.local/share/shotwell/data/photo.db>"));
    }
};

QTEST_GUILESS_MAIN(TestTemplateTool)
#include "tst_templatetool.moc"
