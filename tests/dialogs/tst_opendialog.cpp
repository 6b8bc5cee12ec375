// kv-test: labels=gui timeout=120

#include "Screenshot.h"
#include "TempTree.h"
#include "WhenOpen.h"
#include "shell/dialogs/IOpenDialog.h"
#include "shell/dialogs/WidgetUiPrompts.h"
#include "utilities/IPathUtil.h"

#include <QtTest>
#include <QtWidgets>

namespace {

QAbstractItemView* visibleView(QFileDialog* d)
{
    auto* tree = d->findChild<QAbstractItemView*>(QStringLiteral("treeView"));
    return tree && tree->isVisible() ? tree : d->findChild<QAbstractItemView*>(QStringLiteral("listView"));
}

// Selects the rows of these paths in the dialog's visible view, as a user's clicks would.
bool selectPaths(QFileDialog* d, const QStringList& paths)
{
    auto* model = d->findChild<QFileSystemModel*>();
    QAbstractItemView* view = visibleView(d);
    if (!model || !view)
        return false;
    view->selectionModel()->clearSelection();
    for (const QString& p : paths) {
        const QModelIndex index = model->index(p);
        if (!index.isValid())
            return false;
        view->selectionModel()->select(index, QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
    return true;
}

QPushButton* chooseButton(QFileDialog* d)
{
    return d->findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"))->button(QDialogButtonBox::Open);
}

} // namespace

class TestOpenDialog : public QObject
{
    Q_OBJECT
    TempTree m_tree { QStringLiteral("open") };

private Q_SLOTS:
    void initTestCase()
    {
        Screenshot::fixConditions();
        QVERIFY(m_tree.writeFile(std::string("project/backup.kvp"), QByteArray("x")));
        QVERIFY(m_tree.mkdir("empty"));
        QVERIFY(m_tree.writeFile(std::string("docs/<b>x.txt"), QByteArray("x")));
        QVERIFY(m_tree.writeFile(std::string("docs/a.txt"), QByteArray("a")));
        QVERIFY(m_tree.mkdir("docs/sub"));
        QVERIFY(m_tree.writeFile(std::string("docs/.hidden"), QByteArray("h")));
    }

    // The dialog's own children this class relies on.
    void childNames()
    {
        IOpenDialog d;
        QVERIFY(d.findChild<QAbstractItemView*>(QStringLiteral("listView")));
        QVERIFY(d.findChild<QAbstractItemView*>(QStringLiteral("treeView")));
        QVERIFY(qobject_cast<QGridLayout*>(d.layout()));
        QVERIFY(d.isAncestorOf(d.hiddenFilesBox()));
        QVERIFY(d.testOption(QFileDialog::DontUseNativeDialog));
    }

    void expectedFile_data()
    {
        QTest::addColumn<QString>("chosen");
        QTest::addColumn<bool>("folders");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("refusal"); // empty: accepted
        QTest::newRow("the file itself") << "project/backup.kvp" << false << QString() << QString();
        QTest::newRow("its folder") << "project" << true << QString() << QString();
        QTest::newRow("a folder without it")
            << "empty" << true << QString() << "File \"backup.kvp\" has not found.";
        QTest::newRow("the caller's text") << "empty" << true << "Choose the project folder"
                                           << "Choose the project folder";
    }
    void expectedFile()
    {
        QFETCH(QString, chosen);
        QFETCH(bool, folders);
        QFETCH(QString, message);
        QFETCH(QString, refusal);
        const QString path = m_tree.filePath(chosen);
        QString shown;
        bool stayedOpen = false;
        whenOpen<IOpenDialog>([&](IOpenDialog* d) {
            auto* model = d->findChild<QFileSystemModel*>();
            QTRY_VERIFY(model->index(path).isValid());
            QVERIFY(selectPaths(d, { path }));
            if (!refusal.isEmpty()) {
                whenOpen<QMessageBox>([&, d](QMessageBox* box) {
                    shown = box->text();
                    box->accept();
                    QTimer::singleShot(50, d, [&, d] {
                        stayedOpen = d->isVisible();
                        d->reject();
                    });
                });
            }
            chooseButton(d)->click();
        });
        UiPrompts::ItemChoiceRequest request;
        request.files = !folders;
        request.folders = folders;
        request.startPath = m_tree.path();
        request.expectedFile = QStringLiteral("/somewhere/backup.kvp");
        request.fileNotFoundMessage = message;
        WidgetUiPrompts prompts;
        const QStringList answer = prompts.chooseItems(request);
        if (refusal.isEmpty()) {
            QCOMPARE(answer, QStringList { path });
        } else {
            QVERIFY(answer.isEmpty());
            QCOMPARE(shown, refusal);
            QVERIFY(stayedOpen);
        }
    }

    // Files and folders chosen together; the validator sees all of them and its refusal, with
    // markup in it, shows as plain text while the dialog stays open.
    void validatorAndFilesWithFolders()
    {
        const QStringList three { m_tree.filePath(QStringLiteral("docs/<b>x.txt")),
            m_tree.filePath(QStringLiteral("docs/a.txt")), m_tree.filePath(QStringLiteral("docs/sub")) };
        QList<QStringList> seen;
        QString refusalText;
        Qt::TextFormat format = Qt::AutoText;
        bool stayedOpen = false;
        UiPrompts::ItemChoiceRequest request;
        request.files = true;
        request.folders = true;
        request.multiple = true;
        request.prompt = QStringLiteral("Add files and folders to the project");
        request.startPath = m_tree.filePath(QStringLiteral("docs"));
        request.validator = [&](const QStringList& paths) {
            seen.append(paths);
            return seen.size() == 1
                ? QStringLiteral("%1 cannot be added").arg(QFileInfo(paths.first()).fileName())
                : QString();
        };
        whenOpen<IOpenDialog>([&](IOpenDialog* d) {
            QVERIFY(d->isFilesAndFolders());
            auto* model = d->findChild<QFileSystemModel*>();
            QTRY_VERIFY(model->rowCount(model->index(request.startPath)) >= 3);
            QVERIFY(selectPaths(d, three));
            QTRY_VERIFY(chooseButton(d)->isEnabled()); // files selected in the folder mode
            whenOpen<QMessageBox>([&, d](QMessageBox* box) {
                refusalText = box->text();
                format = box->textFormat();
                Screenshot::save(d, QStringLiteral("controls"), QStringLiteral("open-refused"),
                    QStringLiteral("The open dialog refusing a choice; the name's markup shows as typed"));
                box->accept();
                QTimer::singleShot(50, d, [&, d] {
                    stayedOpen = d->isVisible();
                    // a folder and a file together this time
                    QVERIFY(selectPaths(d, { three[1], three[2] }));
                    Screenshot::save(d, QStringLiteral("controls"), QStringLiteral("open-files-and-folders"),
                        QStringLiteral("A file and a folder chosen together"));
                    chooseButton(d)->click();
                });
            });
            chooseButton(d)->click();
        });
        WidgetUiPrompts prompts;
        const QStringList answer = prompts.chooseItems(request);
        QCOMPARE(seen.size(), 2);
        QCOMPARE(QSet<QString>(seen[0].begin(), seen[0].end()), QSet<QString>(three.begin(), three.end()));
        QCOMPARE(refusalText, QStringLiteral("<b>x.txt cannot be added"));
        QCOMPARE(format, Qt::PlainText);
        QVERIFY(stayedOpen);
        QCOMPARE(QSet<QString>(answer.begin(), answer.end()), (QSet<QString> { three[1], three[2] }));
    }

    void rememberedFolder()
    {
        IPathUtil::shared().setRecentFolder(1, QString());
        UiPrompts::ItemChoiceRequest request;
        request.files = true;
        request.folders = true;
        request.recentFolderId = 1;
        request.startPath = m_tree.filePath(QStringLiteral("docs"));
        WidgetUiPrompts prompts;

        whenOpen<IOpenDialog>([](IOpenDialog* d) { d->reject(); });
        QVERIFY(prompts.chooseItems(request).isEmpty());
        QCOMPARE(IPathUtil::shared().recentFolder(1), QString());

        const QString file = m_tree.filePath(QStringLiteral("docs/a.txt"));
        whenOpen<IOpenDialog>([&](IOpenDialog* d) {
            QVERIFY(selectPaths(d, { file }));
            d->accept();
        });
        QCOMPARE(prompts.chooseItems(request), QStringList { file });
        QCOMPARE(IPathUtil::shared().recentFolder(1), m_tree.filePath(QStringLiteral("docs")));

        // the next dialog starts there; a folder chosen is remembered itself
        const QString folder = m_tree.filePath(QStringLiteral("docs/sub"));
        QString startedIn;
        whenOpen<IOpenDialog>([&](IOpenDialog* d) {
            startedIn = d->directory().absolutePath();
            d->hiddenFilesBox()->click(); // hidden files on, for this and later dialogs
            QVERIFY(d->filter() & QDir::Hidden);
            QVERIFY(selectPaths(d, { folder }));
            d->accept();
        });
        request.startPath = m_tree.path();
        QCOMPARE(prompts.chooseItems(request), QStringList { folder });
        QCOMPARE(startedIn, m_tree.filePath(QStringLiteral("docs")));
        QCOMPARE(IPathUtil::shared().recentFolder(1), folder);

        bool hiddenInNext = false;
        whenOpen<IOpenDialog>([&](IOpenDialog* d) {
            hiddenInNext = d->hiddenFilesBox()->isChecked() && (d->filter() & QDir::Hidden);
            d->reject();
        });
        prompts.chooseItems(request);
        QVERIFY(hiddenInNext);
        IOpenDialog::setShowHiddenFiles(false);
    }

    void folderChooser()
    {
        const QString folder = m_tree.filePath(QStringLiteral("empty"));
        QString prompt;
        whenOpen<IOpenDialog>([&](IOpenDialog* d) {
            prompt = d->promptLabel()->text();
            QCOMPARE(d->fileMode(), QFileDialog::Directory);
            QVERIFY(d->testOption(QFileDialog::ShowDirsOnly));
            QVERIFY(selectPaths(d, { folder }));
            chooseButton(d)->click();
        });
        UiPrompts::FolderChoiceRequest request;
        request.startPath = m_tree.path();
        WidgetUiPrompts prompts;
        QCOMPARE(prompts.chooseFolder(request), folder);
        QCOMPARE(prompt, QStringLiteral("Select file/folder"));
    }
};

QTEST_MAIN(TestOpenDialog)
#include "tst_opendialog.moc"
