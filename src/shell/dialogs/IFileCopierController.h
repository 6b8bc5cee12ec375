#pragma once

#include "utilities/IFileCopier.h"

#include <QDialog>

class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;

// The file copier's window: the copy's progress ("Progress:" and "Files:" from rsync's lines),
// Cancel while it runs (which stops rsync and answers NO), then "Ok" with the buttons to show
// the target and the log. A failed copy shows rsync's last error lines and answers NO.
class IFileCopierController : public QDialog, public IFileCopierWindow
{
    Q_OBJECT
public:
    explicit IFileCopierController(QWidget* parent = nullptr);
    ~IFileCopierController() override;

    bool copyInWindow(
        const QString& source, const QString& target, const QString& title, const QString& prompt) override;

    void setPrompt(const QString& text);
    void setStatus(const QString& text);

    QLabel* topText() const { return m_topText; }
    QLabel* progressLine() const { return m_prompt; }
    QLabel* fileLine() const { return m_status; }
    QPlainTextEdit* errorText() const { return m_errors; }
    QPushButton* okButton() const { return m_ok; }
    QPushButton* showButton() const { return m_show; }
    QPushButton* logButton() const { return m_log; }
    bool isCopying() const { return m_copying; }

public Q_SLOTS:
    // Escape and closing the window: Cancel while copying.
    void reject() override;

private:
    void showInFileManager();
    void hideButtons();
    void showButtons();

    QLabel* m_topText = nullptr;
    QLabel* m_prompt = nullptr;
    QLabel* m_status = nullptr;
    QProgressBar* m_bar = nullptr;
    QPlainTextEdit* m_errors = nullptr;
    QPushButton* m_ok = nullptr;
    QPushButton* m_show = nullptr;
    QPushButton* m_log = nullptr;
    QString m_target;
    IFileCopier* m_copier = nullptr;
    bool m_copying = false;
    bool m_cancelled = false;
};
