// kv-test: labels=gui timeout=120

#include "Screenshot.h"
#include "TempTree.h"
#include "WhenOpen.h"
#include "shell/dialogs/IBFloatTextFieldFormatter.h"
#include "shell/dialogs/ICapturePatternController.h"
#include "shell/dialogs/IImageTextCell.h"
#include "shell/dialogs/IMenuItemView.h"
#include "shell/dialogs/IOpenDialog.h"
#include "shell/dialogs/IQVVolumeSelector.h"
#include "shell/dialogs/QVToggleHeadButton.h"
#include "utilities/IPrivacyAppender.h"
#include "utilities/MainPreferences.h"

#include <QtTest>
#include <QtWidgets>

namespace {
QIcon filled(const QColor& color)
{
    QPixmap p(16, 16);
    p.fill(color);
    return QIcon(p);
}

QStandardItem* row(const QString& text, const QIcon& image, int flags, bool enabled = true)
{
    auto* item = new QStandardItem(image, text);
    item->setData(flags, IImageTextCell::FlagsRole);
    item->setEnabled(enabled);
    return item;
}

// True when some pixel of the column range [x0, x1] in row y differs from the background.
bool inkIn(const QImage& image, int x0, int x1, int y, const QColor& background)
{
    for (int x = std::max(0, x0); x <= std::min(image.width() - 1, x1); ++x)
        if (image.pixelColor(x, y) != background)
            return true;
    return false;
}
} // namespace

class TestCells : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { Screenshot::fixConditions(); }

    // The turning arrow: placed by its top-right corner, the pressed image only while held,
    // the disabled one when disabled, a click only for a release over it.
    void toggleHeadButton()
    {
        const QSize size = QVToggleHeadButton::buttonSize();
        QVERIFY(!size.isEmpty());
        QWidget panel;
        panel.resize(100, 40);
        auto* button = new QVToggleHeadButton(QPoint(90, 10), &panel);
        QCOMPARE(button->geometry(), QRect(QPoint(90 - size.width(), 10), size));
        panel.show();
        QVERIFY(QTest::qWaitForWindowExposed(&panel));

        const QPoint middle(size.width() / 2, size.height() / 2);
        auto centre = [&] { return button->grab().toImage().pixelColor(middle); };
        const QColor normal = centre();
        int clicks = 0;
        connect(button, &QAbstractButton::clicked, this, [&] { ++clicks; });
        QTest::mousePress(button, Qt::LeftButton, {}, middle);
        const QColor pressed = centre();
        QTest::mouseRelease(button, Qt::LeftButton, {}, QPoint(60, 5)); // released outside
        QCOMPARE(clicks, 0);
        QCOMPARE(centre(), normal);
        QTest::mouseClick(button, Qt::LeftButton, {}, middle);
        QCOMPARE(clicks, 1);
        button->setEnabled(false);
        const QColor disabled = centre();
        QVERIFY(pressed.lightness() < normal.lightness());
        QVERIFY(disabled.lightness() > normal.lightness());
    }

    // The image strip, the flags and the editor's place, in a real outline.
    void imageTextCell()
    {
        QCOMPARE(IImageTextCell::imageFrameForCellFrame(QRect(10, 0, 100, 20), QSize(16, 16)),
            QRect(13, 2, 16, 16));
        QCOMPARE(IImageTextCell::imageFrameForCellFrame(QRect(0, 0, 100, 21), QSize(16, 16)).y(), 3);
        QVERIFY(IImageTextCell::imageFrameForCellFrame(QRect(0, 0, 100, 20), QSize()).isEmpty());

        QStandardItemModel model;
        const QIcon red = filled(Qt::red);
        const QIcon blue = filled(Qt::blue);
        model.appendRow(row(QStringLiteral("Documents"), blue, 0));
        model.appendRow(row(QStringLiteral("Home"), blue, IImageTextCell::Main));
        model.appendRow(row(QStringLiteral(".cache"), blue, IImageTextCell::Hidden));
        model.appendRow(row(QStringLiteral("Excluded folder"), blue, IImageTextCell::Dimmed));
        model.appendRow(row(QStringLiteral("Unreadable"), red, 0, false));
        model.appendRow(row(QStringLiteral("A very long folder name that cannot be shown whole in this "
                                           "column.sparsebundle"),
            blue, 0));
        model.appendRow(row(QStringLiteral("No image"), QIcon(), IImageTextCell::Main));
        model.appendRow(row(QStringLiteral("Plain red"), red, 0));
        QTreeView view;
        view.setHeaderHidden(true);
        view.setRootIsDecorated(false);
        view.setModel(&model);
        view.setItemDelegate(new IImageTextCell(&view));
        view.resize(260, 230);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));

        const QImage shot = view.viewport()->grab().toImage();
        auto rect = [&](int r) { return view.visualRect(model.index(r, 0)); };
        auto stripPixel = [&](int r) { return shot.pixelColor(rect(r).x() + 1, rect(r).center().y()); };
        QCOMPARE(stripPixel(2), QColor(Qt::red)); // hidden item
        QVERIFY(stripPixel(0) != QColor(Qt::red));
        // the image at x + 3, faded when the item is disabled
        auto imagePixel = [&](int r) {
            return shot.pixelColor(IImageTextCell::imageFrameForCellFrame(rect(r), QSize(16, 16)).center());
        };
        QCOMPARE(imagePixel(7), QColor(Qt::red));
        const QColor faded = imagePixel(4);
        QCOMPARE(faded.red(), 255);
        QVERIFY(faded.green() > 80 && faded.green() < 120); // 0.6 over white

        QStyleOptionViewItem option;
        option.initFrom(&view);
        QVERIFY(IImageTextCell::textFont(option, IImageTextCell::Main, true).bold());
        QVERIFY(!IImageTextCell::textFont(option, 0, true).bold());
        QCOMPARE(IImageTextCell::textFont(option, 0, true).pixelSize(), 13);
        QCOMPARE(IImageTextCell::textColor(option, IImageTextCell::Dimmed), QColor(Qt::gray));
        QVERIFY(IImageTextCell::textColor(option, 0) != QColor(Qt::gray));

        // the size and the editor leave the image part out
        auto* cell = static_cast<IImageTextCell*>(view.itemDelegate());
        QStyleOptionViewItem sized;
        sized.initFrom(&view);
        sized.decorationSize = QSize(16, 16);
        // (an empty text, so that no text width enters)
        model.item(0)->setText(QString());
        QCOMPARE(cell->sizeHint(sized, model.index(0, 0)).width(), 4 + 16 + IImageTextCell::ImageInset);
        model.item(0)->setData(QVariant(), Qt::DecorationRole);
        QCOMPARE(cell->sizeHint(sized, model.index(0, 0)).width(), 4 + IImageTextCell::ImageInset);
        model.item(0)->setText(QStringLiteral("Documents"));
        model.item(0)->setIcon(blue);
        view.setEditTriggers(QAbstractItemView::AllEditTriggers);
        view.edit(model.index(0, 0));
        QWidget* editor = view.viewport()->findChild<QLineEdit*>();
        QVERIFY(editor);
        QCOMPARE(editor->geometry().x(), rect(0).x() + 16 + IImageTextCell::ImageInset);
    }

    // A titled separator: lines on both sides even without a title, the title from x + 21.
    void menuSeparator()
    {
        QWidgetAction* item
            = IMenuItemView::menuSeparatorItemWithTitle(QStringLiteral("Internal Disk(s)"), this);
        QCOMPARE(item->data().toInt(), IMenuItemView::Tag);
        QVERIFY(!item->isEnabled());
        QCOMPARE(item->text(), QStringLiteral("Internal Disk(s)"));

        for (const QString& title : { QString(), QStringLiteral("USB Disk") }) {
            IMenuItemView view(title);
            view.resize(220, 20);
            const QColor background = view.palette().color(QPalette::Window);
            const QImage shot = view.grab().toImage();
            bool anyInk = false;
            for (int y = 0; y < shot.height(); ++y) {
                QVERIFY2(!inkIn(shot, 19, IMenuItemView::TitleX - 1, y, background), qPrintable(title));
                anyInk
                    = anyInk || inkIn(shot, IMenuItemView::TitleX, IMenuItemView::TitleX + 5, y, background);
            }
            const int middle = 10;
            QVERIFY(inkIn(shot, 0, 18, middle, background)); // left line
            QVERIFY(inkIn(shot, 200, 219, middle, background)); // right line
            QCOMPARE(anyInk, !title.isEmpty()); // the title starts at x + 21
        }
    }

    void volumeSelector()
    {
        IQVVolumeSelector selector;
        selector.addSeparatorWithTitle(QStringLiteral("Internal Disk(s)"));
        QCOMPARE(selector.currentIndex(), -1); // a separator is no choice
        selector.addItem(QStringLiteral("System (120 GB free)"), 0);
        selector.insertSeparator(selector.count());
        selector.addSeparatorWithTitle(QStringLiteral("USB Disk"));
        selector.addItem(QStringLiteral("Backups (1.2 TB free)"), 1);
        QVERIFY(selector.isTitledSeparator(0) && selector.isTitledSeparator(3));
        QVERIFY(!selector.isTitledSeparator(1));
        QCOMPARE(selector.itemData(3).toInt(), IMenuItemView::Tag);
        const auto* items = qobject_cast<QStandardItemModel*>(selector.model());
        QVERIFY(!(items->item(3)->flags() & Qt::ItemIsEnabled));
        selector.setCurrentIndex(4);
        selector.resize(240, selector.sizeHint().height());
        selector.show();
        QVERIFY(QTest::qWaitForWindowExposed(&selector));
        // the keyboard steps over the separators
        QTest::keyClick(&selector, Qt::Key_Up);
        QCOMPARE(selector.currentIndex(), 1);
    }

    // The capture rows in a real open dialog: the rule and combine state written back, and the
    // dialog's hidden-files box bound to this controller's own flag, applied to the listing live.
    void capturePattern()
    {
        TempTree tree(QStringLiteral("capture"));
        QVERIFY(tree.writeFile(std::string("photos/img.jpeg"), QByteArray("x")));
        QVERIFY(tree.writeFile(std::string("photos/.thumbs"), QByteArray("x")));
        auto& controller = ICapturePatternController::shared();
        controller.setPatternRule(1);
        controller.setCombPatWithPrev(true);
        const bool processWide = IOpenDialog::showHiddenFiles();
        IOpenDialog dialog;
        controller.setPanel(&dialog);
        QVERIFY(dialog.isAncestorOf(controller.accessoryView()));
        QVERIFY(controller.ruleGroup()->button(1)->isChecked());
        QVERIFY(controller.combineBox()->isChecked());
        QVERIFY(!dialog.hiddenFilesBox()->isChecked());

        bool checked = false;
        whenOpen<IOpenDialog>([&](IOpenDialog* d) {
            auto* model = d->findChild<QFileSystemModel*>();
            QTRY_VERIFY(model->index(tree.filePath(QStringLiteral("photos/img.jpeg"))).isValid());
            QTest::mouseClick(controller.ruleGroup()->button(2), Qt::LeftButton);
            controller.combineBox()->click();
            controller.changeCheckShowHiddens(true);
            QVERIFY(d->hiddenFilesBox()->isChecked());
            QVERIFY(d->filter() & QDir::Hidden);
            QTRY_VERIFY(model->index(tree.filePath(QStringLiteral("photos/.thumbs"))).isValid());
            Screenshot::save(d, QStringLiteral("controls"), QStringLiteral("capture-pattern"),
                QStringLiteral("The open dialog with the capture rows, hidden files shown"));
            checked = true;
            d->reject();
        });
        dialog.executePrompt(QStringLiteral("Capture"), QStringLiteral("Capture"),
            tree.filePath(QStringLiteral("photos")), true, true, false);
        QVERIFY(checked);
        QCOMPARE(controller.patternRule(), 2);
        QVERIFY(!controller.isCombPatWithPrev());
        QVERIFY(controller.showHiddens());
        QCOMPARE(IOpenDialog::showHiddenFiles(), processWide); // the shared flag is left alone
        controller.changeCheckShowHiddens(false);
    }

    void floatFormatter_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("empty") << "en_US"
                               << "" << true;
        QTest::newRow("point") << "en_US"
                               << "12.5" << true;
        QTest::newRow("trailing point") << "en_US"
                                        << "12." << true;
        QTest::newRow("dollar") << "en_US"
                                << "$3.25" << true;
        QTest::newRow("two dollars") << "en_US"
                                     << "$$3" << false;
        QTest::newRow("minus") << "en_US"
                               << "-1" << false;
        QTest::newRow("text left over") << "en_US"
                                        << "2.5x" << false;
        QTest::newRow("letters") << "en_US"
                                 << "abc" << false;
        QTest::newRow("comma") << "de_DE"
                               << "12,5" << true;
        QTest::newRow("trailing comma") << "de_DE"
                                        << "12," << true;
        QTest::newRow("point in German") << "de_DE"
                                         << "12.5" << false;
    }
    void floatFormatter()
    {
        QFETCH(QString, locale);
        QFETCH(QString, text);
        QFETCH(bool, accepted);
        const QLocale before;
        QLocale::setDefault(QLocale(locale));
        IBFloatTextFieldFormatter formatter;
        QString input = text;
        int pos = input.size();
        QCOMPARE(formatter.validate(input, pos) == QValidator::Acceptable, accepted);
        QString error;
        const std::optional<QString> value = IBFloatTextFieldFormatter::objectValueForString(text, &error);
        QCOMPARE(value.has_value(), accepted);
        if (accepted)
            QCOMPARE(*value, text); // the text itself is the value
        else
            QCOMPARE(error, QStringLiteral("Couldn\u2019t convert  to CGFloat"));
        QLocale::setDefault(before);
    }

    // Typing into a field with the formatter: a minus never gets in.
    void floatFormatterTyping()
    {
        QLineEdit field;
        field.setValidator(new IBFloatTextFieldFormatter(&field));
        field.show();
        QVERIFY(QTest::qWaitForWindowActive(&field));
        QTest::keyClicks(&field, QStringLiteral("-1.5"));
        QCOMPARE(field.text(), QStringLiteral("1.5"));
    }

    // Disk access needs no granting here: no window, no preference written.
    void privacyPrompt()
    {
        const QString prefs = MainPreferences::prefsFilePath();
        const QFileInfo before(prefs);
        QVERIFY(IPrivacyAppender::appendQVToPrivacyByUser());
        QVERIFY(!QApplication::activeModalWidget());
        const QFileInfo after(prefs);
        QCOMPARE(after.exists(), before.exists());
        QCOMPARE(after.lastModified(), before.lastModified());
    }

    // All of them in one window, for a person to look at.
    void picture()
    {
        QWidget window;
        window.setWindowTitle(QStringLiteral("Cells"));
        auto* layout = new QGridLayout(&window);

        QStandardItemModel model;
        const QIcon folder = window.style()->standardIcon(QStyle::SP_DirIcon);
        model.appendRow(row(QStringLiteral("Home (main item)"), folder, IImageTextCell::Main));
        model.appendRow(row(QStringLiteral("Documents"), folder, 0));
        model.appendRow(row(QStringLiteral(".cache (hidden item)"), folder, IImageTextCell::Hidden));
        model.appendRow(row(QStringLiteral("Downloads (dimmed)"), folder, IImageTextCell::Dimmed));
        model.appendRow(row(QStringLiteral("Unreadable (disabled)"), folder, 0, false));
        model.appendRow(row(
            QStringLiteral("Photos from the summer holidays 2026 in the mountains.sparsebundle"), folder, 0));
        model.appendRow(row(QStringLiteral("Selected"), folder, 0));
        auto* view = new QTreeView(&window);
        view->setHeaderHidden(true);
        view->setRootIsDecorated(false);
        view->setModel(&model);
        view->setItemDelegate(new IImageTextCell(view));
        view->setCurrentIndex(model.index(6, 0));
        view->setFixedSize(260, 170);
        layout->addWidget(view, 0, 0, 3, 1);

        auto* heads = new QWidget(&window);
        auto* headRow = new QHBoxLayout(heads);
        for (const char* state : { "normal", "pressed", "disabled" }) {
            auto* b = new QVToggleHeadButton(heads);
            b->setFixedSize(QVToggleHeadButton::buttonSize());
            if (QLatin1String(state) == QLatin1String("pressed"))
                b->setDown(true);
            b->setEnabled(QLatin1String(state) != QLatin1String("disabled"));
            headRow->addWidget(b);
            headRow->addWidget(new QLabel(QString::fromLatin1(state), heads));
        }
        headRow->addStretch(1);
        layout->addWidget(heads, 0, 1);

        auto* menuLike = new QFrame(&window);
        menuLike->setFrameShape(QFrame::StyledPanel);
        auto* menuRows = new QVBoxLayout(menuLike);
        menuRows->addWidget(new IMenuItemView(QStringLiteral("Internal Disk(s)"), menuLike));
        menuRows->addWidget(new QLabel(QStringLiteral("   System"), menuLike));
        menuRows->addWidget(new IMenuItemView(QString(), menuLike));
        menuRows->addWidget(new QLabel(QStringLiteral("   Backups"), menuLike));
        menuLike->setFixedWidth(260);
        layout->addWidget(menuLike, 1, 1);

        auto* selector = new IQVVolumeSelector(&window);
        selector->addSeparatorWithTitle(QStringLiteral("Internal Disk(s)"));
        selector->addItem(QStringLiteral("System (120 GB free)"));
        selector->addSeparatorWithTitle(QStringLiteral("USB Disk"));
        selector->addItem(QStringLiteral("Backups (1.2 TB free)"));
        selector->setCurrentIndex(3);
        layout->addWidget(selector, 2, 1);

        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        view->setFocus();
        Screenshot::save(&window, QStringLiteral("controls"), QStringLiteral("cells"),
            QStringLiteral("Image-text cells by flag, turning arrows, titled separators, the volume pop-up"));
        selector->showPopup();
        QWidget* popup = selector->view()->window();
        QVERIFY(QTest::qWaitForWindowExposed(popup));
        Screenshot::save(popup, QStringLiteral("controls"), QStringLiteral("volume-popup"),
            QStringLiteral("The volume pop-up with titled separators"));
        selector->hidePopup();
    }
};

QTEST_MAIN(TestCells)
#include "tst_cells.moc"
