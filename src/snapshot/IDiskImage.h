#pragma once

#include "platform/DiskImageTool.h"
#include "utilities/IPasswordMD5.h"

#include <QString>
#include <QVariantMap>
#include <memory>

class IBackup3;
class ILocation;

// The disk image of a snapshot-backup project (or of a location whose path is an image): its
// names, its stored dictionary, the size rules applied when it is made and when it is attached
// for writing, and the steps that make, attach, fit and detach it. The image file itself is
// handled by DiskImageTool; while attached, "<mount>/data" (mountedContentPath) takes the place of
// the project folder. Main thread only; every tool step is synchronous.
class IDiskImage
{
public:
    // Keys of the stored dictionary.
    static const QString cnsNamePreffix; // "NamePreffix"
    static const QString cnsPasswordMD5; // "PasswordMD5"
    static constexpr int FSTypeApfs = 2; // btrfs; any other value makes ext4

    explicit IDiskImage(IBackup3* backup); // a project image
    explicit IDiskImage(ILocation* location); // the image a location's path names
    IDiskImage(const IDiskImage&) = delete;
    IDiskImage& operator=(const IDiskImage&) = delete;

    // Null without an owner.
    static std::shared_ptr<IDiskImage> createWithBackup(IBackup3* backup);
    static std::shared_ptr<IDiskImage> createWithBackup(IBackup3* backup, const QVariantMap& dict);
    static std::shared_ptr<IDiskImage> createWithLocation(ILocation* location);

    // Stored form: "NamePreffix" (string) and "PasswordMD5" (16 bytes), each only when set.
    // loadFromDict takes each key only with the right type; false only for a non-dictionary.
    bool loadFromDict(const QVariant& dict);
    QVariantMap dict() const;

    // ---- fields ----------------------------------------------------------------------------
    QString internalName() const { return _internalName; }
    void setInternalName(const QString& name) { _internalName = name; }
    QString nameSuffix() const { return _nameSuffix; }
    void setNameSuffix(const QString& suffix) { _nameSuffix = suffix; }
    QString currentPassword() const { return _password; }
    void setPassword(const QString& password) { _password = password; }
    const IPasswordMD5& passwordMD5() const { return _passwordMD5; }
    void setPasswordMD5(const IPasswordMD5& md5) { _passwordMD5 = md5; }
    IBackup3* backup() const { return _backup; }
    ILocation* location() const { return _location; }
    int FSType() const { return _FSType; }
    void setFSType(int type) { _FSType = type; }
    void addFlag(quint64 flag) { _flags |= flag; }
    void removeFlag(quint64 flag) { _flags &= ~flag; }
    bool isFlag(quint64 flag) const { return (_flags & flag) != 0; }
    void setFlags(quint64 flags) { _flags = flags; }
    quint64 getFlags() const { return _flags; }

    // ---- names and places -------------------------------------------------------------------
    QString name() const; // null when it cannot be made (a file name too short)
    QString fileName() const; // "<name>.sparsebundle"
    // The folder that holds the image (the destination's full path), null when unknown.
    QString folderPath() const;
    // The folder joined with fileName(); with verify, null unless it exists.
    QString imagePathVerified(bool verify) const;
    bool isEncrypted() const;
    // The mount point of the image, asked each time (in-process); null when not attached.
    QString getMountPoint() const;
    // "<mount>/data" while attached, null otherwise.
    QString mountedContentPath() const;
    bool isBDICurrentlyActivated() const { return !getMountPoint().isEmpty(); }
    QString description() const { return QStringLiteral("name: %1").arg(name()); }

    // ---- tool steps ---------------------------------------------------------------------------
    // Makes the image file; the file system's UUID, or null with *comment.
    QString makeDIWithPassword(const QString& password, double sizeLimitInGB, QString* comment);
    // Attaches (or finds the attachment of) the image; the mount point, or null with *comment.
    QString attachDIWithPassword(const QString& password, QString* comment, bool readOnly = false);
    bool getDISizeLimitsWithPassword(
        const QString& password, double* minInGB, double* curInGB, double* maxInGB, QString* comment);
    bool changeDIMaxSizeWithPassword(const QString& password, double sizeInGB, QString* comment);
    // 1 when the image was not attached (looked up by its file, not only by the last attach),
    // else 0 when detached (or without waiting) and 1 when the detach failed.
    int detachDIWithWaiting(bool wait, QString* comment = nullptr);
    static bool detachDIWithMountPoint(const QString& mountPoint, bool wait);
    bool changeDIPasswordWithOldPassword(const QString& oldPassword, const QString& newPassword);
    DiskImageTool::Failure lastFailure() const { return m_lastFailure; }

    // ---- the project's steps ------------------------------------------------------------------
    // Asks Use Existing (1) / Cancel (0) / Create New (2: the image was moved to newFilePath).
    int askAndRenameExistingFilePath(const QString& filePath, const QString& newFilePath);
    // Makes a new image for the project (working states 2 and 4 on refusal).
    bool createOnDisk();
    // Attaches the image; with fit also fits its size to the project's settings and reads the
    // version list (working states 3, 4, 7, 8, 9, 11 on failure). readOnly attaches it read-only.
    bool mountFromDiskForWrite(bool fit, bool readOnly = false);
    // Attaches the image, making it first when the destination has none.
    bool activateForWrite(bool fit);
    // Attaches the image read-only to restore from it: never makes, moves or resizes one.
    bool activateForRestore();
    // Detaches the image; safe without one. Always true.
    bool deactivate();

    static constexpr qint64 MinimumFreeForCreation
        = 100000000; // bytes; at or below 99,999,999 no image is made
    static constexpr int ProjectFileNameTail = 28; // "_" + UUID (36) cut to its first 8 characters

    // The image name of a project: "encr_" for an encrypted image, then the project's file name
    // ("<name>_<UUID>") without its last 28 characters. A file name too short for that gives null.
    static QString nameForProjectFileName(const QString& projectFileName, bool encrypted);
    static QString fileNameForName(const QString& name); // "<name>.sparsebundle"

    // Size in GB of a new image: the custom size (type 1) or, when that is 0, 90 % of the free
    // space; with any other type 90 % of the volume's capacity.
    static double createSizeInGB(
        int sizeType, double customValueGB, quint64 freeBytes, quint64 capacityBytes);

    // What attaching for writing does about the image's size (all sizes as the caller reads them:
    // holding volume in bytes, image volume in MB).
    struct FitDecision
    {
        enum Action
        {
            Keep, // size is fine: go on
            Grow, // resize to sizeGB
            Shrink, // ask for the smallest possible size, then resize to at most sizeGB
            Refuse // working state `state`
        } action
            = Keep;
        double sizeGB = 0;
        int state = 0;
        bool storeCustomValue = false; // Keep in custom mode stores the value again
    };
    static FitDecision fitDecision(int sizeType, double customValueGB, quint64 holdingFreeBytes,
        quint64 holdingCapacityBytes, double imageCapacityMB, double imageFreeMB);

    // The size a shrink may go to: the wanted size, or the smallest size when the wanted one is
    // below it (*raised says so). minimumGB 0 means unknown: the wanted size stays.
    static double shrinkTargetGB(double wantedGB, double minimumGB, bool* raised = nullptr);

    // "<base>.qv_saved.<ext>", then "<base>.qv_saved-1.<ext>", ... : the first name not in folder.
    static QString generateSavedNameForFileWithName(const QString& name, const QString& folderPath);

private:
    void log(const QString& text, quint64 options) const;
    void setState(int code, double data = 0) const;
    bool askPassword(bool fit, QString* password);
    void readVersionList(const QString& contentPath);

    QString _internalName;
    QString _nameSuffix;
    QString _mountedContentPath;
    QString _password;
    IPasswordMD5 _passwordMD5;
    IBackup3* _backup = nullptr;
    ILocation* _location = nullptr;
    int _FSType = 1;
    quint64 _flags = 0;
    DiskImageTool m_tool;
    DiskImageTool::Failure m_lastFailure = DiskImageTool::Failure::None;
};
