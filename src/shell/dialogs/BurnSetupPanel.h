#pragma once

#include "utilities/UiPrompts.h"

#include <QDialog>

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;

// The setup panel of a disc burn: the drive, the status of the medium in it (read again each
// time another drive is chosen), and the "appendable" box. OK stays disabled while the medium
// is not suitable, and the panel says why.
class BurnSetupPanel : public QDialog
{
    Q_OBJECT
public:
    explicit BurnSetupPanel(QWidget* parent = nullptr);

    // Shows the panel modally; the answer on OK, not ok on Cancel or closing.
    UiPrompts::BurnSetupAnswer execute(const UiPrompts::BurnSetupRequest& request);
    // Fills the panel without showing it (tests look at it before exec()).
    void setup(const UiPrompts::BurnSetupRequest& request);

    QComboBox* driveList() const { return m_drives; }
    QLabel* mediaLabel() const { return m_media; }
    QLabel* promptLabel() const { return m_prompt; }
    QCheckBox* appendableBox() const { return m_appendable; }
    QPushButton* okButton() const { return m_ok; }

private:
    void inspectDrive();

    UiPrompts::BurnSetupRequest m_request;
    QLabel* m_prompt = nullptr;
    QComboBox* m_drives = nullptr;
    QLabel* m_media = nullptr;
    QCheckBox* m_appendable = nullptr;
    QPushButton* m_ok = nullptr;
};
