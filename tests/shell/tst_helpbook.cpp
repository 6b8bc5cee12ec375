// kv-test: labels=unit
#include "KvTest.h"
#include "utilities/HelpAnchor.h"

#include <QDirIterator>
#include <QRegularExpression>
#include <QtTest>

// The help book that ships with the application has a section for every anchor the program
// opens, and an anchor opens the book's page at that section.
class TestHelpBook : public QObject
{
    Q_OBJECT

    static QString bookPage()
    {
        return KvTest::appContentsDir() + QStringLiteral("/Resources/Kelvane Pro 3 Help/index.html");
    }
    static QSet<QString> sectionIds()
    {
        QFile page(bookPage());
        if (!page.open(QIODevice::ReadOnly))
            return {};
        QSet<QString> ids;
        static const QRegularExpression id(QStringLiteral("id=\"([^\"]+)\""));
        for (const auto& m : id.globalMatch(QString::fromUtf8(page.readAll())))
            ids << m.captured(1);
        return ids;
    }

private Q_SLOTS:
    void everyAnchorHasASection()
    {
        const QSet<QString> ids = sectionIds();
        QVERIFY2(!ids.isEmpty(), qPrintable(bookPage()));
        // The anchors the windows name, also those of panes still to come.
        QSet<QString> anchors { "backup_properties_html", "archive_properties_html", "restore_qv_html",
            "synchro_settings_html", "cloning_settings_html", "ui_preferences_html",
            "cloning_messages_html_select_disks", "cloning_messages_html_clone_is_bootable" };
        // And every anchor written in the sources.
        static const QRegularExpression literal(QStringLiteral("\"([a-z_]+_html[a-z_]*)\""));
        QDirIterator it(KvTest::sourceDir() + QStringLiteral("/src"), { QStringLiteral("*.cpp"), QStringLiteral("*.h") },
            QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            QFile source(it.next());
            QVERIFY(source.open(QIODevice::ReadOnly));
            for (const auto& m : literal.globalMatch(QString::fromUtf8(source.readAll())))
                anchors << m.captured(1);
        }
        for (const QString& anchor : std::as_const(anchors))
            QVERIFY2(ids.contains(anchor), qPrintable(anchor));
    }

    void anchorOpensTheSection()
    {
        QList<QUrl> opened;
        setHelpUrlOpener([&](const QUrl& url) {
            opened << url;
            return true;
        });
        QCOMPARE(MyGotoHelpAnchor(QStringLiteral("restore_qv_html")), 0);
        setHelpUrlOpener({});
        QCOMPARE(opened.size(), 1);
        QCOMPARE(opened[0].fragment(), QStringLiteral("restore_qv_html"));
        QCOMPARE(QFileInfo(opened[0].toLocalFile()).canonicalFilePath(), QFileInfo(bookPage()).canonicalFilePath());
    }
};

QTEST_GUILESS_MAIN(TestHelpBook)
#include "tst_helpbook.moc"
