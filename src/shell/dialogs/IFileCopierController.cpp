#include "IFileCopierController.h"

#include "platform/DesktopServices.h"
#include "platform/MainThread.h"
#include "utilities/IShellServices.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace {
QLabel* plainLabel(QWidget* parent)
{
    auto* label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText);
    return label;
}
} // namespace

IFileCopierController::IFileCopierController(QWidget* parent)
    : QDialog(parent)
{
    setModal(true);
    setMinimumWidth(480);
    auto* layout = new QVBoxLayout(this);
    m_topText = plainLabel(this);
    m_topText->setWordWrap(true);
    QFont bold = m_topText->font();
    bold.setBold(true);
    m_topText->setFont(bold);
    layout->addWidget(m_topText);
    m_bar = new QProgressBar(this);
    m_bar->setRange(0, 1000);
    m_bar->setTextVisible(false);
    layout->addWidget(m_bar);
    m_prompt = plainLabel(this);
    layout->addWidget(m_prompt);
    m_status = plainLabel(this);
    m_status->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // a long path is cut in the middle rather than widening the window
    m_status->setMinimumWidth(1);
    m_status->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    layout->addWidget(m_status);
    m_errors = new QPlainTextEdit(this);
    m_errors->setReadOnly(true);
    m_errors->setMaximumHeight(90);
    m_errors->hide();
    layout->addWidget(m_errors);

    auto* buttons = new QHBoxLayout;
    m_log = new QPushButton(tr("Show Log"), this);
    m_show = new QPushButton(tr("Show in File Manager"), this);
    m_ok = new QPushButton(tr("Cancel"), this);
    m_ok->setDefault(true);
    buttons->addWidget(m_log);
    buttons->addWidget(m_show);
    buttons->addStretch(1);
    buttons->addWidget(m_ok);
    layout->addLayout(buttons);

    connect(m_log, &QPushButton::clicked, this, [] { IShellServices::shared().showLog(); });
    connect(m_show, &QPushButton::clicked, this, &IFileCopierController::showInFileManager);
    connect(m_ok, &QPushButton::clicked, this, [this] {
        if (m_copying)
            reject();
        else
            accept();
    });
}

void IFileCopierController::reject()
{
    if (!m_copying) {
        QDialog::reject();
        return;
    }
    m_cancelled = true;
    m_ok->setEnabled(false);
    m_topText->setText(tr("Stopping the copy..."));
    if (m_copier)
        m_copier->stop();
}

IFileCopierController::~IFileCopierController() = default;

void IFileCopierController::setPrompt(const QString& text)
{
    m_prompt->setText(QStringLiteral("%1 %2").arg(tr("Progress:"), text));
}

void IFileCopierController::setStatus(const QString& text)
{
    const QString line = QStringLiteral("%1 %2").arg(tr("Files:"), text);
    m_status->setToolTip(text);
    m_status->setVisible(!text.isEmpty());
    m_status->setText(
        m_status->fontMetrics().elidedText(line, Qt::ElideMiddle, std::max(200, m_status->width())));
}

void IFileCopierController::hideButtons()
{
    m_log->hide();
    m_show->hide();
}

void IFileCopierController::showButtons()
{
    m_log->show();
    m_show->show();
}

void IFileCopierController::showInFileManager()
{
    if (DesktopServices::reveal(m_target))
        return;
    QMessageBox box(
        QMessageBox::Critical, windowTitle(), tr("File or folder not found"), QMessageBox::Ok, this);
    box.setTextFormat(Qt::PlainText);
    box.button(QMessageBox::Ok)->setText(tr("OK"));
    ModalDepthGuard modal;
    box.exec();
}

bool IFileCopierController::copyInWindow(
    const QString& source, const QString& target, const QString& title, const QString& prompt)
{
    ModalDepthGuard modal;
    m_target = target;
    m_cancelled = false;
    setWindowTitle(title.isEmpty() ? tr("Copying files") : title);
    m_topText->setText(prompt.isEmpty() ? tr("Copying files") + QStringLiteral("...") : prompt);
    m_errors->hide();
    m_bar->setValue(0);
    setPrompt(QStringLiteral("%1 %").arg(0.0, 0, 'f', 2));
    setStatus(QString());
    hideButtons();
    m_ok->setText(tr("Cancel"));
    m_ok->setEnabled(true);

    IFileCopier copier;
    m_copier = &copier;
    QPointer<IFileCopierController> self(this);
    copier.setProgressHandler([self](double percent, const QString& fileLine) {
        runOnMain([self, percent, fileLine] {
            if (!self)
                return;
            if (percent >= 0) {
                self->setPrompt(QStringLiteral("%1 %").arg(percent, 0, 'f', 2));
                self->m_bar->setValue(int(percent * 10));
            }
            if (!fileLine.isEmpty())
                self->setStatus(fileLine);
        });
    });
    show();
    raise();
    activateWindow();
    m_copying = true;
    QString comment;
    const bool copied = copier.copy(source, target, &comment);
    QCoreApplication::processEvents(); // the last progress lines posted by the reader
    // From here no event runs before exec(): an "Ok" can only come from the loop that waits for it.
    m_copying = false;
    m_copier = nullptr;
    if (m_cancelled || copier.wasStopped()) {
        hide();
        return false;
    }
    m_ok->setText(tr("Ok"));
    m_ok->setEnabled(true);
    if (copied) {
        m_topText->setText(tr("Process has been completed"));
        setPrompt(QStringLiteral("%1 %").arg(100.0, 0, 'f', 2));
        m_bar->setValue(1000);
        setStatus(tr("Files transferred successfully"));
        showButtons();
    } else {
        m_topText->setText(tr("The copy failed"));
        m_errors->setPlainText(comment);
        m_errors->show();
        m_log->show();
    }
    const int result = exec(); // until the user presses Ok (closing counts as Ok too)
    Q_UNUSED(result);
    hide();
    return copied;
}
