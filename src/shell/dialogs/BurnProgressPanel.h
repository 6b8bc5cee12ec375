#pragma once

#include <QDialog>

class DiscBurnFlow;
class QLabel;
class QProgressBar;
class QPushButton;

// The progress panel of a disc burn: it follows the flow's signals (the disc, the percentage of
// xorriso's writing lines, the result) and its Cancel stops the flow's burn. It shows itself
// when a disc starts and hides when the disc is done.
class BurnProgressPanel : public QDialog
{
    Q_OBJECT
public:
    BurnProgressPanel(DiscBurnFlow* flow, QWidget* parent = nullptr);

    QLabel* textLabel() const { return m_text; }
    QProgressBar* bar() const { return m_bar; }
    QPushButton* cancelButton() const { return m_cancel; }

protected:
    void reject() override; // closing is Cancel

private:
    DiscBurnFlow* m_flow;
    QLabel* m_text = nullptr;
    QProgressBar* m_bar = nullptr;
    QPushButton* m_cancel = nullptr;
};
