#include "AuthorizerDialog.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

AuthorizerDialog::AuthorizerDialog(const UiPrompts::CredentialsRequest& request, QWidget* parent)
    : QDialog(parent)
{
    setWindowTitle(tr("Authorization"));
    setModal(true);
    auto* layout = new QVBoxLayout(this);
    m_prompt = new QLabel(request.prompt, this);
    m_prompt->setWordWrap(true);
    layout->addWidget(m_prompt);

    auto* form = new QFormLayout;
    m_userName = new QLineEdit(request.userName, this);
    m_password = new QLineEdit(this);
    m_password->setEchoMode(QLineEdit::Password);
    form->addRow(tr("Name:"), m_userName);
    form->addRow(tr("Password:"), m_password);
    layout->addLayout(form);

    m_saveToKeychain = new QCheckBox(tr("Save admin access information in the keychain"), this);
    m_saveToKeychain->setVisible(request.showSaveToKeychain);
    m_saveToKeychain->setChecked(request.saveToKeychain);
    layout->addWidget(m_saveToKeychain);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setDefault(true); // Return means OK
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);

    if (!request.userName.isEmpty())
        m_password->setFocus();
    else
        m_userName->setFocus();
}

AuthorizerDialog::~AuthorizerDialog()
{
    // leave nothing of the password in the widget's buffer
    m_password->clear();
}

UiPrompts::CredentialsAnswer AuthorizerDialog::answer() const
{
    UiPrompts::CredentialsAnswer a;
    a.ok = result() == QDialog::Accepted;
    if (a.ok) {
        a.userName = m_userName->text();
        a.password = m_password->text();
        a.saveToKeychain = !m_saveToKeychain->isHidden() && m_saveToKeychain->isChecked();
    }
    return a;
}
