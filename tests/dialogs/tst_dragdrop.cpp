// kv-test: labels=gui timeout=120

#include "Screenshot.h"
#include "TempTree.h"
#include "platform/NameCodec.h"
#include "projects/IDDOutlineViewController.h"
#include "shell/dialogs/IDDOutlineView.h"

#include <QtTest>
#include <QtWidgets>

namespace {

struct RecordingController : IDDOutlineViewController
{
    bool dragAndDrop = true;
    QString emptyText;
    QList<QStringList> files;
    QStringList templates;
    int reloads = 0;
    bool isDragAndDrop() override { return dragAndDrop; }
    void addTemplateToContent(const QString& description, const QImage& icon) override
    {
        templates << description + QStringLiteral(" %1x%2").arg(icon.width()).arg(icon.height());
    }
    void addFilesToContent(const QStringList& paths) override { files << paths; }
    void reloadViewData() override { ++reloads; }
    bool isEmptyContentAndString(QString* text) override
    {
        *text = emptyText;
        return true;
    }
};

// Sends a drag entering the outline's viewport and, when it was accepted, the drop.
bool dragAndDrop(IDDOutlineView* view, QMimeData* mime)
{
    const QPoint centre = view->viewport()->rect().center();
    QDragEnterEvent enter(centre, Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(view->viewport(), &enter);
    if (!enter.isAccepted())
        return false;
    QDropEvent drop(centre, Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(view->viewport(), &drop);
    return drop.isAccepted();
}

struct CountingImageView : IDDImageView
{
    int drags = 0;
    void startContentDrag() override { ++drags; }
};

} // namespace

class TestDragDrop : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { Screenshot::fixConditions(); }

    // Bytes that are not UTF-8 come back as they were; other hosts and schemes are no paths.
    void droppedUrls()
    {
        const QString path = DroppedData::localPath(QUrl::fromEncoded("file:///data/caf%E9"));
        QCOMPARE(NameCodec::encode(path), QByteArray("/data/caf\xE9"));
        QCOMPARE(DroppedData::localPath(QUrl::fromEncoded("file://localhost/a%20b")), QStringLiteral("/a b"));
        QVERIFY(DroppedData::localPath(QUrl(QStringLiteral("file://otherhost/x"))).isNull());
        QVERIFY(DroppedData::localPath(QUrl(QStringLiteral("http://example.org/x"))).isNull());
    }

    void acceptance()
    {
        TempTree tree(QStringLiteral("drops"));
        QVERIFY(tree.mkdir("plain") && tree.mkdir("caf\xE9"));
        const QByteArray plainUrl
            = "file://" + QUrl::toPercentEncoding(tree.filePath(std::string("plain")), "/");
        const QByteArray oddUrl
            = "file://" + NameCodec::encode(tree.path()).toPercentEncoding("/") + "/caf%E9";
        IDDOutlineView view;
        RecordingController controller;
        view.setController(&controller);
        view.resize(300, 200);
        view.show();

        auto uriList = [](const QByteArrayList& urls) {
            auto* mime = new QMimeData;
            mime->setData(QStringLiteral("text/uri-list"), urls.join("\r\n") + "\r\n");
            return mime;
        };
        // drops refused at the door
        controller.dragAndDrop = false;
        std::unique_ptr<QMimeData> files(uriList({ plainUrl, oddUrl }));
        QVERIFY(!dragAndDrop(&view, files.get()));
        QVERIFY(controller.files.isEmpty());
        controller.dragAndDrop = true;

        QVERIFY(dragAndDrop(&view, files.get()));
        QCOMPARE(controller.files.size(), 1);
        QCOMPARE(controller.files[0].size(), 2);
        QCOMPARE(NameCodec::encode(controller.files[0][1]), NameCodec::encode(tree.path()) + "/caf\xE9");
        QCOMPARE(controller.files[0][0], tree.filePath(std::string("plain")));
        QCOMPARE(controller.reloads, 1);

        std::unique_ptr<QMimeData> outside(uriList({ "http://example.org/a", "file://otherhost/data/x" }));
        QVERIFY(!dragAndDrop(&view, outside.get()));

        QImage icon(16, 16, QImage::Format_ARGB32);
        icon.fill(Qt::red);
        QMimeData content;
        content.setData(QLatin1String(DroppedData::kContentType),
            DroppedData::encodeContent(QStringLiteral("Mail"), icon));
        QVERIFY(dragAndDrop(&view, &content));
        QCOMPARE(controller.templates, QStringList { QStringLiteral("Mail 16x16") });

        QMimeData own;
        own.setData(QLatin1String(DroppedData::kOwnRowsType), QByteArray(4, '\0'));
        own.setData(QStringLiteral("text/uri-list"), plainUrl + "\r\n");
        QVERIFY(!dragAndDrop(&view, &own));
        QCOMPARE(controller.files.size(), 1);
        QCOMPARE(controller.reloads, 2);
    }

    void painting()
    {
        IDDOutlineView view;
        RecordingController controller;
        view.setController(&controller);
        QStandardItemModel model;
        view.setModel(&model);
        view.resize(360, 220);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        const QColor base = view.palette().color(QPalette::Base);
        auto uniform = [&] {
            const QImage image = view.viewport()->grab().toImage();
            for (int y = 0; y < image.height(); y += 3)
                for (int x = 0; x < image.width(); x += 3)
                    if (image.pixelColor(x, y) != base)
                        return false;
            return true;
        };
        QVERIFY(uniform()); // empty and no text: the background only
        controller.emptyText = QStringLiteral("Drop files and folders here");
        view.viewport()->update();
        QVERIFY(!uniform());
        Screenshot::save(&view, QStringLiteral("controls"), QStringLiteral("outline-empty"),
            QStringLiteral("An empty content outline with its text"));

        QMimeData content;
        content.setData(QLatin1String(DroppedData::kContentType),
            DroppedData::encodeContent(QStringLiteral("Mail"), QImage()));
        QDragEnterEvent enter(QPoint(50, 50), Qt::CopyAction, &content, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(view.viewport(), &enter);
        QVERIFY(view.isDragOver());
        QCOMPARE(view.viewport()->grab().toImage().pixelColor(2, 100), QColor(255, 204, 0));
        Screenshot::save(&view, QStringLiteral("controls"), QStringLiteral("outline-drag-over"),
            QStringLiteral("A template item dragged over the outline"));
        QDragLeaveEvent leave;
        QApplication::sendEvent(view.viewport(), &leave);
        QVERIFY(view.viewport()->grab().toImage().pixelColor(2, 100) != QColor(255, 204, 0));
    }

    void rowsAndScrolling()
    {
        IDDOutlineView view;
        QStandardItemModel model;
        for (int i = 0; i < 100; ++i)
            model.appendRow(new QStandardItem(QStringLiteral("Item %1").arg(i)));
        view.setModel(&model);
        view.resize(200, 150);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        QModelIndex clicked;
        connect(
            &view, &IDDOutlineView::contextMenuRequestedAt, this, [&](const QModelIndex& i) { clicked = i; });
        const QRect third = view.visualRect(model.index(3, 0));
        QContextMenuEvent menu(
            QContextMenuEvent::Mouse, third.center(), view.viewport()->mapToGlobal(third.center()));
        QApplication::sendEvent(view.viewport(), &menu);
        QCOMPARE(clicked.row(), 3);
        QCOMPARE(view.selectionModel()->selectedRows().value(0).row(), 3);

        view.setScrollRect(QRect(0, 40, 0, 10)); // no width: nothing moves
        QCOMPARE(view.verticalScrollBar()->value(), 0);
        view.setScrollRect(QRect(0, 40, 10, 10));
        QCOMPARE(view.verticalScrollBar()->value(), 40);
    }

    void templateImage()
    {
        CountingImageView image;
        QImage icon(32, 32, QImage::Format_ARGB32);
        icon.fill(Qt::blue);
        image.setContent(QStringLiteral("Mail"), icon);
        image.resize(64, 64);
        image.show();
        int clicks = 0;
        connect(&image, &IDDImageView::clicked, this, [&] { ++clicks; });
        QTest::mousePress(&image, Qt::LeftButton, {}, QPoint(30, 30));
        QTest::mouseRelease(&image, Qt::LeftButton, {}, QPoint(30, 30));
        QCOMPARE(clicks, 1);
        QCOMPARE(image.drags, 0);
        QTest::mousePress(&image, Qt::LeftButton, {}, QPoint(30, 30));
        QTest::mouseMove(&image, QPoint(30 + QApplication::startDragDistance() + 5, 30));
        QTest::mouseRelease(&image, Qt::LeftButton, {}, QPoint(40, 30));
        QCOMPARE(image.drags, 1);
        QCOMPARE(clicks, 1);
    }
};

QTEST_MAIN(TestDragDrop)
#include "tst_dragdrop.moc"
