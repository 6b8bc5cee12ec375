// kv-test: labels=gui timeout=60

#include "Screenshot.h"
#include "projects/ProjectColor.h"
#include "shell/dialogs/ATBigButton.h"
#include "shell/dialogs/ATColorButton.h"

#include <QtTest>
#include <QtWidgets>

namespace {
QIcon filled(const QColor& color)
{
    QPixmap p(24, 24);
    p.fill(color);
    return QIcon(p);
}

QColor centre(QWidget* w)
{
    return w->grab().toImage().pixelColor(w->width() / 2, w->height() / 2);
}
} // namespace

class TestButtons : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { Screenshot::fixConditions(); }

    void bigButtonStates()
    {
        QWidget panel;
        auto* layout = new QHBoxLayout(&panel);
        auto* title = new ATBigButton(&panel);
        title->setText(QStringLiteral("Restore"));
        auto* image = new ATBigButton(&panel);
        image->setFixedSize(40, 40);
        layout->addWidget(title);
        layout->addWidget(image);
        panel.show();
        QVERIFY(QTest::qWaitForWindowExposed(&panel));

        // title mode draws no image, even with one set
        title->setNormalImage(filled(Qt::red));
        title->setTitleOnly(true);
        const QImage drawn = title->grab().toImage();
        for (int y = 0; y < drawn.height(); ++y)
            for (int x = 0; x < drawn.width(); ++x)
                QVERIFY(drawn.pixelColor(x, y) != QColor(Qt::red));
        QCOMPARE(title->currentColor(), title->normalColor());

        image->setNormalImage(filled(Qt::red));
        QVERIFY(!image->isTitleOnly());
        QVERIFY(!image->mousedImage().isNull() && !image->pressedImage().isNull()); // filled in
        QCOMPARE(centre(image), QColor(Qt::red));
        image->setMousedImage(filled(Qt::green));
        QEnterEvent enter(QPointF(20, 20), QPointF(20, 20), QPointF(20, 20));
        QApplication::sendEvent(image, &enter);
        QVERIFY(image->isMouseEntered());
        QCOMPARE(centre(image), QColor(Qt::green));
        QEvent leave(QEvent::Leave);
        QApplication::sendEvent(image, &leave);
        image->setDisabledImage(filled(Qt::gray));
        image->setEnabled(false);
        QCOMPARE(centre(image), QColor(Qt::gray));
        image->setEnabled(true);

        int clicks = 0;
        connect(image, &QAbstractButton::clicked, this, [&] { ++clicks; });
        QTest::mousePress(image, Qt::LeftButton, {}, QPoint(20, 20));
        QTest::mouseRelease(image, Qt::LeftButton, {}, QPoint(200, 20)); // released outside
        QCOMPARE(clicks, 0);
        QTest::mouseClick(image, Qt::LeftButton, {}, QPoint(20, 20));
        QCOMPARE(clicks, 1);
        Screenshot::save(&panel, QStringLiteral("controls"), QStringLiteral("buttons-states"),
            QStringLiteral("A title button and an image button"));
    }

    void colourChooser()
    {
        ATColorButton button;
        button.show();
        QAction* green = nullptr;
        for (QAction* a : button.colorMenu()->actions())
            if (a->text() == QLatin1String("Green"))
                green = a;
        QVERIFY(green);
        QCOMPARE(button.colorMenu()->actions().size(), 9);
        green->trigger();
        QCOMPARE(button.color(), QColor(143, 193, 37));
        for (QAction* a : button.colorMenu()->actions())
            QCOMPARE(a->isChecked(), a == green);

        button.setColor(QColor(1, 2, 3));
        for (QAction* a : button.colorMenu()->actions())
            QVERIFY(!a->isChecked());
        button.actColorSelect(9); // no such label
        QCOMPARE(button.color(), QColor(1, 2, 3));
        button.setColor(QColor(84, 168, 255));
        QCOMPARE(ProjectColor::labelTagOf(button.color()), 5);
        QVERIFY(button.colorMenu()->actions().at(5)->isChecked());

        button.colorMenu()->popup(QPoint(100, 100));
        QVERIFY(QTest::qWaitForWindowExposed(button.colorMenu()));
        Screenshot::save(button.colorMenu(), QStringLiteral("controls"), QStringLiteral("colour-menu"),
            QStringLiteral("The colour labels, Blue checked"));
        button.colorMenu()->hide();
    }
};

QTEST_MAIN(TestButtons)
#include "tst_buttons.moc"
