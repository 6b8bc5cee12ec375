#pragma once

#include "shell/ILogWindow.h"

#include <QFile>
#include <QWidget>

class QPlainTextEdit;
class QToolButton;

// The log window: every text the log sink sends to the window, kept also in SessionLog.txt in
// the logs folder while "CollectLogs" is on. Its visibility is the main preference "qvShowLog",
// its frame "LogWindow" in the application's settings.
class ILogDrawerController : public QWidget, public ILogWindow
{
    Q_OBJECT
public:
    explicit ILogDrawerController(QWidget* parent = nullptr);
    ~ILogDrawerController() override;

    void appendLog(const QString& text) override;
    // Shows the window and stores "qvShowLog" YES; beside: a window to place it 10 px right of.
    void showWindow(QWidget* beside);
    // Hides a visible window, else shows it; stores the resulting visibility.
    void toggleLogWindow();
    bool isWindowVisible() const { return isVisible(); }
    void clearView();
    QString text() const;
    QPlainTextEdit* logView() const { return m_view; }
    QToolButton* clearButton() const { return m_clear; }

    // SessionLog.txt in the logs folder.
    static QString sessionLogPath();
    void openLogFile();
    void closeLogFile();
    // The session log's text into the view.
    void logFileToLogWindow();
    // At quit: closes the session log and cuts it to its last 1000 lines.
    void closeAndTruncate();
    // Keeps the last keep non-empty lines of the file, bytes as they are, written to a new file
    // that replaces the old one; a file that cannot be read is left alone. False when unchanged.
    static bool truncLogFile(const QString& path, int keep = 1000);

protected:
    void closeEvent(QCloseEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void placeClearButton();
    void storeVisibility(bool visible);

    QPlainTextEdit* m_view = nullptr;
    QToolButton* m_clear = nullptr;
    QFile m_file;
};
