#include "ISaveDialog.h"

#include "platform/MainThread.h"

#include <QGridLayout>
#include <QLabel>

ISaveDialog::ISaveDialog(QWidget* parent)
    : QFileDialog(parent)
{
    setOption(QFileDialog::DontUseNativeDialog, true);
    setAcceptMode(QFileDialog::AcceptSave);
    setFileMode(QFileDialog::AnyFile);
    setWindowModality(Qt::ApplicationModal);
    resize(860, 540);
    m_message = new QLabel(this);
    m_message->setTextFormat(Qt::PlainText);
    m_message->setWordWrap(true);
    m_message->hide();
    if (auto* grid = qobject_cast<QGridLayout*>(layout()))
        grid->addWidget(m_message, grid->rowCount(), 0, 1, grid->columnCount());
}

QString ISaveDialog::executePrompt(
    const QString& prompt, const QString& okButtonName, const QString& defaultPath)
{
    if (!defaultPath.isEmpty())
        setDirectory(defaultPath);
    if (!okButtonName.isEmpty())
        setLabelText(QFileDialog::Accept, okButtonName);
    if (!prompt.isEmpty())
        setWindowTitle(prompt);
    m_message->setText(prompt);
    m_message->setVisible(!prompt.isEmpty() && layout()->indexOf(m_message) >= 0);
    if (!m_defaultFileName.isEmpty())
        selectFile(m_defaultFileName);
    int result = 0;
    {
        ModalDepthGuard modal;
        result = exec();
    }
    m_defaultFileName.clear(); // one run's setting
    if (result != QDialog::Accepted || selectedFiles().isEmpty())
        return QString();
    return selectedFiles().first();
}

QString ISaveDialog::run(const UiPrompts::SavePathRequest& request, QWidget* parent)
{
    ISaveDialog dialog(parent);
    dialog.setDefaultFileName(request.defaultName);
    return dialog.executePrompt(request.prompt, request.okButton, request.startPath);
}
