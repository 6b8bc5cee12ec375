#include "IPasswordInputDialog.h"

#include "Beep.h"
#include "QVFormatter.h"
#include "platform/MainThread.h"

#include <QApplication>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>
#include <cmath>

namespace {
QString tr(const char* text)
{
    return QCoreApplication::translate("Localizable", text);
}

QLabel* plainLabel(const QString& text, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    return label;
}

QLineEdit* passwordEdit(QWidget* parent)
{
    auto* edit = new QLineEdit(parent);
    edit->setEchoMode(QLineEdit::Password);
    edit->setMinimumWidth(260);
    return edit;
}

QLabel* warningLabel(QWidget* parent)
{
    QLabel* label = plainLabel(QString(), parent);
    QPalette p = label->palette();
    p.setColor(QPalette::WindowText, QColor(200, 30, 30));
    label->setPalette(p);
    label->hide();
    return label;
}

QDialogButtonBox* okCancel(QDialog* dialog, QPushButton** ok)
{
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, dialog);
    *ok = buttons->button(QDialogButtonBox::Ok);
    (*ok)->setText(tr("OK"));
    (*ok)->setDefault(true);
    buttons->button(QDialogButtonBox::Cancel)->setText(tr("Cancel"));
    QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    return buttons;
}
} // namespace

IPasswordInputDialog::IPasswordInputDialog(const UiPrompts::ProjectPasswordRequest& request, QWidget* parent)
    : QDialog(parent)
    , m_type(request.type == 2 ? 2 : 1)
    , m_digest(request.digest)
{
    setModal(true);
    setWindowTitle(request.title);
    auto* layout = new QVBoxLayout(this);
    if (m_type == 1) {
        m_prompt = plainLabel(request.canChangePassword ? tr("Enter the password to secure backup")
                                                        : tr("Enter the password to restore backup"),
            this);
    } else {
        m_prompt = plainLabel(tr("Enter the password to secure backup"), this);
    }
    QFont bold = m_prompt->font();
    bold.setBold(true);
    m_prompt->setFont(bold);
    layout->addWidget(m_prompt);
    auto* form = new QFormLayout;
    m_password = passwordEdit(this);
    form->addRow(tr("Password:"), m_password);
    if (m_type == 2) {
        m_verify = passwordEdit(this);
        form->addRow(tr("Verify:"), m_verify);
    }
    layout->addLayout(form);
    m_warning = warningLabel(this);
    layout->addWidget(m_warning);
    if (m_type == 2)
        layout->addWidget(plainLabel(
            tr("NOTE: If you forget this password you will not be able to restore this backup."), this));
    m_keychain = new QCheckBox(tr("Remember password in my keychain"), this);
    m_keychain->setChecked(request.passwordInKeychain);
    layout->addWidget(m_keychain);
    layout->addWidget(okCancel(this, &m_ok));

    connect(m_password, &QLineEdit::textChanged, this, [this](const QString& text) {
        m_warning->hide();
        if (m_type == 2)
            m_ok->setEnabled(!text.isEmpty());
    });
    setupDialog();
    if (!request.errorText.isEmpty()) {
        m_warning->setText(request.errorText);
        m_warning->show();
    }
}

IPasswordInputDialog::~IPasswordInputDialog()
{
    m_password->clear();
    if (m_verify)
        m_verify->clear();
}

void IPasswordInputDialog::setupDialog()
{
    m_warning->hide();
    m_password->clear();
    if (m_verify)
        m_verify->clear();
    m_ok->setEnabled(m_type == 1);
    m_password->setFocus();
}

void IPasswordInputDialog::accept()
{
    const QString typed = m_password->text();
    if (m_type == 1) {
        if (m_digest && !m_digest->correspondsToPassword(typed)) {
            m_warning->setText(
                typed.isEmpty() ? tr("Password can not be blank") : tr("Passwords do not match"));
            m_warning->show();
            return; // the dialog stays
        }
        QDialog::accept();
        return;
    }
    if (!typed.isEmpty() && typed == m_verify->text()) {
        QDialog::accept();
        return;
    }
    Beep::beep();
    QMessageBox box(QMessageBox::Critical, windowTitle(),
        tr("Your password does not match the verify password. Please try again."), QMessageBox::Ok, this);
    box.setTextFormat(Qt::PlainText);
    box.button(QMessageBox::Ok)->setText(tr("OK"));
    box.exec();
    setupDialog();
}

UiPrompts::ProjectPasswordAnswer IPasswordInputDialog::answer() const
{
    UiPrompts::ProjectPasswordAnswer a;
    a.ok = result() == QDialog::Accepted;
    if (a.ok) {
        a.password = m_password->text();
        a.passwordInKeychain = m_keychain->isChecked() && !a.password.isEmpty();
    }
    return a;
}

UiPrompts::ProjectPasswordAnswer IPasswordInputDialog::run(
    const UiPrompts::ProjectPasswordRequest& request, QWidget* parent)
{
    ModalDepthGuard modal;
    IPasswordInputDialog dialog(request, parent);
    dialog.exec();
    return dialog.answer();
}

IDiskImagePasswordDialog::IDiskImagePasswordDialog(
    const UiPrompts::ImageCreationRequest& request, QWidget* parent)
    : QDialog(parent)
    , m_minSizeGB(std::max(0.0, request.minSizeGB))
{
    setModal(true);
    setWindowTitle(request.title);
    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    m_size = new QLineEdit(this);
    auto* formatter = new QVFormatter(m_size);
    formatter->setMinValue(m_minSizeGB);
    m_size->setValidator(formatter);
    m_size->setText(QString::number(m_minSizeGB, 'f', 2));
    form->addRow(tr("Size limit (GB):"), m_size);
    layout->addLayout(form);
    m_sourceNote = plainLabel(request.sourceSizeNote, this);
    m_sourceNote->setVisible(!request.sourceSizeNote.isEmpty());
    layout->addWidget(m_sourceNote);

    m_encrypt = new QCheckBox(tr("Protect the disk image with a password"), this);
    m_encrypt->setChecked(true);
    layout->addWidget(m_encrypt);
    auto* passwords = new QFormLayout;
    m_password = passwordEdit(this);
    m_verify = passwordEdit(this);
    m_warningImage = new QLabel(this);
    m_warningImage->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxWarning).pixmap(16, 16));
    m_warningImage->hide();
    auto* verifyRow = new QHBoxLayout;
    verifyRow->addWidget(m_verify);
    verifyRow->addWidget(m_warningImage);
    passwords->addRow(tr("Password:"), m_password);
    passwords->addRow(tr("Verify:"), verifyRow);
    layout->addLayout(passwords);
    m_warning = warningLabel(this);
    layout->addWidget(m_warning);
    m_keychain = new QCheckBox(tr("Remember password in my keychain"), this);
    m_keychain->setChecked(request.passwordInKeychain);
    layout->addWidget(m_keychain);
    layout->addWidget(okCancel(this, &m_ok));

    connect(m_encrypt, &QCheckBox::toggled, this, [this](bool on) {
        setActivePasswordOptions(on);
        m_warning->hide();
        m_warningImage->hide();
    });
    connect(m_password, &QLineEdit::textChanged, this, [this] {
        m_warning->hide();
        m_verify->clear();
        m_warningImage->hide();
    });
    connect(m_verify, &QLineEdit::textChanged, this, [this] {
        m_warning->hide();
        m_warningImage->setVisible(m_verify->text() != m_password->text());
    });
    connect(m_size, &QLineEdit::editingFinished, this,
        [this] { m_size->setText(QString::asprintf("%.2lf", sizeValue())); });
    m_size->setFocus();
}

IDiskImagePasswordDialog::~IDiskImagePasswordDialog()
{
    m_password->clear();
    m_verify->clear();
}

void IDiskImagePasswordDialog::setActivePasswordOptions(bool on)
{
    m_password->setEnabled(on);
    m_verify->setEnabled(on);
    m_keychain->setEnabled(on);
}

double IDiskImagePasswordDialog::sizeValue() const
{
    bool ok = false;
    const double typed = m_size->text().toDouble(&ok);
    return std::max(ok ? typed : 0.0, m_minSizeGB); // the minimum holds when editing ends
}

QString IDiskImagePasswordDialog::validateDialogInfo()
{
    if (!m_encrypt->isChecked())
        return QString();
    if (m_password->text().isEmpty() || m_verify->text().isEmpty())
        return tr("Password can not be blank");
    if (m_password->text() != m_verify->text()) {
        m_warningImage->show();
        return tr("Passwords do not match");
    }
    return QString();
}

void IDiskImagePasswordDialog::accept()
{
    const QString refusal = validateDialogInfo();
    if (!refusal.isNull()) {
        m_warning->setText(refusal);
        m_warning->show();
        return;
    }
    QDialog::accept();
}

UiPrompts::ImageCreationAnswer IDiskImagePasswordDialog::answer() const
{
    UiPrompts::ImageCreationAnswer a;
    a.ok = result() == QDialog::Accepted;
    if (a.ok) {
        // whole GB, rounded up so the image is never smaller than the size confirmed
        a.sizeLimitGB = long(std::ceil(sizeValue() - 1e-9));
        if (m_encrypt->isChecked()) {
            a.password = m_password->text();
            a.passwordInKeychain = m_keychain->isChecked();
        }
    }
    return a;
}

UiPrompts::ImageCreationAnswer IDiskImagePasswordDialog::run(
    const UiPrompts::ImageCreationRequest& request, QWidget* parent)
{
    ModalDepthGuard modal;
    IDiskImagePasswordDialog dialog(request, parent);
    dialog.exec();
    return dialog.answer();
}
