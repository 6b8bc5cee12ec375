// kv-test: labels=gui,dbus timeout=60
#include "PrivateBus.h"
#include "Screenshot.h"
#include "platform/DistributedNotificationCenter.h"
#include "shell/QVDockIconView.h"

#include <QtTest>
#include <QtWidgets>

namespace {
const QColor kBlue = QColor::fromRgbF(0.2f, 0.4f, 0.8f);

// The colour at a fraction of the bar's length, on its middle line, in a 128-pixel tile.
QColor atBar(const QImage& tile, double fraction)
{
    const double w = tile.width(), h = tile.height();
    const double left = w / 7 + 0.3, width = w - 2 * (w / 7) + 0.3, height = h / 15 + 0.3;
    const double top = h - (h / 10.5 + 0.3) - height;
    return tile.pixelColor(int(left + width * fraction), int(top + height / 2));
}

bool near(const QColor& a, const QColor& b)
{
    return qAbs(a.red() - b.red()) < 3 && qAbs(a.green() - b.green()) < 3 && qAbs(a.blue() - b.blue()) < 3;
}
} // namespace

// Keeps the properties of every LauncherEntry Update signal.
class LauncherEntryReceiver : public QObject
{
    Q_OBJECT
public:
    QList<QVariantMap>* updates = nullptr;
public Q_SLOTS:
    void update(const QString&, const QVariantMap& properties) { *updates << properties; }
};

// The application's tile: the icon with a progress bar while projects run, sent to the desktop
// as the window icon and the LauncherEntry signal.
class TestDockIcon : public QObject
{
    Q_OBJECT
    std::unique_ptr<PrivateBus> m_bus;

private Q_SLOTS:
    void initTestCase()
    {
        m_bus = std::make_unique<PrivateBus>();
        QVERIFY2(m_bus->isValid(), qPrintable(m_bus->errorString()));
        Screenshot::fixConditions();
    }
    void init() { QVDockIconView::resetForTests(); }

    void chosenIconSize_data()
    {
        QTest::addColumn<int>("maxWidth");
        QTest::addColumn<int>("width");
        QTest::newRow("fits the third") << 128 << 128;
        QTest::newRow("between two sizes") << 100 << 32;
        QTest::newRow("smaller than all") << 8 << 16;
        QTest::newRow("all fit") << 1000 << 256;
    }
    void chosenIconSize()
    {
        QFETCH(int, maxWidth);
        QFETCH(int, width);
        QIcon icon;
        for (int size : { 16, 32, 128, 256 }) {
            QPixmap p(size, size);
            p.fill(Qt::red);
            icon.addPixmap(p);
        }
        QCOMPARE(QVDockIconView::getImageFromIcon(icon, maxWidth).width(), width);
        // A scalable icon is drawn at the tile's width.
        QCOMPARE(QVDockIconView::getImageFromIcon(QIcon(QStringLiteral(":/icons/AppIcon.svg")), 128).width(), 128);
    }

    void barFollowsThePosition()
    {
        QImage icon(128, 128, QImage::Format_ARGB32_Premultiplied);
        icon.fill(Qt::white);
        const QImage plain = QVDockIconView::compose(icon, false, 70, kBlue);
        QCOMPARE(plain, icon.convertToFormat(QImage::Format_ARGB32_Premultiplied));
        struct Row
        {
            int position;
            bool quarterBlue, threeQuartersBlue;
        };
        for (const Row& r : { Row { 0, false, false }, Row { 50, true, false }, Row { 100, true, true } }) {
            const QImage tile = QVDockIconView::compose(icon, true, r.position, kBlue);
            QCOMPARE(near(atBar(tile, 0.25), kBlue), r.quarterBlue);
            QCOMPARE(near(atBar(tile, 0.75), kBlue), r.threeQuartersBlue);
            if (!r.threeQuartersBlue)
                QVERIFY(near(atBar(tile, 0.75), QColor::fromRgbF(0.8f, 0.8f, 0.8f)));
        }
        // The bar sits in the lower part of the tile, with the icon around it.
        QCOMPARE(QVDockIconView::compose(icon, true, 100, kBlue).pixelColor(64, 20), QColor(Qt::white));
    }

    void tileThroughTheDesktop()
    {
        // Before setup nothing is stored or drawn.
        QVDockIconView::setIndicatorVisible(true);
        QVDockIconView::setPosition(40);
        QVERIFY(!QVDockIconView::isIndicatorVisible());
        QCOMPARE(QVDockIconView::redisplayCount(), 0);

        QList<QVariantMap> updates;
        QDBusConnection listener = m_bus->connect(QStringLiteral("dock-listener"));
        LauncherEntryReceiver receiver;
        receiver.updates = &updates;
        QVERIFY(listener.connect(QString(), QString(), QStringLiteral("com.canonical.Unity.LauncherEntry"),
            QStringLiteral("Update"), &receiver, SLOT(update(QString, QVariantMap))));

        QVDockIconView::setup();
        QTRY_COMPARE(QVDockIconView::redisplayCount(), 1);
        QCOMPARE(QVDockIconView::currentImage().width(), QVDockIconView::kTileWidth);
        QVERIFY(!QApplication::windowIcon().isNull());

        // From a worker thread, as the run engines report: posted, drawn on the main thread.
        QThread* worker = QThread::create([] {
            QVDockIconView::setIndicatorVisible(true);
            QVDockIconView::setPosition(50);
        });
        worker->start();
        worker->wait();
        delete worker;
        QTRY_COMPARE(QVDockIconView::redisplayCount(), 3);
        QVERIFY(near(atBar(QVDockIconView::currentImage(), 0.25), kBlue));
        QTRY_VERIFY(!updates.isEmpty() && updates.last().value(QStringLiteral("progress")).toDouble() == 0.5);
        QVERIFY(updates.last().value(QStringLiteral("progress-visible")).toBool());

        // The picture: 0, 50 and 100 per cent side by side.
        QWidget strip;
        auto* row = new QHBoxLayout(&strip);
        for (int percent : { 0, 50, 100 }) {
            QVDockIconView::setPosition(percent);
            QTRY_COMPARE(QVDockIconView::position(), percent);
            QCoreApplication::processEvents();
            auto* label = new QLabel(&strip);
            label->setPixmap(QPixmap::fromImage(QVDockIconView::currentImage()));
            row->addWidget(label);
        }
        Screenshot::save(&strip, QStringLiteral("shell"), QStringLiteral("dock-icon"),
            QStringLiteral("The application tile at 0, 50 and 100 per cent"));

        // Hidden: the position goes back to 0 and the desktop hears that the bar is gone.
        QVDockIconView::setIndicatorVisible(false);
        QCOMPARE(QVDockIconView::position(), 0);
        QTRY_VERIFY(!updates.last().value(QStringLiteral("progress-visible")).toBool());
        const int count = QVDockIconView::redisplayCount();
        // A position while hidden is kept and draws nothing.
        QVDockIconView::setPosition(30);
        QCoreApplication::processEvents();
        QCOMPARE(QVDockIconView::redisplayCount(), count);
        QVERIFY(!near(atBar(QVDockIconView::currentImage(), 0.1), kBlue));
    }
};

QTEST_MAIN(TestDockIcon)
#include "tst_dockicon.moc"
