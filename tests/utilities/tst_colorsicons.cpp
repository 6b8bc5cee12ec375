// kv-test: labels=gui env=QT_QPA_PLATFORM=offscreen
#include "KvTest.h"
#include "TempTree.h"
#include "platform/AppPaths.h"
#include "utilities/HelpAnchor.h"
#include "utilities/IColorUtil.h"
#include "utilities/IDiskUtil.h"
#include "utilities/IIconUtil.h"
#include "utilities/LocaleNumbers.h"
#include "utilities/ProcessList.h"
#include "utilities/ScreenUtil.h"

#include <QFile>
#include <QGuiApplication>
#include <QLocale>
#include <QPalette>
#include <unistd.h>

// Colours and appearance, the icon table, locale numbers, screens, help anchors, processes.
class TestColorsIcons : public QObject
{
    Q_OBJECT
private:
    static void setDark(bool dark)
    {
        QPalette p = QGuiApplication::palette();
        p.setColor(QPalette::Window, dark ? QColor(30, 30, 30) : QColor(240, 240, 240));
        QGuiApplication::setPalette(p);
        IColorUtil::themeChanged();
    }

private Q_SLOTS:
    void initTestCase() { IColorUtil::setPortalColorSchemeOverride(std::nullopt); }
    void colours();
    void oldSystemsStayLight();
    void iconTable();
    void localeNumbers_data();
    void localeNumbers();
    void screens();
    void helpAnchor();
    void processList();
};

void TestColorsIcons::colours()
{
    QVERIFY(!IColorUtil::colorForTarget(16));
    QCOMPARE(IColorUtil::colorForTarget(6, 1), IColorUtil::colorForTarget(14, 1));
    QCOMPARE(IColorUtil::colorForTarget(9, 2), IColorUtil::colorForTarget(14, 2));
    QCOMPARE(IColorUtil::colorForTarget(14, 2)->redF(), 0.85f);
    setDark(true);
    QCOMPARE(IColorUtil::effectiveMode(), int(IColorUtil::ModeDark));
    setDark(false);
    QCOMPARE(IColorUtil::effectiveMode(), int(IColorUtil::ModeLight));
    // The portal's answer wins over the palette.
    IColorUtil::setPortalColorSchemeOverride(1);
    IColorUtil::themeChanged();
    QCOMPARE(IColorUtil::effectiveMode(), int(IColorUtil::ModeDark));
    IColorUtil::setPortalColorSchemeOverride(std::nullopt);
    IColorUtil::themeChanged();
}

void TestColorsIcons::oldSystemsStayLight()
{
    TempTree t(QStringLiteral("oldsys"));
    QVERIFY(t.writeFile(std::string("System/Library/CoreServices/SystemVersion.plist"),
        QByteArray(
            "<plist "
            "version=\"1.0\"><dict><key>ProductVersion</key><string>10.13.6</string></dict></plist>")));
    qputenv("KV_SYSTEM_ROOT", t.path().toUtf8());
    IDiskUtil::resetSystemVersionCache();
    setDark(true);
    QCOMPARE(IColorUtil::effectiveMode(), int(IColorUtil::ModeLight));
    qunsetenv("KV_SYSTEM_ROOT");
    IDiskUtil::resetSystemVersionCache();
    QCOMPARE(IColorUtil::effectiveMode(), int(IColorUtil::ModeDark)); // 10.15.7 honours dark
    setDark(false);
}

void TestColorsIcons::iconTable()
{
    for (const QString& name : IIconUtil::allIconNames())
        QVERIFY2(QFile::exists(IIconPack::resourcePath(name)), qPrintable(name));
    setDark(true);
    QCOMPARE(IIconUtil::shared().iconName(0, 1), QStringLiteral("backup_active_drk"));
    QCOMPARE(IIconUtil::shared().iconName(5, 0), QStringLiteral("plus_dis"));
    setDark(false);
    QCOMPARE(IIconUtil::shared().iconName(0, 1), QStringLiteral("backup_active"));
    QVERIFY(IIconUtil::shared().iconName(13, 1).isEmpty());
    QVERIFY(IIconUtil::shared().iconName(25, 0).isEmpty());
}

void TestColorsIcons::localeNumbers_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<float>("value");
    QTest::newRow("comma") << "1,5" << true << 1.5f;
    QTest::newRow("trailing letter") << "1,5x" << false << 0.0f;
    QTest::newRow("ends in separator") << "1," << true << 1.0f;
    QTest::newRow("dollar") << "$1,5" << true << 1.5f;
}

void TestColorsIcons::localeNumbers()
{
    QFETCH(QString, text);
    QFETCH(bool, ok);
    QFETCH(float, value);
    QLocale::setDefault(QLocale(QStringLiteral("de_DE")));
    float v = 0;
    QCOMPARE(LocaleNumbers::localeStringToFloat(text, &v), ok);
    if (ok)
        QCOMPARE(v, value);
    QCOMPARE(LocaleNumbers::localeIntegerValue(QStringLiteral("1.234")), 1234);
    QCOMPARE(LocaleNumbers::localeDoubleValue(QStringLiteral("1.234,5")), 1234.5);
    QLocale::setDefault(QLocale::c());
}

void TestColorsIcons::screens()
{
    QScreen* screen = QGuiApplication::primaryScreen();
    QVERIFY(screen);
    const QRect g = screen->geometry();
    QCOMPARE(ScreenUtil::convertPointToScreenCoordinates(screen, QPointF(g.x() + 10, g.y() + 20)),
        QPointF(10, 20));
    QCOMPARE(ScreenUtil::convertPointToScreenCoordinates(nullptr, QPointF(-5, 7)), QPointF(-5, 7));
    QCOMPARE(ScreenUtil::flipPoint(nullptr, QPointF(3, 4)), QPointF(3, -4));
    QCOMPARE(ScreenUtil::flipPoint(screen, QPointF(3, 4)), QPointF(3, g.height() - 4));
    ScreenUtil::resetBackingScaleFactor();
    QVERIFY(!ScreenUtil::isRetina(nullptr)); // offscreen: ratio 1
}

void TestColorsIcons::helpAnchor()
{
    TempTree t(QStringLiteral("helpapp"));
    const QString contents = t.filePath(QStringLiteral("Contents"));
    AppPaths::setContentsDirOverride(contents);
    QUrl opened;
    setHelpUrlOpener([&opened](const QUrl& u) {
        opened = u;
        return true;
    });
    QCOMPARE(MyGotoHelpAnchor(QStringLiteral("a")), -43); // no Info.plist
    QVERIFY(t.writeFile(std::string("Contents/Info.plist"),
        QByteArray("<plist version=\"1.0\"><dict><key>CFBundleName</key><string>X</string></dict></plist>")));
    QCOMPARE(MyGotoHelpAnchor(QStringLiteral("a")), -43);
    QVERIFY(t.writeFile(std::string("Contents/Info.plist"),
        QByteArray(
            "<plist "
            "version=\"1.0\"><dict><key>CFBundleHelpBookName</key><integer>3</integer></dict></plist>")));
    QCOMPARE(MyGotoHelpAnchor(QStringLiteral("a")), -50);
    QVERIFY(t.writeFile(std::string("Contents/Info.plist"),
        QByteArray(
            "<plist "
            "version=\"1.0\"><dict><key>CFBundleHelpBookName</key><string>Help</string></dict></plist>")));
    QVERIFY(t.writeFile(std::string("Contents/Resources/Help/index.html"), QByteArray("<html></html>")));
    QCOMPARE(MyGotoHelpAnchor(QStringLiteral("schedules")), 0);
    QCOMPARE(opened.fragment(), QStringLiteral("schedules"));
    QVERIFY(QFile::exists(opened.toLocalFile()));
    setHelpUrlOpener({});
    AppPaths::setContentsDirOverride(QString());
}

void TestColorsIcons::processList()
{
    std::vector<ProcessEntry> list;
    size_t count = 0;
    QCOMPARE(GetBSDProcessList(&list, &count), 0);
    QCOMPARE(count, list.size());
    bool self = false;
    for (const ProcessEntry& e : list)
        self = self || e.pid == ::getpid();
    QVERIFY(self);
    QCOMPARE(GetBSDProcessList(&list, &count), EINVAL); // must come in empty
}

QTEST_MAIN(TestColorsIcons)
#include "tst_colorsicons.moc"
