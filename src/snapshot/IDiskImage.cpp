#include "IDiskImage.h"

#include "platform/MainThread.h"
#include "platform/NameCodec.h"
#include "projects/ILocation.h"
#include "snapshot/Backup3VersionList.h"
#include "snapshot/IBackup3.h"
#include "snapshot/IBackup3Container.h"
#include "utilities/AGKeychain.h"
#include "utilities/IDiskUtil.h"
#include "utilities/IFileCopier.h"
#include "utilities/LogOptions.h"
#include "utilities/ProjectPasswordPrompt.h"
#include "utilities/UiPrompts.h"

#include <QCoreApplication>
#include <QDebug>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <sys/statvfs.h>

namespace {

QString tr(const char* text)
{
    return QCoreApplication::translate("Localizable", text);
}

bool pathExists(const QString& path)
{
    struct stat st;
    return !path.isEmpty() && ::stat(NameCodec::encodeStd(path).c_str(), &st) == 0;
}

// Capacity and free space of the volume holding path, in bytes; false when unknown.
bool volumeSpace(const QString& path, double* capacity, double* available)
{
    struct statvfs v;
    if (path.isEmpty() || ::statvfs(NameCodec::encodeStd(path).c_str(), &v) != 0)
        return false;
    *capacity = double(v.f_blocks) * double(v.f_frsize);
    *available = double(v.f_bavail) * double(v.f_frsize);
    return true;
}

} // namespace

QString IDiskImage::nameForProjectFileName(const QString& projectFileName, bool encrypted)
{
    if (projectFileName.size() < ProjectFileNameTail)
        return {};
    return (encrypted ? QStringLiteral("encr_") : QString())
        + projectFileName.left(projectFileName.size() - ProjectFileNameTail);
}

QString IDiskImage::fileNameForName(const QString& name)
{
    return name.isNull() ? QString() : name + QStringLiteral(".sparsebundle");
}

double IDiskImage::createSizeInGB(
    int sizeType, double customValueGB, quint64 freeBytes, quint64 capacityBytes)
{
    if (sizeType == 1)
        return customValueGB != 0 ? customValueGB : double(freeBytes) / 1e9 * 0.9;
    return double(capacityBytes) / 1e9 * 0.9;
}

IDiskImage::FitDecision IDiskImage::fitDecision(int sizeType, double customValueGB, quint64 holdingFreeBytes,
    quint64 holdingCapacityBytes, double imageCapacityMB, double imageFreeMB)
{
    FitDecision d;
    if (sizeType == 0) {
        // automatic: the image may take 90 % of what the holding volume has free
        if (double(holdingFreeBytes) / 1e6 * 0.9 <= imageCapacityMB) {
            if (imageFreeMB < 0.1) {
                d.action = FitDecision::Refuse;
                d.state = 3;
            }
            return d;
        }
        d.action = FitDecision::Grow;
        d.sizeGB = double(holdingCapacityBytes) / 1e6 / 1000;
        return d;
    }
    const double g = customValueGB;
    if (g == 0)
        return d;
    if (imageFreeMB < 1.0) {
        d.action = FitDecision::Refuse;
        d.state = 9;
        return d;
    }
    const double mg = imageCapacityMB / 1000;
    d.sizeGB = g;
    d.storeCustomValue = true;
    if (g > mg)
        d.action = FitDecision::Grow;
    else if (g * 1.08 < mg)
        d.action = FitDecision::Shrink; // more than 8 % too large
    return d;
}

double IDiskImage::shrinkTargetGB(double wantedGB, double minimumGB, bool* raised)
{
    const bool up = minimumGB > 0 && wantedGB < minimumGB;
    if (raised)
        *raised = up;
    return up ? minimumGB : wantedGB;
}

const QString IDiskImage::cnsNamePreffix = QStringLiteral("NamePreffix");
const QString IDiskImage::cnsPasswordMD5 = QStringLiteral("PasswordMD5");

IDiskImage::IDiskImage(IBackup3* backup)
    : _backup(backup)
{ }

IDiskImage::IDiskImage(ILocation* location)
    : _location(location)
{ }

std::shared_ptr<IDiskImage> IDiskImage::createWithBackup(IBackup3* backup)
{
    return backup ? std::make_shared<IDiskImage>(backup) : nullptr;
}

std::shared_ptr<IDiskImage> IDiskImage::createWithBackup(IBackup3* backup, const QVariantMap& dict)
{
    auto image = createWithBackup(backup);
    if (image)
        image->loadFromDict(dict);
    return image;
}

std::shared_ptr<IDiskImage> IDiskImage::createWithLocation(ILocation* location)
{
    return location ? std::make_shared<IDiskImage>(location) : nullptr;
}

bool IDiskImage::loadFromDict(const QVariant& value)
{
    if (value.typeId() != QMetaType::QVariantMap)
        return false;
    const QVariantMap d = value.toMap();
    const QVariant prefix = d.value(cnsNamePreffix);
    if (prefix.typeId() == QMetaType::QString)
        _nameSuffix = prefix.toString();
    const QVariant md5 = d.value(cnsPasswordMD5);
    if (md5.typeId() == QMetaType::QByteArray)
        _passwordMD5 = IPasswordMD5::createWithData(md5.toByteArray());
    return true;
}

QVariantMap IDiskImage::dict() const
{
    QVariantMap d;
    if (!_nameSuffix.isEmpty())
        d.insert(cnsNamePreffix, _nameSuffix);
    if (!_passwordMD5.isEmpty())
        d.insert(cnsPasswordMD5, _passwordMD5.data());
    return d;
}

// ---- names and places -------------------------------------------------------------------------

QString IDiskImage::name() const
{
    if (_backup)
        return nameForProjectFileName(_backup->fileName(), isEncrypted());
    if (_location) {
        QString last = _location->getPathFromMountPoint();
        last = last.mid(last.lastIndexOf(QLatin1Char('/')) + 1);
        const qsizetype dot = last.lastIndexOf(QLatin1Char('.'));
        return dot > 0 ? last.left(dot) : last;
    }
    return {};
}

QString IDiskImage::fileName() const
{
    if (_location) {
        const QString path = _location->getPathFromMountPoint();
        return path.isNull() ? QString() : path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
    }
    return fileNameForName(name());
}

QString IDiskImage::folderPath() const
{
    if (_backup)
        return _backup->BDIFolderPath();
    if (_location) {
        const QString path = _location->getUnverifiedFullPath();
        const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
        return slash > 0 ? path.left(slash) : QString();
    }
    return {};
}

QString IDiskImage::imagePathVerified(bool verify) const
{
    QString path;
    if (_location) {
        path = _location->getUnverifiedFullPath();
    } else {
        const QString folder = folderPath();
        const QString file = fileName();
        if (folder.isEmpty() || file.isEmpty())
            return {};
        path = ILocation::joinPath(folder, file);
    }
    if (verify && !pathExists(path))
        return {};
    return path;
}

bool IDiskImage::isEncrypted() const
{
    return _backup && _backup->useEncryptedBDI();
}

QString IDiskImage::getMountPoint() const
{
    const QString path = imagePathVerified(false);
    return path.isEmpty() ? QString() : DiskImageTool::mountPointForImage(path);
}

QString IDiskImage::mountedContentPath() const
{
    const QString mountPoint = getMountPoint();
    return mountPoint.isEmpty() ? QString() : DiskImageTool::contentPath(mountPoint);
}

// ---- tool steps -------------------------------------------------------------------------------

QString IDiskImage::makeDIWithPassword(const QString& password, double sizeLimitInGB, QString* comment)
{
    const QString path = imagePathVerified(false);
    if (path.isEmpty()) {
        if (comment)
            *comment = tr("The disk image has no place.");
        return {};
    }
    const QString volumeName = !_internalName.isEmpty() ? _internalName : fileName();
    _password = password;
    // Encrypted images are ext4: btrfs has no file-system encryption here.
    const auto fs = _FSType == FSTypeApfs && password.isEmpty() ? DiskImageTool::FileSystem::Apfs
                                                                : DiskImageTool::FileSystem::MacExtended;
    const QString uuid = m_tool.create(path, volumeName, sizeLimitInGB, fs, password.toUtf8(), comment);
    m_lastFailure = m_tool.lastFailure();
    if (uuid.isEmpty())
        return {};
    if (auto md5 = IPasswordMD5::createWithPassword(password))
        _passwordMD5 = *md5;
    else
        _passwordMD5.setEmpty();
    if (_backup)
        _backup->setBDIDict(dict());
    return uuid;
}

QString IDiskImage::attachDIWithPassword(const QString& password, QString* comment, bool readOnly)
{
    const QString path = imagePathVerified(false);
    if (path.isEmpty())
        return {};
    const QString mountPoint = m_tool.attach(path, password.toUtf8(), readOnly, comment);
    m_lastFailure = m_tool.lastFailure();
    if (mountPoint.isEmpty())
        return {};
    _mountedContentPath = DiskImageTool::contentPath(mountPoint);
    return mountPoint;
}

bool IDiskImage::getDISizeLimitsWithPassword(
    const QString& password, double* minInGB, double* curInGB, double* maxInGB, QString* comment)
{
    quint64 mn = 0, cur = 0, mx = 0;
    const bool ok = m_tool.sizeLimits(imagePathVerified(false), password.toUtf8(), &mn, &cur, &mx, comment);
    m_lastFailure = m_tool.lastFailure();
    if (!ok || mn == 0 || cur == 0 || mx == 0)
        return false;
    if (minInGB)
        *minInGB = double(mn) * 512 / 1e9;
    if (curInGB)
        *curInGB = double(cur) * 512 / 1e9;
    if (maxInGB)
        *maxInGB = double(mx) * 512 / 1e9;
    return true;
}

bool IDiskImage::changeDIMaxSizeWithPassword(const QString& password, double sizeInGB, QString* comment)
{
    const bool ok = m_tool.resize(imagePathVerified(false), password.toUtf8(), sizeInGB, comment);
    m_lastFailure = m_tool.lastFailure();
    return ok;
}

int IDiskImage::detachDIWithWaiting(bool wait, QString* comment)
{
    // Looked up by the image file: an attachment made by an earlier object or run goes too.
    const QString path = imagePathVerified(false);
    const bool attached = !path.isEmpty() && DiskImageTool::attachment(path).has_value();
    _mountedContentPath.clear();
    if (!attached)
        return 1;
    const bool ok = m_tool.detach(path, comment);
    m_lastFailure = m_tool.lastFailure();
    if (!wait)
        return 0;
    return ok ? 0 : 1;
}

bool IDiskImage::detachDIWithMountPoint(const QString& mountPoint, bool wait)
{
    DiskImageTool tool;
    const bool ok = tool.detach(mountPoint);
    return !wait || ok;
}

bool IDiskImage::changeDIPasswordWithOldPassword(const QString& oldPassword, const QString& newPassword)
{
    const bool ok
        = m_tool.changePassword(imagePathVerified(false), oldPassword.toUtf8(), newPassword.toUtf8());
    m_lastFailure = m_tool.lastFailure();
    if (ok) {
        if (auto md5 = IPasswordMD5::createWithPassword(newPassword))
            _passwordMD5 = *md5;
        _password = newPassword;
        if (_backup)
            _backup->setBDIDict(dict());
    }
    return ok;
}

// ---- the project's steps ----------------------------------------------------------------------

void IDiskImage::log(const QString& text, quint64 options) const
{
    if (_backup)
        _backup->processMessage(text, options, _backup);
    else
        qInfo().noquote() << text;
}

void IDiskImage::setState(int code, double data) const
{
    if (_backup)
        _backup->setBDILastWorkingState(code, data);
}

int IDiskImage::askAndRenameExistingFilePath(const QString& filePath, const QString& newFilePath)
{
    UiPrompts::Alert alert;
    alert.title = tr("Disk Image");
    alert.text = tr("New backup destination contains disk image of this backup project:\n\n%1\n\nYou can "
                    "continue backup into the existing disk image, or create a new one (the existing disk "
                    "image will be renamed).")
                     .arg(filePath.mid(filePath.lastIndexOf(QLatin1Char('/')) + 1));
    alert.buttons = { tr("Use Existing"), tr("Cancel"), tr("Create New") };
    int answer;
    {
        ModalDepthGuard modal;
        answer = UiPrompts::shared().showAlert(alert);
    }
    if (answer == 0)
        return 1;
    if (answer != 2)
        return 0;
    if (DiskImageTool::attachment(filePath)) {
        log(tr("Error with rename: %1").arg(tr("the disk image is attached.")), LogWord::WindowPrefixedNow);
        return 0;
    }
    if (::rename(NameCodec::encodeStd(filePath).c_str(), NameCodec::encodeStd(newFilePath).c_str()) != 0) {
        log(tr("Error with rename: %1").arg(QString::fromLocal8Bit(std::strerror(errno))),
            LogWord::WindowPrefixedNow);
        return 0;
    }
    return 2;
}

bool IDiskImage::createOnDisk()
{
    if (!_backup)
        return false;
    const QString folder = folderPath();
    const quint64 F = IDiskUtil::availableSpaceOnVolume(folder);
    const quint64 K = IDiskUtil::maxSpaceOnVolume(folder);
    if (F < quint64(MinimumFreeForCreation)) {
        setState(2);
        return false;
    }
    log(tr("Creating disk image"), LogWord::StatusAndWindow);
    QString password;
    if (isEncrypted()) {
        long sizeLimit = 0;
        bool inKeychain = false;
        if (!_backup->getBackupDIMaxSizeByUser(&sizeLimit, &password, &inKeychain)) {
            setState(4);
            return false;
        }
        // A size given on the sheet becomes the project's custom maximum size.
        if (sizeLimit > 0) {
            _backup->setDIMaxSizeType(1);
            _backup->setDIMaxSizeCustomValue(double(sizeLimit));
        }
    }
    const double sizeGB = createSizeInGB(_backup->DIMaxSizeType(), _backup->DIMaxSizeCustomValue(), F, K);
    QString comment;
    if (makeDIWithPassword(password, sizeGB, &comment).isEmpty()) {
        log(comment.isEmpty() ? tr("Error with creating disk image.")
                              : tr("Error with creating disk image: %1").arg(comment),
            LogWord::WindowPrefixedNow);
        return false;
    }
    return true;
}

bool IDiskImage::askPassword(bool fit, QString* password)
{
    UiPrompts::ImagePasswordRequest request;
    request.title = _backup->name();
    request.UUID = _backup->UUID();
    request.passwordInKeychain = _backup->isBDIPasswordInKeychain();
    request.canChangePassword = fit;
    request.incrementalBackup = fit;
    // A password kept in the keychain is used without asking when it matches the image's digest.
    const UiPrompts::ImagePasswordAnswer answer
        = ProjectPasswordPrompt::askImagePassword(request, &_passwordMD5, tr("The password is not correct."));
    if (!answer.ok)
        return false;
    const bool wasInKeychain = _backup->isBDIPasswordInKeychain();
    _backup->setBDIPasswordInKeychain(answer.passwordInKeychain);
    if (!answer.passwordInKeychain && wasInKeychain)
        _backup->removeKeychain();
    *password = answer.password;
    return true;
}

void IDiskImage::readVersionList(const QString& contentPath)
{
    // The list is written only when missing: an unreadable or damaged one is left for the run's
    // own checks, never replaced by an empty one.
    const Backup3VersionList::ReadResult list = Backup3VersionList::read(contentPath);
    if (list.state == Backup3VersionList::State::Missing) {
        QString error;
        if (!Backup3VersionList::write(contentPath, QVariantMap(), &error))
            log(error, LogWord::WindowPrefixedNow);
        _backup->setLastProcessFolder(QString());
        return;
    }
    const QVariant last = list.dict.value(QStringLiteral("LastFolder"));
    const QString folder = last.typeId() == QMetaType::QString ? last.toString() : QString();
    _backup->setLastProcessFolder(Backup3VersionList::isVersionFolderName(folder) ? folder : QString());
}

bool IDiskImage::mountFromDiskForWrite(bool fit, bool readOnly)
{
    if (!_backup)
        return false;
    const QString path = imagePathVerified(true);
    if (path.isEmpty()) {
        log(tr("Disk image \"%1\" was not found").arg(fileName()), LogWord::WindowPrefixedNow);
        setState(11);
        return false;
    }
    log(tr("Mounting disk image"), LogWord::StatusAndWindow);
    QString password = _password;
    if (isEncrypted() && password.isEmpty() && !askPassword(fit, &password)) {
        log(tr("Error with mounting disk image"), LogWord::WindowPrefixedNow);
        setState(4);
        return false;
    }
    double HC = 0, H = 0;
    volumeSpace(folderPath(), &HC, &H);
    QString comment;
    const QString mountPoint = attachDIWithPassword(password, &comment, readOnly);
    if (mountPoint.isEmpty()) {
        log(comment.isEmpty() ? tr("Error with mounting disk image")
                              : tr("Error with mounting disk image: %1").arg(comment),
            LogWord::WindowPrefixedNow);
        if (m_lastFailure == DiskImageTool::Failure::WrongPassword)
            _password.clear();
        setState(11);
        return false;
    }
    _backup->setTargetChanged(false);
    _password = password;
    if (!fit)
        return true;

    double M = 0, A = 0;
    volumeSpace(DiskImageTool::contentPath(mountPoint), &M, &A);
    const FitDecision d = fitDecision(
        _backup->DIMaxSizeType(), _backup->DIMaxSizeCustomValue(), quint64(H), quint64(HC), M / 1e6, A / 1e6);
    if (d.action == FitDecision::Refuse) {
        setState(d.state);
        return false;
    }
    double G = d.sizeGB;
    if (d.action != FitDecision::Keep) {
        bool resized = false;
        if (d.action == FitDecision::Grow) {
            log(tr("Resizing disk Image"), LogWord::StatusAndWindow);
            resized = !_backup->resizeBDIWithPassword(password, G).isEmpty();
            if (!resized) {
                setState(7);
                return false;
            }
        } else {
            log(tr("Getting size limits for the Disk Image"), LogWord::StatusAndWindow);
            const double L = _backup->getBDIMinSizeLimitInGBWithPassword(password);
            if (L == 0)
                log(tr("Unable to get size limit for the Disk Image"), LogWord::RunLogPrefixedNow);
            bool raised = false;
            G = shrinkTargetGB(G, L, &raised);
            if (raised)
                log(tr("Warning: New size limit of %1Gb will be set for Disk Image (impossible to shrink "
                       "disk "
                       "image size to the user set value)")
                        .arg(G, 0, 'f', 2),
                    LogWord::RunLogPrefixedNow);
            log(tr("Shrinking Disk Image size"), LogWord::StatusAndWindow);
            resized = !_backup->resizeBDIWithPassword(password, G).isEmpty();
            if (!resized) {
                setState(8, M / 1e9);
                log(tr("Error with resizing Disk Image!"), LogWord::RunLogPrefixedNow);
            }
        }
        // A failed resize attaches the image again at its old size; when even that failed the
        // run cannot go on.
        const QString content = mountedContentPath();
        if (content.isEmpty()) {
            setState(11);
            return false;
        }
        volumeSpace(content, &M, &A);
        if (A / 1e6 < 1.0) {
            setState(3);
            return false;
        }
        if (!resized)
            G = _backup->DIMaxSizeCustomValue();
    }
    if (d.storeCustomValue && _backup->DIMaxSizeCustomValue() != G) {
        _backup->setDIMaxSizeCustomValue(G);
        if (IBackup3Container* container = _backup->backup3Container())
            container->save();
    }
    readVersionList(mountedContentPath());
    return true;
}

bool IDiskImage::activateForWrite(bool fit)
{
    if (!_backup)
        return false;
    const QString P = imagePathVerified(true);
    const bool restoreOnly = !fit && _backup->needRestore();
    if (!_backup->isTargetChanged() && !P.isEmpty())
        return mountFromDiskForWrite(fit, restoreOnly);
    if (!fit)
        return mountFromDiskForWrite(false, restoreOnly);
    auto createAndMount = [&] { return createOnDisk() && mountFromDiskForWrite(fit, restoreOnly); };
    if (P.isEmpty())
        return createAndMount();
    const qsizetype slash = P.lastIndexOf(QLatin1Char('/'));
    const QString folder = P.left(slash);
    const QString N = generateSavedNameForFileWithName(P.mid(slash + 1), folder);
    if (N.isEmpty())
        return true;
    switch (askAndRenameExistingFilePath(P, folder + QLatin1Char('/') + N)) {
    case 1:
        return mountFromDiskForWrite(fit, restoreOnly);
    case 2:
        return createAndMount();
    default:
        setState(4);
        return false;
    }
}

bool IDiskImage::activateForRestore()
{
    return _backup && mountFromDiskForWrite(false, true);
}

bool IDiskImage::deactivate()
{
    log(tr("Ejecting disk image"), LogWord::StatusAndWindow);
    const QString path = imagePathVerified(false);
    const bool attached = !path.isEmpty() && DiskImageTool::attachment(path).has_value();
    QString comment;
    if (detachDIWithWaiting(true, &comment) != 0 && attached)
        log(tr("Error with ejecting disk image: %1").arg(comment), LogWord::WindowPrefixedNow);
    log(tr("Ready"), LogWord::StatusNow);
    return true;
}

QString IDiskImage::generateSavedNameForFileWithName(const QString& name, const QString& folderPath)
{
    return IFileCopier::savedNameForFile(name, folderPath);
}
