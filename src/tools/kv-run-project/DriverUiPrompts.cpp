#include "DriverUiPrompts.h"

#include "platform/NameCodec.h"
#include "platform/PrivilegeBackend.h"

#include <cstdio>
#include <sys/stat.h>

void DriverUiPrompts::logPrompt(const QString& title, const QString& answer)
{
    QString line = QStringLiteral("prompt: ") + title + QStringLiteral(" -> ") + answer;
    line.replace(QLatin1Char('\n'), QLatin1Char(' '));
    const QByteArray bytes = NameCodec::encode(line) + '\n';
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    std::fflush(stderr);
}

UiPrompts::CredentialsAnswer DriverUiPrompts::askAdminCredentials(const CredentialsRequest& request)
{
    const QString title
        = request.prompt.isEmpty() ? QStringLiteral("Administrator password") : request.prompt;
    // Offered once: a refused password is not tried again.
    if (m_adminPassword.isNull()) {
        logPrompt(title, QStringLiteral("Cancel"));
        return {};
    }
    CredentialsAnswer answer;
    answer.ok = true;
    answer.userName = request.userName.isEmpty() ? PrivilegeBackend::shared().userName() : request.userName;
    answer.password = QString::fromUtf8(m_adminPassword);
    answer.saveToKeychain = false;
    m_adminPassword = QByteArray();
    logPrompt(title, answer.userName + QStringLiteral(" with the password from standard input"));
    return answer;
}

int DriverUiPrompts::showAlert(const Alert& alert)
{
    const QString title = alert.title.isEmpty() ? alert.text : alert.title;
    // The burn flow's alerts: another disc while a drive is left; the too-large alert and the
    // failed measuring have OK only.
    if (alert.title == QLatin1String("The burn to the last media failed!")) {
        const bool again = m_nextBurnDrive < m_burnDrives.size();
        logPrompt(title, again ? QStringLiteral("Yes") : QStringLiteral("No"));
        return again ? 0 : 1;
    }
    if (alert.title.startsWith(QLatin1String("There is a too large archive"))
        || alert.title.startsWith(QLatin1String("Burning failed: "))) {
        logPrompt(title, QStringLiteral("OK"));
        return 0;
    }
    const int go = alert.buttons.indexOf(QStringLiteral("Continue"));
    if (m_continueInPlace && go >= 0) {
        logPrompt(alert.title.isEmpty() ? alert.text : alert.title, QStringLiteral("Continue"));
        return go;
    }
    logPrompt(alert.title.isEmpty() ? alert.text : alert.title, QStringLiteral("Cancel"));
    return -1;
}

UiPrompts::ImagePasswordAnswer DriverUiPrompts::askImagePassword(const ImagePasswordRequest& request)
{
    const QString title = QStringLiteral("Password of the disk image of \"%1\"").arg(request.title);
    // The password given on standard input is offered once; a refused one is not offered again.
    if (m_imagePassword.isNull() || !request.errorText.isEmpty()) {
        logPrompt(title, QStringLiteral("Cancel"));
        return {};
    }
    logPrompt(title, QStringLiteral("password from standard input"));
    ImagePasswordAnswer answer;
    answer.ok = true;
    answer.password = QString::fromUtf8(m_imagePassword);
    answer.passwordInKeychain = false;
    return answer;
}

UiPrompts::ImageCreationAnswer DriverUiPrompts::askNewImage(const ImageCreationRequest& request)
{
    const QString title = QStringLiteral("New disk image for \"%1\"").arg(request.title);
    // --password-stdin also answers the new-image sheet: that password, not in the keychain,
    // no size limit, so an encrypted image can be made without a window.
    if (m_imagePassword.isEmpty()) {
        logPrompt(title, QStringLiteral("Cancel"));
        return {};
    }
    logPrompt(title, QStringLiteral("password from standard input, no size limit"));
    ImageCreationAnswer answer;
    answer.ok = true;
    answer.password = QString::fromUtf8(m_imagePassword);
    answer.passwordInKeychain = false;
    answer.sizeLimitGB = 0;
    return answer;
}

QString DriverUiPrompts::chooseFolder(const FolderChoiceRequest& request)
{
    logPrompt(request.prompt.isEmpty() ? QStringLiteral("Choose a folder") : request.prompt,
        QStringLiteral("Cancel"));
    return QString();
}

int DriverUiPrompts::waitForVolume(const VolumeWaitRequest& request)
{
    logPrompt(QStringLiteral("Waiting for volume \"%1\"").arg(request.volumeName), QStringLiteral("Cancel"));
    return 0;
}

UiPrompts::ProjectPasswordAnswer DriverUiPrompts::askProjectPassword(const ProjectPasswordRequest& request)
{
    const QString title = request.type == 2 ? QStringLiteral("New password of \"%1\"").arg(request.title)
                                            : QStringLiteral("Password of \"%1\"").arg(request.title);
    if (m_projectPassword.isNull() || !request.errorText.isEmpty()) {
        logPrompt(title, QStringLiteral("Cancel"));
        return {};
    }
    logPrompt(title, QStringLiteral("password from standard input"));
    ProjectPasswordAnswer answer;
    answer.ok = true;
    answer.password = QString::fromUtf8(m_projectPassword);
    answer.passwordInKeychain = false;
    return answer;
}

UiPrompts::LocateFileAnswer DriverUiPrompts::locateFile(const LocateFileRequest& request)
{
    const QString title = request.prompt.isEmpty() ? request.fileName : request.prompt;
    LocateFileAnswer answer;
    for (const QString& dir : m_volumeDirs) {
        struct stat st = {};
        const QByteArray path = NameCodec::encode(dir + QLatin1Char('/') + request.fileName);
        if (::stat(path.constData(), &st) == 0 && S_ISREG(st.st_mode)) {
            answer.result = LocateResult::Chosen;
            answer.folder = dir;
            logPrompt(title, dir);
            return answer;
        }
    }
    if (request.canSkip && m_skipMissing) {
        answer.result = LocateResult::Skipped;
        logPrompt(title, QStringLiteral("Skip"));
        return answer;
    }
    logPrompt(title, QStringLiteral("Cancel"));
    return answer;
}

UiPrompts::BurnSetupAnswer DriverUiPrompts::askBurnSetup(const BurnSetupRequest& request)
{
    const QString title = QStringLiteral("Burn setup for disc %1").arg(request.discNumber);
    while (m_nextBurnDrive < m_burnDrives.size()) {
        const QString drive = m_burnDrives.at(m_nextBurnDrive++);
        const BurnMedia media = request.inspect ? request.inspect(drive) : BurnMedia { true, QString() };
        if (!media.suitable) {
            logPrompt(title, QStringLiteral("skipped %1: %2").arg(drive, media.status));
            continue;
        }
        logPrompt(title, drive);
        BurnSetupAnswer answer;
        answer.ok = true;
        answer.drive = drive;
        answer.appendable = request.appendable;
        return answer;
    }
    logPrompt(title, QStringLiteral("Cancel"));
    return {};
}
