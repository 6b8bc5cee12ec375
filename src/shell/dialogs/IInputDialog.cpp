#include "IInputDialog.h"

#include "platform/MainThread.h"

#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

IInputDialog::IInputDialog(QWidget* parent)
    : QDialog(parent)
{
    setModal(true);
    auto* layout = new QVBoxLayout(this);
    m_comment = new QLabel(this);
    m_comment->setTextFormat(Qt::PlainText);
    m_comment->setWordWrap(true);
    layout->addWidget(m_comment);
    m_input = new QLineEdit(this);
    m_input->setMinimumWidth(320);
    layout->addWidget(m_input);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText(tr("OK"));
    buttons->button(QDialogButtonBox::Cancel)->setText(tr("Cancel"));
    buttons->button(QDialogButtonBox::Ok)->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &IInputDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
}

QString IInputDialog::executeTitle(const QString& title, const QString& comment, const QString& defaultString)
{
    m_inputString = QString();
    setWindowTitle(title);
    m_comment->setText(comment);
    m_comment->setVisible(!comment.isEmpty());
    m_input->setText(defaultString);
    m_input->selectAll();
    m_input->setFocus();
    ModalDepthGuard modal;
    if (exec() != QDialog::Accepted)
        return QString();
    return m_inputString;
}

void IInputDialog::accept()
{
    QString text = m_input->text();
    text.replace(QLatin1Char('/'), QLatin1Char('|'));
    m_input->setText(text);
    m_inputString = text.isNull() ? QStringLiteral("") : text; // an empty name is no Cancel
    QDialog::accept();
}
