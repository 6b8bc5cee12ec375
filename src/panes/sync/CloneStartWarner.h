#pragma once

#include "sync/ICloneStartWarner.h"

#include <QDialog>

class QCheckBox;
class QLabel;
class QPushButton;

// The warning before a clone started by hand: what will be overwritten, a "show again" box, OK
// and Cancel. A window-modal dialog over the main window, run under the modal depth guard so the
// schedule timers stay quiet while it waits. Unticking the box switches the project's warning
// off, whichever button ends the dialog.
class CloneStartWarner : public QDialog, public ICloneStartWarner
{
    Q_OBJECT
public:
    explicit CloneStartWarner(QWidget* parent = nullptr);

    bool showForClone(ISynchron* project) override;
    // Fills the texts for the project (the dialog is not shown).
    void setupTexts(ISynchron* project);

    QCheckBox* showAgainCheck() const { return m_showAgain; }
    QPushButton* okButton() const { return m_ok; }
    QPushButton* cancelButton() const { return m_cancel; }
    QString promptText() const;
    QString text() const;
    QString text2() const;

private:
    QLabel* m_appIcon = nullptr;
    QLabel* m_prompt = nullptr;
    QLabel* m_text = nullptr;
    QLabel* m_text2 = nullptr;
    QCheckBox* m_showAgain = nullptr;
    QPushButton* m_ok = nullptr;
    QPushButton* m_cancel = nullptr;
};
