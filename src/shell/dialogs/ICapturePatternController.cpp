#include "ICapturePatternController.h"

#include "IOpenDialog.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QCoreApplication>
#include <QHBoxLayout>
#include <QRadioButton>

namespace {
QString localized(const char* text)
{
    return QCoreApplication::translate("Localizable", text);
}
} // namespace

ICapturePatternController& ICapturePatternController::shared()
{
    static ICapturePatternController* controller = new ICapturePatternController;
    return *controller;
}

void ICapturePatternController::setPanel(IOpenDialog* dialog)
{
    m_panel = dialog;
    if (!dialog)
        return;
    auto* accessory = new QWidget(dialog);
    accessory->setObjectName(QStringLiteral("capturePatternAccessory"));
    auto* row = new QHBoxLayout(accessory);
    row->setContentsMargins(0, 0, 0, 0);
    m_rules = new QButtonGroup(accessory);
    const char* titles[] = { "By extension (*.ext)", "By name (name.*)", "Whole name" };
    for (int rule = 0; rule < 3; ++rule) {
        auto* button = new QRadioButton(localized(titles[rule]), accessory);
        m_rules->addButton(button, rule);
        row->addWidget(button);
    }
    row->addSpacing(16);
    m_combineBox = new QCheckBox(localized("Combine with previous pattern"), accessory);
    row->addWidget(m_combineBox);
    row->addStretch(1);
    if (QAbstractButton* chosen = m_rules->button(m_rule))
        chosen->setChecked(true);
    m_combineBox->setChecked(m_combine);
    connect(m_rules, &QButtonGroup::idToggled, this, [this](int id, bool checked) {
        if (checked)
            m_rule = id;
    });
    connect(m_combineBox, &QCheckBox::toggled, this, [this](bool on) { m_combine = on; });
    m_accessory = accessory;
    dialog->setAccessory(accessory, &m_showHiddens);
}

void ICapturePatternController::setPatternRule(int rule)
{
    m_rule = rule;
    if (m_rules)
        if (QAbstractButton* button = m_rules->button(rule))
            button->setChecked(true);
}

void ICapturePatternController::setCombPatWithPrev(bool on)
{
    m_combine = on;
    if (m_combineBox)
        m_combineBox->setChecked(on);
}

void ICapturePatternController::changeCheckShowHiddens(bool on)
{
    m_showHiddens = on;
    if (m_panel)
        m_panel->hiddenFilesBox()->setChecked(on); // the box applies it to the listing
}
