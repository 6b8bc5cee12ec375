#include "ScriptedUiPrompts.h"

#include <QtTest>

ScriptedUiPrompts::ScriptedUiPrompts()
{
    UiPrompts::setShared(this);
}

ScriptedUiPrompts::~ScriptedUiPrompts()
{
    UiPrompts::setShared(nullptr);
}

void ScriptedUiPrompts::expectCredentials(const CredentialsAnswer& answer)
{
    Step s;
    s.credentials = answer;
    m_script.append(s);
}

void ScriptedUiPrompts::expectCredentials(
    const QString& userName, const QString& password, bool saveToKeychain)
{
    CredentialsAnswer a;
    a.ok = true;
    a.userName = userName;
    a.password = password;
    a.saveToKeychain = saveToKeychain;
    expectCredentials(a);
}

void ScriptedUiPrompts::expectCancelledCredentials()
{
    expectCredentials(CredentialsAnswer());
}

void ScriptedUiPrompts::expectAlert(const QString& titleContains, int button)
{
    Step s;
    s.kind = Kind::Alert;
    s.titleContains = titleContains;
    s.button = button;
    m_script.append(s);
}

void ScriptedUiPrompts::fail(const QString& what)
{
    unexpected.append(what);
    QTest::qFail(qPrintable(QStringLiteral("unexpected prompt: ") + what), __FILE__, __LINE__);
}

UiPrompts::CredentialsAnswer ScriptedUiPrompts::askAdminCredentials(const CredentialsRequest& request)
{
    credentialRequests.append(request);
    if (!nextIs(Kind::Credentials)) {
        fail(QStringLiteral("credentials dialog \"%1\"").arg(request.prompt));
        return {};
    }
    return m_script.takeFirst().credentials;
}

int ScriptedUiPrompts::showAlert(const Alert& alert)
{
    alerts.append(alert);
    if (!nextIs(Kind::Alert) || !alert.title.contains(m_script.first().titleContains)) {
        fail(QStringLiteral("alert \"%1\"").arg(alert.title));
        return -1;
    }
    return m_script.takeFirst().button;
}

void ScriptedUiPrompts::expectImagePassword(const QString& password, bool passwordInKeychain)
{
    Step s;
    s.kind = Kind::ImagePassword;
    s.imagePassword.ok = true;
    s.imagePassword.password = password;
    s.imagePassword.passwordInKeychain = passwordInKeychain;
    m_script.append(s);
}

void ScriptedUiPrompts::expectCancelledImagePassword()
{
    Step s;
    s.kind = Kind::ImagePassword;
    m_script.append(s);
}

void ScriptedUiPrompts::expectNewImage(const QString& password, long sizeLimitGB, bool passwordInKeychain)
{
    Step s;
    s.kind = Kind::NewImage;
    s.newImage.ok = true;
    s.newImage.password = password;
    s.newImage.sizeLimitGB = sizeLimitGB;
    s.newImage.passwordInKeychain = passwordInKeychain;
    m_script.append(s);
}

void ScriptedUiPrompts::expectCancelledNewImage()
{
    Step s;
    s.kind = Kind::NewImage;
    m_script.append(s);
}

void ScriptedUiPrompts::expectFolder(const QString& path)
{
    Step s;
    s.kind = Kind::Folder;
    s.folder = path;
    m_script.append(s);
}

UiPrompts::ImagePasswordAnswer ScriptedUiPrompts::askImagePassword(const ImagePasswordRequest& request)
{
    imagePasswordRequests.append(request);
    if (!nextIs(Kind::ImagePassword)) {
        fail(QStringLiteral("image password dialog \"%1\"").arg(request.title));
        return {};
    }
    return m_script.takeFirst().imagePassword;
}

UiPrompts::ImageCreationAnswer ScriptedUiPrompts::askNewImage(const ImageCreationRequest& request)
{
    imageCreationRequests.append(request);
    if (!nextIs(Kind::NewImage)) {
        fail(QStringLiteral("new image sheet \"%1\"").arg(request.title));
        return {};
    }
    return m_script.takeFirst().newImage;
}

QString ScriptedUiPrompts::chooseFolder(const FolderChoiceRequest& request)
{
    folderRequests.append(request);
    if (!nextIs(Kind::Folder)) {
        fail(QStringLiteral("folder chooser \"%1\"").arg(request.prompt));
        return {};
    }
    const QString path = m_script.takeFirst().folder;
    if (request.validator) {
        const QString refusal = request.validator(QStringList { path });
        if (!refusal.isNull()) {
            folderRefusals.append(refusal);
            return {};
        }
    }
    return path;
}

void ScriptedUiPrompts::expectVolumeWait(int answer)
{
    Step s;
    s.kind = Kind::VolumeWait;
    s.button = answer;
    m_script.append(s);
}

int ScriptedUiPrompts::waitForVolume(const VolumeWaitRequest& request)
{
    volumeWaitRequests.append(request);
    if (!nextIs(Kind::VolumeWait)) {
        fail(QStringLiteral("wait for volume \"%1\"").arg(request.volumeName));
        return 0;
    }
    return m_script.takeFirst().button;
}

void ScriptedUiPrompts::expectProjectPassword(const QString& password, bool passwordInKeychain)
{
    Step s;
    s.kind = Kind::ProjectPassword;
    s.folder = password;
    s.button = passwordInKeychain ? 1 : 0;
    m_script.append(s);
}

UiPrompts::ProjectPasswordAnswer ScriptedUiPrompts::askProjectPassword(const ProjectPasswordRequest& request)
{
    projectPasswordRequests.append(request);
    if (!nextIs(Kind::ProjectPassword)) {
        fail(QStringLiteral("project password dialog \"%1\"").arg(request.title));
        return {};
    }
    const Step step = m_script.takeFirst();
    ProjectPasswordAnswer a;
    a.ok = !step.folder.isNull();
    if (a.ok) {
        a.password = step.folder;
        a.passwordInKeychain = step.button == 1;
    }
    return a;
}

void ScriptedUiPrompts::expectText(const QString& text)
{
    Step s;
    s.kind = Kind::Text;
    s.folder = text;
    m_script.append(s);
}

QString ScriptedUiPrompts::askText(const TextRequest& request)
{
    textRequests.append(request);
    if (!nextIs(Kind::Text)) {
        fail(QStringLiteral("text input \"%1\"").arg(request.title));
        return {};
    }
    return m_script.takeFirst().folder;
}

void ScriptedUiPrompts::expectItems(const QStringList& paths)
{
    Step s;
    s.kind = Kind::Items;
    s.items = paths;
    m_script.append(s);
}

QStringList ScriptedUiPrompts::chooseItems(const ItemChoiceRequest& request)
{
    itemRequests.append(request);
    if (!nextIs(Kind::Items)) {
        fail(QStringLiteral("open dialog \"%1\"").arg(request.prompt));
        return {};
    }
    const QStringList paths = m_script.takeFirst().items;
    if (request.validator && !paths.isEmpty()) {
        const QString refusal = request.validator(paths);
        if (!refusal.isNull()) {
            itemRefusals.append(refusal);
            return {};
        }
    }
    return paths;
}

void ScriptedUiPrompts::expectSavePath(const QString& path)
{
    Step s;
    s.kind = Kind::SavePath;
    s.folder = path;
    m_script.append(s);
}

QString ScriptedUiPrompts::chooseSavePath(const SavePathRequest& request)
{
    savePathRequests.append(request);
    if (!nextIs(Kind::SavePath)) {
        fail(QStringLiteral("save dialog \"%1\"").arg(request.prompt));
        return {};
    }
    return m_script.takeFirst().folder;
}

void ScriptedUiPrompts::expectNumber(std::optional<double> value)
{
    Step s;
    s.kind = Kind::Number;
    s.number = value;
    m_script.append(s);
}

std::optional<double> ScriptedUiPrompts::askNumber(const NumberRequest& request)
{
    numberRequests.append(request);
    if (!nextIs(Kind::Number)) {
        fail(QStringLiteral("number input \"%1\"").arg(request.title));
        return std::nullopt;
    }
    return m_script.takeFirst().number;
}

void ScriptedUiPrompts::expectLocateFile(LocateResult result, const QString& folder)
{
    Step s;
    s.kind = Kind::Locate;
    s.button = int(result);
    s.folder = folder;
    m_script.append(s);
}

UiPrompts::LocateFileAnswer ScriptedUiPrompts::locateFile(const LocateFileRequest& request)
{
    locateRequests.append(request);
    if (!nextIs(Kind::Locate)) {
        fail(QStringLiteral("search for \"%1\"").arg(request.fileName));
        return {};
    }
    const Step step = m_script.takeFirst();
    LocateFileAnswer answer;
    answer.result = LocateResult(step.button);
    // Skip is only an answer where the prompt offers it.
    if (answer.result == LocateResult::Skipped && !request.canSkip) {
        fail(QStringLiteral("Skip without the offer for \"%1\"").arg(request.fileName));
        answer.result = LocateResult::Cancelled;
    }
    if (answer.result == LocateResult::Chosen)
        answer.folder = step.folder;
    return answer;
}

void ScriptedUiPrompts::expectBurnSetup(const QString& drive, bool appendable)
{
    Step step;
    step.kind = Kind::BurnSetup;
    step.folder = drive;
    step.button = appendable ? 1 : 0;
    m_script.append(step);
}

UiPrompts::BurnSetupAnswer ScriptedUiPrompts::askBurnSetup(const BurnSetupRequest& request)
{
    burnSetupRequests.append(request);
    // The panel stays open while the chosen drive's medium is refused.
    while (nextIs(Kind::BurnSetup)) {
        const Step step = m_script.takeFirst();
        if (step.folder.isNull())
            return {};
        if (!request.drives.contains(step.folder)) {
            fail(QStringLiteral("burn setup without the drive \"%1\"").arg(step.folder));
            return {};
        }
        if (request.inspect && !request.inspect(step.folder).suitable) {
            burnRefusals << step.folder;
            continue;
        }
        BurnSetupAnswer answer;
        answer.ok = true;
        answer.drive = step.folder;
        answer.appendable = step.button == 1;
        return answer;
    }
    fail(QStringLiteral("burn setup for disc %1").arg(request.discNumber));
    return {};
}
