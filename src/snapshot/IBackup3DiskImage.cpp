// The snapshot-backup project's side of its disk image: opening and closing it around a run,
// resizing it, the sheet for a new image, the keychain item of its password, and the choice of a
// new destination when the image or its volume runs out of space.
#include "IBackup3.h"
#include "platform/DiskImageTool.h"
#include "platform/MainThread.h"
#include "platform/NameCodec.h"
#include "projects/ILocation.h"
#include "snapshot/IBackup3Container.h"
#include "snapshot/IBackup3Controller.h"
#include "snapshot/IDiskImage.h"
#include "utilities/IDiskUtil.h"
#include "utilities/IFileCopier.h"
#include "utilities/IPathUtil.h"
#include "utilities/LogOptions.h"
#include "utilities/ProjectKeychain.h"
#include "utilities/ProjectPasswordPrompt.h"
#include "utilities/QVLog.h"
#include "utilities/UiPrompts.h"

#include <QCoreApplication>
#include <QDebug>
#include <ftw.h>
#include <sys/stat.h>

namespace {

// Device and inode of a path; {0, 0} when it is not there.
std::pair<dev_t, ino_t> identity(const QString& path)
{
    struct stat st;
    if (path.isEmpty() || ::lstat(NameCodec::encodeStd(path).c_str(), &st) != 0)
        return { 0, 0 };
    return { st.st_dev, st.st_ino };
}

// Options of the "Terminated" line: status, window and run log, as UTF-8 bytes.
constexpr quint64 TerminatedOptions
    = (LogWord::ProjectStatusWindowRunLog & ~LogOption::String) | LogOption::Utf8;

bool isFolder(const QString& path)
{
    struct stat st;
    return !path.isEmpty() && ::stat(NameCodec::encodeStd(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

} // namespace

void IBackup3::setBDI(std::shared_ptr<IDiskImage> image)
{
    m_BDI = std::move(image);
}

QString IBackup3::BDIFolderPath() const
{
    // A restore from an image found elsewhere reads it where it was found.
    if (needRestore() && m_originalBDILocation)
        return m_originalBDILocation->getUnverifiedFullPath();
    if (m_destLocation)
        return m_destLocation->getUnverifiedFullPath();
    return destinationFullPath();
}

bool IBackup3::openBDI(bool forRestore)
{
    const bool restore = forRestore || needRestore();
    // The image object only names the image: a restore attaches an existing one and never makes
    // one, so a plain image (no name suffix, no password digest) is found after a restart too.
    if (useBDI() && !m_BDI)
        setBDI(IDiskImage::createWithBackup(this, m_BDIDict));
    if (!m_BDI)
        return false;
    return restore ? m_BDI->activateForRestore() : m_BDI->activateForWrite(true);
}

bool IBackup3::closeBDI()
{
    if (!m_BDI || !m_BDI->isBDICurrentlyActivated())
        return true;
    return m_BDI->deactivate();
}

bool IBackup3::isBDICurrentlyActivated() const
{
    return useBDI() && m_BDI && m_BDI->isBDICurrentlyActivated();
}

QString IBackup3::getBDIContentPath() const
{
    return useBDI() && m_BDI ? m_BDI->mountedContentPath() : QString();
}

QString IBackup3::resizeBDIWithPassword(const QString& password, double newSizeInGB)
{
    if (!m_BDI)
        return {};
    QString comment;
    m_BDI->detachDIWithWaiting(true, &comment);
    comment.clear();
    if (m_BDI->changeDIMaxSizeWithPassword(password, newSizeInGB, &comment))
        return m_BDI->attachDIWithPassword(password, &comment);
    processMessage(tr("Error with resizing disk image: %1").arg(comment), LogWord::ProjectWindowRunLog, this);
    // The image keeps its old size; it is attached again so a run can go on with it.
    QString again;
    m_BDI->attachDIWithPassword(password, &again);
    return {};
}

double IBackup3::getBDIMinSizeLimitInGBWithPassword(const QString& password)
{
    if (!m_BDI)
        return 0;
    m_BDI->detachDIWithWaiting(true);
    double minGB = 0;
    QString comment;
    return m_BDI->getDISizeLimitsWithPassword(password, &minGB, nullptr, nullptr, &comment) ? minGB : 0;
}

bool IBackup3::getBackupDIMaxSizeByUser(long* size, QString* password, bool* passwordInKeychain)
{
    if (!password) {
        qWarning("getBackupDIMaxSizeByUser: no password pointer");
        return false;
    }
    if (!passwordInKeychain) {
        qWarning("getBackupDIMaxSizeByUser: no keychain flag pointer");
        return false;
    }
    UiPrompts::ImageCreationRequest request;
    request.title = name();
    request.UUID = UUID();
    request.passwordInKeychain = isBDIPasswordInKeychain();
    // The sheet's field starts at its minimum, and a whole number above 0 becomes the project's
    // fixed limit: 0 keeps the project's own size rule (by default 90 % of the volume), so a plain
    // OK never shrinks the image to a fixed size. The note tells how much the sources hold.
    request.minSizeGB = 0;
    request.sourceSizeNote = sourceSizeNote();
    // the title and UUID check and the keychain write after OK
    const UiPrompts::ImageCreationAnswer answer = ProjectPasswordPrompt::askNewImage(request);
    bool confirmed = answer.ok;
    if (confirmed) {
        if (!answer.password.isEmpty()) {
            *password = answer.password;
            *passwordInKeychain = answer.passwordInKeychain;
        } else {
            *password = QString();
            confirmed = false;
        }
        if (size)
            *size = answer.sizeLimitGB;
    }
    setBDIPasswordInKeychain(answer.ok ? answer.passwordInKeychain : isBDIPasswordInKeychain());
    return confirmed;
}

QString IBackup3::sourceSizeNote() const
{
    // The space the files take on their own volumes: other mounts below a source (and the
    // kernel's files under /proc when a source is "/") are not counted.
    static thread_local quint64 bytes = 0;
    bytes = 0;
    const auto add = [](const char*, const struct stat* st, int flag, FTW*) {
        if (flag == FTW_F && S_ISREG(st->st_mode))
            bytes += quint64(st->st_blocks) * 512;
        return 0;
    };
    for (const auto& source : m_srcLocations)
        if (source && !source->getUnverifiedFullPath().isEmpty())
            ::nftw(
                NameCodec::encodeStd(source->getUnverifiedFullPath()).c_str(), add, 32, FTW_PHYS | FTW_MOUNT);
    return tr("The sources take %1 GB.").arg(QString::number(double(bytes) / 1e9, 'f', 2));
}

void IBackup3::removeKeychain()
{
    ProjectKeychain::remove(name(), UUID());
}

QString IBackup3::validatorBDICopySelect(const QStringList& paths) const
{
    // The space the image really takes: its file is sparse, so its apparent size says nothing.
    const quint64 size = m_BDI ? IFileCopier::allocatedSizeOfFile(m_BDI->imagePathVerified(false)) : 0;
    if (paths.isEmpty())
        return {};
    const quint64 available = IDiskUtil::availableSpaceOnVolume(paths.first());
    if (double(available) > double(size) * 1.1)
        return {};
    return tr("Attention: not enough space. Please choose another destination");
}

bool IBackup3::chooseBDICopyingDestPathByUser(ILocation* location)
{
    if (!location)
        return false;
    UiPrompts::FolderChoiceRequest request;
    request.prompt = tr("Choose backup destination: a folder for your Disk Image");
    request.okButton = tr("Choose");
    request.startPath = location->getUnverifiedFullPath();
    if (request.startPath.isEmpty())
        request.startPath = location->getMountPoint();
    request.validator = [this](const QStringList& paths) { return validatorBDICopySelect(paths); };
    QString chosen;
    {
        ModalDepthGuard modal;
        chosen = UiPrompts::shared().chooseFolder(request);
    }
    if (chosen.isEmpty() || !isFolder(chosen))
        return false;
    location->setupWithPath(chosen);
    return !location->isEmpty();
}

bool IBackup3::copyBDIToLocation(ILocation* location)
{
    if (isMainThread())
        QCoreApplication::processEvents();
    const QString source = m_BDI ? m_BDI->imagePathVerified(true) : QString();
    if (source.isEmpty() || !location)
        return false;
    // An image still attached would be copied while it changes.
    if (DiskImageTool::attachment(source)) {
        processMessage(QString(tr("Disk image transfer was terminated") + QStringLiteral(": ")
                           + tr("the disk image is still attached.")),
            LogWord::ProjectStatusWindowRunLog, this);
        return false;
    }
    const QString target = ILocation::joinPath(location->getUnverifiedFullPath(), m_BDI->fileName());
    QString comment;
    if (IFileCopier::copyFilesWithSources({ source }, { IFileCopier::allocatedSizeOfFile(source) },
            { target }, tr("Copying disk image"), QString(), &comment)) {
        processMessage(tr("Disk image transferred successfully"), LogWord::ProjectStatusWindowRunLog, this);
        return true;
    }
    processMessage(tr("Disk image transfer was terminated"), LogWord::ProjectStatusWindowRunLog, this);
    if (!comment.isEmpty())
        processMessage(comment, LogWord::ProjectWindowRunLog, this);
    return false;
}

bool IBackup3::moveBDIToNewLocation(const std::shared_ptr<ILocation>& location)
{
    QVLogWindowOut(tr("Copying disk image"));
    const QString target = ILocation::joinPath(location->getUnverifiedFullPath(), m_BDI->fileName());
    const auto before = identity(target);
    if (copyBDIToLocation(location.get())) {
        setDestLocation(location);
        // The image is already there: the next run uses it without asking.
        setTargetChanged(false);
        return true;
    }
    // Remove only what this copy made: a target that was there before and could not be moved
    // aside is someone's image.
    const auto after = identity(target);
    if (after.second != 0 && after != before) {
        QString comment;
        IPathUtil::removeFileAtPath(target, &comment);
    }
    return false;
}

bool IBackup3::changeTargetForBDIbyUserCreationOnly(bool creationOnly)
{
    if (!creationOnly && m_BDI && m_BDI->isBDICurrentlyActivated())
        m_BDI->detachDIWithWaiting(true);
    processMessage(tr("Choosing new location for disk image"), LogWord::ProjectStatus, this);
    const int state = m_BDILastWorkingState.code;
    if ((state == 5 || state == 3) && m_DIMaxSizeType == 1
        && double(IDiskUtil::availableSpaceOnVolume(BDIFolderPath())) > 0.2e9)
        setBDILastWorkingState(9, 0);

    enum class Choice
    {
        New,
        Move,
        Increase,
        Cancel
    };
    UiPrompts::Alert alert;
    alert.style = UiPrompts::AlertStyle::Warning;
    alert.title = tr("Space Shortage");
    QList<Choice> choices;
    if (m_BDILastWorkingState.code == 9) {
        alert.text
            = tr("Your backup size exceeds the disk image space assigned to it. You should increase the "
                 "size limit, or create a new disk image with sufficient space.");
        alert.buttons = { tr("Create New"), tr("Cancel"), tr("Increase Size") };
        choices = { Choice::New, Choice::Cancel, Choice::Increase };
    } else if (creationOnly) {
        alert.text
            = tr("Your Disk Image destination has run out of free space. You should choose another Volume "
                 "to create a new Disk Image on another Volume.");
        alert.buttons = { tr("Choose Another"), tr("Cancel") };
        choices = { Choice::New, Choice::Cancel };
    } else {
        alert.text
            = tr("Your Disk Image destination has run out of free space. You should choose another Volume "
                 "to move this Disk Image, or create a new Disk Image on another Volume.\n\nCurrent Disk "
                 "Image will not be deleted automatically from the original destination. You will have to "
                 "delete it manually if you want to free space.");
        alert.buttons = { tr("Move"), tr("Cancel"), tr("Create a New") };
        choices = { Choice::Move, Choice::Cancel, Choice::New };
    }
    int answer;
    {
        ModalDepthGuard modal;
        answer = UiPrompts::shared().showAlert(alert);
    }
    const Choice choice = answer >= 0 && answer < choices.size() ? choices.at(answer) : Choice::Cancel;

    auto terminated = [this](quint64 readyOptions) {
        processMessage(tr("Terminated").toUtf8(), TerminatedOptions, this);
        processMessage(tr("Ready"), readyOptions, this);
        return false;
    };
    switch (choice) {
    case Choice::New:
    case Choice::Move: {
        std::shared_ptr<ILocation> location(ILocation::create());
        if (!chooseBDICopyingDestPathByUser(location.get()))
            return terminated(LogWord::ProjectStatus);
        if (choice == Choice::Move)
            return m_BDI && moveBDIToNewLocation(location);
        setDestLocation(location);
        // A new image is made there on the next run; an image of this project found there is asked about.
        setTargetChanged(true);
        return true;
    }
    case Choice::Increase: {
        const QString password = m_BDI ? m_BDI->currentPassword() : QString();
        double value = m_DIMaxSizeCustomValue;
        bool confirmed;
        {
            ModalDepthGuard modal;
            confirmed = IBackup3Controller::shared().getNewDICustomMaxSizeInGBByUserTo(
                &value, m_DIMaxSizeCustomValue);
        }
        if (!confirmed) {
            processMessage(tr("Terminated").toUtf8(), TerminatedOptions, this);
            return false;
        }
        processMessage(tr("Resizing disk Image"), LogWord::ProjectStatusWindowRunLog, this);
        if (resizeBDIWithPassword(password, value).isEmpty())
            return false;
        if (m_DIMaxSizeType == 1) {
            setDIMaxSizeCustomValue(value);
            if (IBackup3Container* container = backup3Container())
                container->save();
        }
        return true;
    }
    case Choice::Cancel:
        break;
    }
    return terminated(LogWord::ProjectStatusWindowRunLog);
}
