#include "BurnSetupPanel.h"

#include "platform/MainThread.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

BurnSetupPanel::BurnSetupPanel(QWidget* parent)
    : QDialog(parent)
{
    setModal(true);
    auto* layout = new QVBoxLayout(this);
    m_prompt = new QLabel(this);
    m_prompt->setTextFormat(Qt::PlainText);
    m_prompt->setWordWrap(true);
    layout->addWidget(m_prompt);
    auto* form = new QFormLayout;
    m_drives = new QComboBox(this);
    m_drives->setMinimumWidth(340);
    form->addRow(tr("Drive:"), m_drives);
    m_media = new QLabel(this);
    m_media->setTextFormat(Qt::PlainText);
    m_media->setWordWrap(true);
    m_media->setMinimumHeight(m_media->fontMetrics().height() * 2);
    form->addRow(tr("Media:"), m_media);
    layout->addLayout(form);
    m_appendable = new QCheckBox(tr("Leave disc appendable"), this);
    layout->addWidget(m_appendable);
    auto* buttons = new QDialogButtonBox(this);
    m_ok = buttons->addButton(tr("Burn"), QDialogButtonBox::AcceptRole);
    buttons->addButton(tr("Cancel"), QDialogButtonBox::RejectRole);
    m_ok->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    connect(m_drives, &QComboBox::currentIndexChanged, this, [this] { inspectDrive(); });
}

void BurnSetupPanel::setup(const UiPrompts::BurnSetupRequest& request)
{
    m_request = request;
    setWindowTitle(tr("Burn Disc %1").arg(request.discNumber));
    const QSignalBlocker block(m_drives);
    m_drives->clear();
    m_drives->addItems(request.drives);
    const int selected = request.drives.indexOf(request.selectedDrive);
    m_drives->setCurrentIndex(selected >= 0 ? selected : 0);
    m_appendable->setChecked(request.appendable);
    inspectDrive();
}

void BurnSetupPanel::inspectDrive()
{
    const QString drive = m_drives->currentText();
    QString prompt = m_request.prompt.isEmpty() ? tr("Insert a blank disc to burn the archives to.")
                                                : m_request.prompt;
    bool suitable = false;
    if (m_request.drives.isEmpty()) {
        prompt = tr("No disc burner was found. Connect a burner, or name one in the setting \"BurnDrives\".");
        m_media->setText(QString());
    } else {
        const UiPrompts::BurnMedia media
            = m_request.inspect ? m_request.inspect(drive) : UiPrompts::BurnMedia { true, QString() };
        suitable = media.suitable;
        m_media->setText(media.status);
        if (!suitable)
            prompt = tr("That is not a writable CD, DVD or BD!");
    }
    m_prompt->setText(prompt);
    m_ok->setEnabled(suitable);
}

UiPrompts::BurnSetupAnswer BurnSetupPanel::execute(const UiPrompts::BurnSetupRequest& request)
{
    setup(request);
    ModalDepthGuard modal;
    UiPrompts::BurnSetupAnswer answer;
    if (exec() != QDialog::Accepted || m_drives->currentIndex() < 0)
        return answer;
    answer.ok = true;
    answer.drive = m_drives->currentText();
    answer.appendable = m_appendable->isChecked();
    return answer;
}
