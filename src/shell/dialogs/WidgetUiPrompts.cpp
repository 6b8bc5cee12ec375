#include "WidgetUiPrompts.h"

#include "AuthorizerDialog.h"
#include "IInputDialog.h"
#include "ILocationDialog.h"
#include "IOpenDialog.h"
#include "IPasswordInputDialog.h"
#include "IQVNumberField.h"
#include "ISaveDialog.h"
#include "platform/MainThread.h"
#include "platform/NameCodec.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>
#include <sys/stat.h>

namespace {
QString tr(const char* text)
{
    return QCoreApplication::translate("Localizable", text);
}
} // namespace

QWidget* WidgetUiPrompts::parentWidget() const
{
    return m_parent ? m_parent.data() : QApplication::activeWindow();
}

UiPrompts::CredentialsAnswer WidgetUiPrompts::askAdminCredentials(const CredentialsRequest& request)
{
    ModalDepthGuard modal;
    AuthorizerDialog dialog(request, parentWidget());
    dialog.exec();
    return dialog.answer();
}

int WidgetUiPrompts::showAlert(const Alert& alert)
{
    ModalDepthGuard modal;
    QMessageBox box(parentWidget());
    switch (alert.style) {
    case AlertStyle::Informational:
        box.setIcon(QMessageBox::Information);
        break;
    case AlertStyle::Warning:
        box.setIcon(QMessageBox::Warning);
        break;
    case AlertStyle::Critical:
        box.setIcon(QMessageBox::Critical);
        break;
    }
    box.setText(alert.title);
    box.setInformativeText(alert.text);
    QList<QAbstractButton*> buttons;
    const QStringList titles = alert.buttons.isEmpty() ? QStringList { tr("OK") } : alert.buttons;
    for (int i = 0; i < titles.size(); ++i) {
        // A button title is text: "Save & Remove" must not turn "&" into a shortcut mark.
        QString title = titles[i];
        title.replace(QLatin1Char('&'), QStringLiteral("&&"));
        QPushButton* b = box.addButton(title, i == 0 ? QMessageBox::AcceptRole : QMessageBox::RejectRole);
        if (i == 0)
            box.setDefaultButton(b);
        buttons.append(b);
    }
    box.exec();
    return int(buttons.indexOf(box.clickedButton()));
}

QString WidgetUiPrompts::chooseFolder(const FolderChoiceRequest& request)
{
    ItemChoiceRequest items;
    items.prompt = request.prompt;
    items.okButton = request.okButton.isEmpty() ? tr("Choose") : request.okButton;
    items.startPath = request.startPath;
    items.files = false;
    items.folders = true;
    items.validator = request.validator;
    const QStringList chosen = IOpenDialog::run(items, parentWidget());
    return chosen.isEmpty() ? QString() : chosen.first();
}

QStringList WidgetUiPrompts::chooseItems(const ItemChoiceRequest& request)
{
    return IOpenDialog::run(request, parentWidget());
}

QString WidgetUiPrompts::askText(const TextRequest& request)
{
    IInputDialog dialog(parentWidget());
    return dialog.executeTitle(request.title, request.comment, request.defaultText);
}

QString WidgetUiPrompts::chooseSavePath(const SavePathRequest& request)
{
    return ISaveDialog::run(request, parentWidget());
}

int WidgetUiPrompts::waitForVolume(const VolumeWaitRequest& request)
{
    ILocationDialog dialog(parentWidget());
    return dialog.executeLocation(request);
}

UiPrompts::ImagePasswordAnswer WidgetUiPrompts::askImagePassword(const ImagePasswordRequest& request)
{
    // the small dialog; the caller checks the digest and asks again with errorText
    ProjectPasswordRequest small;
    small.type = 1;
    small.title = request.title;
    small.UUID = request.UUID;
    small.passwordInKeychain = request.passwordInKeychain;
    small.canChangePassword = request.canChangePassword;
    small.incrementalBackup = request.incrementalBackup;
    small.errorText = request.errorText;
    const ProjectPasswordAnswer a = IPasswordInputDialog::run(small, parentWidget());
    ImagePasswordAnswer answer;
    answer.ok = a.ok;
    answer.password = a.password;
    answer.passwordInKeychain = a.ok ? a.passwordInKeychain : request.passwordInKeychain;
    return answer;
}

UiPrompts::ProjectPasswordAnswer WidgetUiPrompts::askProjectPassword(const ProjectPasswordRequest& request)
{
    return IPasswordInputDialog::run(request, parentWidget());
}

UiPrompts::ImageCreationAnswer WidgetUiPrompts::askNewImage(const ImageCreationRequest& request)
{
    return IDiskImagePasswordDialog::run(request, parentWidget());
}

std::optional<double> WidgetUiPrompts::askNumber(const NumberRequest& request)
{
    ModalDepthGuard modal;
    QDialog dialog(parentWidget());
    dialog.setObjectName(QStringLiteral("numberDialog"));
    dialog.setWindowTitle(request.title);
    auto* layout = new QVBoxLayout(&dialog);
    auto* prompt = new QLabel(request.prompt, &dialog);
    prompt->setTextFormat(Qt::PlainText);
    prompt->setWordWrap(true);
    layout->addWidget(prompt);
    auto* field = new IQVNumberField(&dialog);
    if (request.decimals) {
        field->setFloatModeMin(request.minimum, request.maximum);
        field->setFloatValue(request.value);
    } else {
        field->setIntModeMin(qint64(request.minimum), qint64(request.maximum));
        field->setIntegerValue(qint64(request.value));
    }
    layout->addWidget(field);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    buttons->button(QDialogButtonBox::Ok)->setText(tr("OK"));
    buttons->button(QDialogButtonBox::Cancel)->setText(tr("Cancel"));
    // the typed value is taken (clamped into the range) before the dialog may close
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, [&dialog, field] {
        if (!field->isNumberOk())
            return;
        field->changeNumberFieldData();
        dialog.accept();
    });
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    layout->addWidget(buttons);
    field->setFocus();
    field->selectAll();
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return field->floatValue();
}

UiPrompts::LocateFileAnswer WidgetUiPrompts::locateFile(const LocateFileRequest& request)
{
    ModalDepthGuard modal;
    IOpenDialog dialog(parentWidget());
    dialog.setFileName(request.fileName);
    if (!request.message.isEmpty())
        dialog.setFileNotFoundMessage(request.message);
    if (request.canSkip) {
        // "Skip file" leaves this file out and lets the run go on without it.
        if (auto* buttons = dialog.findChild<QDialogButtonBox*>()) {
            QPushButton* skip = buttons->addButton(tr("Skip file"), QDialogButtonBox::RejectRole);
            skip->setObjectName(QStringLiteral("skipFileButton"));
            QObject::connect(skip, &QPushButton::clicked, &dialog, [&dialog] {
                dialog.setSkipped(true);
                dialog.reject();
            });
        }
    }
    LocateFileAnswer answer;
    // The file itself or the folder that holds it may be chosen.
    if (dialog.executePrompt(request.prompt, request.button.isEmpty() ? tr("Choose") : request.button,
            request.startFolder, true, true, false)) {
        answer.result = LocateResult::Chosen;
        QString chosen = dialog.filename();
        struct stat st = {};
        if (::stat(NameCodec::encode(chosen).constData(), &st) == 0 && !S_ISDIR(st.st_mode))
            chosen = chosen.left(std::max<qsizetype>(1, chosen.lastIndexOf(QLatin1Char('/'))));
        answer.folder = chosen;
    } else if (request.canSkip && dialog.isSkipped()) {
        answer.result = LocateResult::Skipped;
    }
    return answer;
}
