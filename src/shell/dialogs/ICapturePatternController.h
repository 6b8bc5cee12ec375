#pragma once

#include <QButtonGroup>
#include <QCheckBox>
#include <QPointer>

class IOpenDialog;

// The extra rows of the open dialog with which the property sheets capture a name pattern from a
// chosen item: the rule (0 "*.extension", 1 "name.*", 2 the whole name; the button ids are the
// rule tags), "combine with the previous pattern", and a "Show hidden files" state of its own
// (off at start) that the dialog's box applies live. One controller serves every such dialog;
// its rows are made anew for each dialog and write their state back as they change.
class ICapturePatternController : public QObject
{
    Q_OBJECT
public:
    static ICapturePatternController& shared();

    // Gives dialog the accessory rows and binds its hidden-files box to this controller.
    void setPanel(IOpenDialog* dialog);
    // The rows of the dialog given last (null once that dialog is gone).
    QWidget* accessoryView() const { return m_accessory; }

    void setPatternRule(int rule);
    int patternRule() const { return m_rule; }
    void setCombPatWithPrev(bool on);
    bool isCombPatWithPrev() const { return m_combine; }
    bool showHiddens() const { return m_showHiddens; }
    // The hidden-files state, applied at once to the dialog given last.
    void changeCheckShowHiddens(bool on);

    QButtonGroup* ruleGroup() const { return m_rules; }
    QCheckBox* combineBox() const { return m_combineBox; }

private:
    ICapturePatternController() = default;

    QPointer<IOpenDialog> m_panel;
    QPointer<QWidget> m_accessory;
    QPointer<QButtonGroup> m_rules;
    QPointer<QCheckBox> m_combineBox;
    int m_rule = 0;
    bool m_combine = true;
    bool m_showHiddens = false;
};
