#include "Screenshot.h"

#include "KvTest.h"
#include "ModalWatchdog.h"
#include "utilities/IColorUtil.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFont>
#include <QLocale>
#include <QPainter>
#include <QPixmap>
#include <QScreen>
#include <QStyle>
#include <QStyleFactory>
#include <QWidget>
#include <ctime>

namespace Screenshot {

namespace {

QPalette lightPalette()
{
    static QStyle* fusion = QStyleFactory::create(QStringLiteral("Fusion"));
    return fusion->standardPalette();
}

QPalette darkPalette()
{
    QPalette p;
    const QColor window(53, 53, 53), base(35, 35, 35), text(230, 230, 230);
    p.setColor(QPalette::Window, window);
    p.setColor(QPalette::WindowText, text);
    p.setColor(QPalette::Base, base);
    p.setColor(QPalette::AlternateBase, window);
    p.setColor(QPalette::ToolTipBase, window);
    p.setColor(QPalette::ToolTipText, text);
    p.setColor(QPalette::Text, text);
    p.setColor(QPalette::Button, window);
    p.setColor(QPalette::ButtonText, text);
    p.setColor(QPalette::BrightText, Qt::red);
    p.setColor(QPalette::Highlight, QColor(42, 130, 218));
    p.setColor(QPalette::HighlightedText, Qt::black);
    p.setColor(QPalette::Disabled, QPalette::Text, QColor(127, 127, 127));
    p.setColor(QPalette::Disabled, QPalette::WindowText, QColor(127, 127, 127));
    p.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(127, 127, 127));
    return p;
}

QString outputDir()
{
    const QByteArray env = qgetenv("KV_SCREENSHOT_DIR");
    if (!env.isEmpty())
        return QString::fromLocal8Bit(env);
    const QString build = KvTest::buildDir();
    return (build.isEmpty() ? QDir::tempPath() : build) + QStringLiteral("/screenshots");
}

// The window with the top-level boxes shown over it (message boxes, sheets), from the screen.
QPixmap grabWithBoxes(QWidget* window)
{
    QRect area = window->frameGeometry();
    bool boxes = false;
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (w == window || !w->isVisible() || !w->parentWidget())
            continue;
        if (w->parentWidget()->window() == window) {
            area = area.united(w->frameGeometry());
            boxes = true;
        }
    }
    if (!boxes || !window->screen())
        return window->grab();
    const QPixmap screen = window->screen()->grabWindow(0);
    return screen.copy(area);
}

} // namespace

void fixConditions()
{
    static bool done = false;
    if (done || !qApp)
        return;
    done = true;
    ModalWatchdog::instance();
    if (qEnvironmentVariableIsEmpty("TZ")) {
        qputenv("TZ", "UTC");
        ::tzset();
    }
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(13);
    QApplication::setFont(font);
    setDarkPalette(false);
}

void setDarkPalette(bool dark)
{
    QApplication::setPalette(dark ? darkPalette() : lightPalette());
    IColorUtil::setPortalColorSchemeOverride(std::nullopt);
    IColorUtil::themeChanged();
}

QString save(QWidget* window, const QString& folder, const QString& name, const QString& caption)
{
    fixConditions();
    if (!window)
        return {};
    const bool dark = name.endsWith(QLatin1String("-dark"));
    if (dark)
        setDarkPalette(true);
    if (!window->isVisible())
        window->show();
    window->repaint();
    QCoreApplication::processEvents();
    const QPixmap picture = grabWithBoxes(window);
    if (dark) {
        setDarkPalette(false);
        QCoreApplication::processEvents();
    }

    const QString path = externalPath(folder, name, caption);
    if (!picture.save(path, "PNG")) {
        qWarning().noquote() << "The picture could not be written:" << path;
        return {};
    }
    return path;
}

QString externalPath(const QString& folder, const QString& name, const QString& caption)
{
    const QString dir = outputDir() + QLatin1Char('/') + folder;
    QDir().mkpath(dir);
    QFile index(dir + QStringLiteral("/INDEX.md"));
    if (index.open(QIODevice::WriteOnly | QIODevice::Append))
        index.write(QStringLiteral("%1: %2\n").arg(name, caption).toUtf8());
    return dir + QLatin1Char('/') + name + QStringLiteral(".png");
}

} // namespace Screenshot
