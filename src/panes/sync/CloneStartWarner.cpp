#include "panes/sync/CloneStartWarner.h"

#include "panes/sync/SyncPaneRules.h"
#include "platform/MainThread.h"
#include "projects/ILocation.h"
#include "sync/ISynchron.h"
#include "utilities/CommonFunctions.h"

#include <QApplication>
#include <QCheckBox>
#include <QCoreApplication>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

QString loc(const char* text)
{
    return QCoreApplication::translate("Localizable", text);
}

} // namespace

CloneStartWarner::CloneStartWarner(QWidget* parent)
    : QDialog(parent)
{
    setWindowTitle(QVAppName());
    m_appIcon = new QLabel(this);
    m_appIcon->setPixmap(QIcon(QStringLiteral(":/icons/QV.svg")).pixmap(64, 64));
    m_appIcon->setAlignment(Qt::AlignTop);
    m_prompt = new QLabel(this);
    QFont bold = m_prompt->font();
    bold.setBold(true);
    m_prompt->setFont(bold);
    m_prompt->setWordWrap(true);
    m_text = new QLabel(this);
    m_text->setWordWrap(true);
    m_text2 = new QLabel(this);
    m_text2->setWordWrap(true);
    m_showAgain = new QCheckBox(loc("Show this warning again"), this);
    m_ok = new QPushButton(loc("OK"), this);
    m_cancel = new QPushButton(loc("Cancel"), this);
    m_ok->setDefault(true);
    connect(m_ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(m_cancel, &QPushButton::clicked, this, &QDialog::reject);

    auto* texts = new QVBoxLayout;
    texts->addWidget(m_prompt);
    texts->addWidget(m_text);
    texts->addWidget(m_text2);
    texts->addSpacing(8);
    texts->addWidget(m_showAgain);
    auto* top = new QHBoxLayout;
    top->addWidget(m_appIcon);
    top->addLayout(texts, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_cancel);
    buttons->addWidget(m_ok);
    auto* all = new QVBoxLayout(this);
    all->addLayout(top);
    all->addLayout(buttons);
    setMinimumWidth(460);
}

QString CloneStartWarner::promptText() const
{
    return m_prompt->text();
}

QString CloneStartWarner::text() const
{
    return m_text->text();
}

QString CloneStartWarner::text2() const
{
    return m_text2->text();
}

void CloneStartWarner::setupTexts(ISynchron* project)
{
    const bool full = project && project->isNeedFullDoubleVolumeClone();
    const auto dest = project ? project->secondLocation() : nullptr;
    const SyncPaneRules::WarningTexts t
        = SyncPaneRules::startWarningTexts(full, QVAppName(), dest ? dest->getDisplayName() : QString());
    m_prompt->setText(t.prompt);
    m_text->setText(t.text);
    m_text2->setText(t.text2);
    m_text2->setVisible(!t.text2.isEmpty());
}

bool CloneStartWarner::showForClone(ISynchron* project)
{
    if (!project)
        return false;
    setupTexts(project);
    m_showAgain->setChecked(true);
    setWindowModality(parentWidget() ? Qt::WindowModal : Qt::ApplicationModal);
    int answer = QDialog::Rejected;
    {
        ModalDepthGuard modal;
        answer = exec();
    }
    const SyncPaneRules::WarningDecision d
        = SyncPaneRules::startWarningDecision(answer == QDialog::Accepted, m_showAgain->isChecked());
    if (d.switchOff)
        project->setStartCloningWarnDialog(false);
    return d.start;
}
