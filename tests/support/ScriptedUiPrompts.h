#pragma once

#include "utilities/UiPrompts.h"

#include <QList>

// The prompts a test expects, in order, with their answers. A prompt that was not expected (or
// that does not match the next expectation) fails the running test and answers Cancel.
// Installs itself as UiPrompts::shared() while it lives.
class ScriptedUiPrompts : public UiPrompts
{
public:
    ScriptedUiPrompts();
    ~ScriptedUiPrompts() override;

    void expectCredentials(const CredentialsAnswer& answer);
    void expectCredentials(const QString& userName, const QString& password, bool saveToKeychain = false);
    void expectCancelledCredentials();
    // titleContains: a part of the alert's title that must be there
    void expectAlert(const QString& titleContains, int button);
    void expectImagePassword(const QString& password, bool passwordInKeychain = false);
    void expectCancelledImagePassword();
    void expectNewImage(const QString& password, long sizeLimitGB = 0, bool passwordInKeychain = false);
    void expectCancelledNewImage();
    // The chooser answers this folder after the request's validator accepted it; a refusal is
    // kept in folderRefusals and the chooser answers null, as if the user then cancelled.
    void expectFolder(const QString& path);
    // The wait for a volume answers 1 (it appeared), 0 (cancelled) or -1 (timed out).
    void expectVolumeWait(int answer);
    // A null password expects the dialog and answers Cancel.
    void expectProjectPassword(const QString& password, bool passwordInKeychain = false);
    // A null text answers Cancel.
    void expectText(const QString& text);
    // The chooser answers these paths after the validator accepted them (a refusal is kept in
    // itemRefusals and the answer is empty); no paths answers Cancel.
    void expectItems(const QStringList& paths);
    void expectSavePath(const QString& path);
    void expectNumber(std::optional<double> value);
    // The search for a missing file answers Chosen with this folder, Skipped or Cancelled.
    void expectLocateFile(LocateResult result, const QString& folder = QString());

    // The burn setup answers OK with this drive and box after checking, through the request's
    // inspect(), that the drive's medium is suitable (an unsuitable one is kept in
    // burnRefusals and the panel "stays": the next expectation answers); a null drive cancels.
    void expectBurnSetup(const QString& drive, bool appendable = true);

    int pending() const { return int(m_script.size()); }
    QList<CredentialsRequest> credentialRequests;
    QList<Alert> alerts;
    QList<ImagePasswordRequest> imagePasswordRequests;
    QList<ImageCreationRequest> imageCreationRequests;
    QList<FolderChoiceRequest> folderRequests;
    QStringList folderRefusals;
    QList<VolumeWaitRequest> volumeWaitRequests;
    QList<ProjectPasswordRequest> projectPasswordRequests;
    QList<TextRequest> textRequests;
    QList<ItemChoiceRequest> itemRequests;
    QStringList itemRefusals;
    QList<SavePathRequest> savePathRequests;
    QList<NumberRequest> numberRequests;
    QList<LocateFileRequest> locateRequests;
    QList<BurnSetupRequest> burnSetupRequests;
    QStringList burnRefusals;
    QStringList unexpected;

    CredentialsAnswer askAdminCredentials(const CredentialsRequest& request) override;
    int showAlert(const Alert& alert) override;
    ImagePasswordAnswer askImagePassword(const ImagePasswordRequest& request) override;
    ImageCreationAnswer askNewImage(const ImageCreationRequest& request) override;
    QString chooseFolder(const FolderChoiceRequest& request) override;
    int waitForVolume(const VolumeWaitRequest& request) override;
    ProjectPasswordAnswer askProjectPassword(const ProjectPasswordRequest& request) override;
    QString askText(const TextRequest& request) override;
    QStringList chooseItems(const ItemChoiceRequest& request) override;
    QString chooseSavePath(const SavePathRequest& request) override;
    std::optional<double> askNumber(const NumberRequest& request) override;
    LocateFileAnswer locateFile(const LocateFileRequest& request) override;
    BurnSetupAnswer askBurnSetup(const BurnSetupRequest& request) override;

private:
    enum class Kind
    {
        Credentials,
        Alert,
        ImagePassword,
        NewImage,
        Folder,
        VolumeWait,
        ProjectPassword,
        Text,
        Items,
        SavePath,
        Number,
        Locate,
        BurnSetup
    };
    struct Step
    {
        Kind kind = Kind::Credentials;
        CredentialsAnswer credentials;
        ImagePasswordAnswer imagePassword;
        ImageCreationAnswer newImage;
        QString folder;
        QStringList items;
        std::optional<double> number;
        QString titleContains;
        int button = -1;
    };
    void fail(const QString& what);
    bool nextIs(Kind kind) const { return !m_script.isEmpty() && m_script.first().kind == kind; }
    QList<Step> m_script;
};
