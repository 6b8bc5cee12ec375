#include "ILogDrawerController.h"

#include "platform/AppPaths.h"
#include "platform/AtomicFile.h"
#include "shell/MainWndController.h"
#include "utilities/IColorUtil.h"
#include "utilities/ICommon.h"
#include "utilities/MainPreferences.h"
#include "utilities/RunLog.h"

#include <QCloseEvent>
#include <QScreen>
#include <QCoreApplication>
#include <QDateTime>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QSettings>
#include <QToolButton>
#include <QVBoxLayout>

ILogDrawerController::ILogDrawerController(QWidget* parent)
    : QWidget(parent, Qt::Window)
{
    setWindowTitle(QCoreApplication::translate("Localizable", "Log"));
    setObjectName(QStringLiteral("LogWindow"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    m_view = new QPlainTextEdit(this);
    m_view->setReadOnly(true);
    m_view->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    layout->addWidget(m_view);
    // The clear button sits inside the log's scroll area, in its lower right corner.
    m_clear = new QToolButton(m_view->viewport());
    m_clear->setText(QCoreApplication::translate("Localizable", "Clear"));
    m_clear->setAutoRaise(false);
    connect(m_clear, &QToolButton::clicked, this, &ILogDrawerController::clearView);
    // The viewport gets its size after the window's layout ran: follow its own resizes.
    m_view->viewport()->installEventFilter(this);
    resize(520, 500);
    const QByteArray geometry = AppPaths::appSettings()->value(QStringLiteral("LogWindow")).toByteArray();
    if (!geometry.isEmpty())
        restoreGeometry(geometry);
    openLogFile();
    logFileToLogWindow();
}

ILogDrawerController::~ILogDrawerController()
{
    closeLogFile();
}

QString ILogDrawerController::sessionLogPath()
{
    return RunLog::shared().getLogsPath() + QStringLiteral("/SessionLog.txt");
}

void ILogDrawerController::openLogFile()
{
    if (!MainPreferences::shared().collectLogs() || m_file.isOpen())
        return;
    m_file.setFileName(sessionLogPath());
    if (!m_file.open(QIODevice::Append | QIODevice::WriteOnly))
        return;
    m_file.write(QStringLiteral("\n\n###  %1 %2\n\n")
                     .arg(QCoreApplication::translate("Localizable", "Session has started"),
                         ICommon::generalStringFromDateTime(QDateTime::currentDateTime()))
                     .toUtf8());
    m_file.flush();
}

void ILogDrawerController::closeLogFile()
{
    if (m_file.isOpen())
        m_file.close();
}

void ILogDrawerController::logFileToLogWindow()
{
    if (!MainPreferences::shared().collectLogs())
        return;
    QFile in(sessionLogPath());
    if (!in.open(QIODevice::ReadOnly))
        return;
    m_view->setPlainText(QString::fromUtf8(in.readAll()));
    m_view->moveCursor(QTextCursor::End);
}

void ILogDrawerController::appendLog(const QString& text)
{
    if (text.isEmpty())
        return;
    // Insert, not append: appendPlainText would start a paragraph for every piece.
    m_view->moveCursor(QTextCursor::End);
    m_view->insertPlainText(text);
    m_view->verticalScrollBar()->setValue(m_view->verticalScrollBar()->maximum());
    if (!m_file.isOpen())
        openLogFile();
    if (m_file.isOpen()) {
        m_file.write(text.toUtf8());
        m_file.flush();
    }
}

void ILogDrawerController::clearView()
{
    m_view->clear();
}

QString ILogDrawerController::text() const
{
    return m_view->toPlainText();
}

void ILogDrawerController::storeVisibility(bool visible)
{
    ICommon::saveMainPrefBoolValue(visible, QStringLiteral("qvShowLog"));
}

void ILogDrawerController::showWindow(QWidget* beside)
{
    if (beside) {
        // Beside the main window, but never past the screen's edge.
        const QRect main = beside->geometry();
        QPoint at(main.x() + main.width() + 10, y());
        if (const QScreen* screen = beside->screen()) {
            const QRect available = screen->availableGeometry();
            at.setX(qMax(available.left(), qMin(at.x(), available.right() + 1 - frameGeometry().width())));
            at.setY(qMax(available.top(), qMin(at.y(), available.bottom() + 1 - frameGeometry().height())));
        }
        move(at);
    }
    show();
    raise();
    storeVisibility(true);
}

void ILogDrawerController::toggleLogWindow()
{
    if (isVisible())
        hide();
    else
        show();
    storeVisibility(isVisible());
}

void ILogDrawerController::closeEvent(QCloseEvent* event)
{
    if (!g_appClosing)
        storeVisibility(false);
    AppPaths::appSettings()->setValue(QStringLiteral("LogWindow"), saveGeometry());
    QWidget::closeEvent(event);
}

void ILogDrawerController::hideEvent(QHideEvent* event)
{
    AppPaths::appSettings()->setValue(QStringLiteral("LogWindow"), saveGeometry());
    QWidget::hideEvent(event);
}

void ILogDrawerController::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    placeClearButton();
}

bool ILogDrawerController::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_view->viewport() && event->type() == QEvent::Resize)
        placeClearButton();
    return QWidget::eventFilter(watched, event);
}

void ILogDrawerController::placeClearButton()
{
    const QSize hint = m_clear->sizeHint();
    const QRect area = m_view->viewport()->rect();
    m_clear->setGeometry(
        area.right() - hint.width() - 6, area.bottom() - hint.height() - 6, hint.width(), hint.height());
}

void ILogDrawerController::closeAndTruncate()
{
    closeLogFile();
    truncLogFile(sessionLogPath());
}

bool ILogDrawerController::truncLogFile(const QString& path, int keep)
{
    QFile in(path);
    if (!in.open(QIODevice::ReadOnly))
        return false;
    const QByteArray bytes = in.readAll();
    if (in.error() != QFile::NoError)
        return false;
    in.close();
    QList<QByteArray> lines;
    for (const QByteArray& line : bytes.split('\n'))
        if (!line.isEmpty())
            lines << line;
    if (lines.size() > keep)
        lines = lines.mid(lines.size() - keep);
    QByteArray out;
    for (const QByteArray& line : std::as_const(lines))
        out += line + '\n';
    if (out == bytes)
        return false;
    QString error;
    return AtomicFile::write(path, out, &error);
}
