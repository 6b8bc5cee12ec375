#include "projects/SandBoxPermissions.h"

#include "platform/AppPaths.h"
#include "platform/Clock.h"
#include "platform/NameCodec.h"
#include "platform/PlistBridge.h"
#include "utilities/IShellServices.h"
#include "utilities/LogOptions.h"

#include <QCoreApplication>
#include <sys/stat.h>

namespace {

struct Store
{
    QVariantMap dict;
    bool loaded = false;
    bool available = true;
    SandBoxPermissions::FolderChooser chooser;
};

Store& store()
{
    static Store s;
    return s;
}

QString tr(const char* text)
{
    return QCoreApplication::translate("Localizable", text);
}

QString withoutTrailingSlash(QString path)
{
    while (path.size() > 1 && path.endsWith(QLatin1Char('/')))
        path.chop(1);
    return path;
}

bool pathExists(const QString& path)
{
    struct stat st;
    return !path.isEmpty() && ::stat(NameCodec::encode(path).constData(), &st) == 0;
}

// The bookmark data of a stored value: [data, date] or bare data.
QByteArray dataOf(const QVariant& value)
{
    if (value.typeId() == QMetaType::QByteArray)
        return value.toByteArray();
    if (value.typeId() == QMetaType::QVariantList) {
        const QVariantList list = value.toList();
        if (!list.isEmpty() && list.first().typeId() == QMetaType::QByteArray)
            return list.first().toByteArray();
    }
    return QByteArray();
}

QDateTime dateOf(const QVariant& value)
{
    if (value.typeId() == QMetaType::QVariantList) {
        const QVariantList list = value.toList();
        if (list.size() > 1 && list.at(1).typeId() == QMetaType::QDateTime)
            return list.at(1).toDateTime();
    }
    return QDateTime();
}

void logLine(const QString& text)
{
    IShellServices::shared().processMessage(LogText(text), LogWord::UtilLog, nullptr);
}

} // namespace

void SandBoxPermissions::setFolderChooser(FolderChooser chooser)
{
    store().chooser = std::move(chooser);
}

bool SandBoxPermissions::isSandBoxBookmarkAvailable()
{
    return store().available;
}

void SandBoxPermissions::setSandBoxBookmarkAvailable(bool available)
{
    store().available = available;
}

QVariantMap& SandBoxPermissions::permDict()
{
    SBPLoad(false);
    return store().dict;
}

QString SandBoxPermissions::prefsFileName()
{
    return AppPaths::currentWorkspacePath() + QStringLiteral("/QV2Perm.bip");
}

void SandBoxPermissions::SBPLoad(bool reload)
{
    Store& s = store();
    if (s.loaded && !reload)
        return;
    s.loaded = true;
    s.dict.clear();
    const QString file = prefsFileName();
    const PlistBridge::ReadResult read = PlistBridge::readFile(file);
    if (read.status == PlistBridge::ReadStatus::Missing)
        return;
    if (read.status == PlistBridge::ReadStatus::Ok && read.value.typeId() == QMetaType::QVariantMap) {
        s.dict = read.value.toMap();
        return;
    }
    // Never overwrite what could not be read: set it aside and start empty.
    const QString aside = PlistBridge::keepAside(file);
    logLine(QStringLiteral("Folder permission store %1 could not be read (%2); kept as %3")
                .arg(file, read.error.isEmpty() ? QStringLiteral("not a dictionary") : read.error,
                    aside.isNull() ? QStringLiteral("-") : aside));
}

bool SandBoxPermissions::SBPSave()
{
    if (!isSandBoxBookmarkAvailable())
        return true;
    QVariantMap& dict = permDict();
    const QDateTime now = Clock::current().now();
    for (auto it = dict.begin(); it != dict.end();) {
        const QDateTime used = dateOf(it.value());
        if (used.isValid() && used.secsTo(now) > maxUnusedSeconds)
            it = dict.erase(it);
        else
            ++it;
    }
    if (dict.isEmpty())
        return true;
    QString error;
    if (!PlistBridge::writeFileAtomically(prefsFileName(), dict, &error)) {
        logLine(QStringLiteral("Folder permission store %1 not written: %2").arg(prefsFileName(), error));
        return false;
    }
    return true;
}

QByteArray SandBoxPermissions::permObjectForKey(const QString& path)
{
    const QString clean = withoutTrailingSlash(path);
    QVariantMap& dict = permDict();
    const QString key = clean.toLower();
    const auto it = dict.find(key);
    if (it == dict.end())
        return QByteArray();
    const QByteArray data = dataOf(it.value());
    // The key folds case; the record belongs to this path only when its own path is this one.
    if (data.isEmpty() || data != NameCodec::encode(clean))
        return QByteArray();
    it.value() = QVariantList { data, Clock::current().now() };
    return data;
}

void SandBoxPermissions::setPermObject(const QByteArray& data, const QString& path)
{
    permDict().insert(withoutTrailingSlash(path).toLower(), QVariantList { data, Clock::current().now() });
}

bool SandBoxPermissions::URLPermissionsBookmark(const QString& path)
{
    const QString clean = withoutTrailingSlash(path);
    if (!pathExists(clean))
        return false;
    setPermObject(NameCodec::encode(clean), clean);
    return true;
}

bool SandBoxPermissions::getPermissionByUserForURL(const QString& path, bool, const QString& prompt)
{
    const QString proposed = withoutTrailingSlash(path);
    const FolderChooser& chooser = store().chooser;
    if (!chooser)
        return false;
    const QString chosen = chooser(proposed, prompt);
    return !chosen.isNull() && withoutTrailingSlash(chosen) == proposed;
}

bool SandBoxPermissions::pathPermissionsPrepare(const QString& path, bool askUser)
{
    return pathPermissionsPrepare(path, askUser,
        tr("Kelvane requires an access to a file/folder. Your permission for this file/folder will be "
           "saved."));
}

bool SandBoxPermissions::pathPermissionsPrepare(const QString& path, bool askUser, const QString& prompt)
{
    if (!isSandBoxBookmarkAvailable())
        return true;
    const QByteArray stored = permObjectForKey(path);
    if (!stored.isEmpty())
        pathExists(NameCodec::decode(stored)); // resolving; starting access needs nothing here
    if (URLPermissionsBookmark(path))
        return true;
    if (!askUser)
        return false;
    if (!getPermissionByUserForURL(path, true, prompt))
        return false;
    // The user granted exactly this folder: record it as given.
    const QString clean = withoutTrailingSlash(path);
    setPermObject(NameCodec::encode(clean), clean);
    return true;
}

bool SandBoxPermissions::pathForcePermissionsPrepare(const QString& path)
{
    return pathPermissionsPrepare(path, true);
}

void SandBoxPermissions::resetForTests()
{
    Store& s = store();
    s.dict.clear();
    s.loaded = false;
    s.available = true;
    s.chooser = nullptr;
}

QString QVSandBoxPermissions::BIPFileName()
{
    return prefsFileName();
}

QString QVSandBoxPermissions::QVProjectSBPermFileName(
    const QString& backupsFolder, const QString& projectFileName)
{
    QString base = projectFileName;
    const int dot = base.lastIndexOf(QLatin1Char('.'));
    if (dot > 0)
        base.truncate(dot);
    return withoutTrailingSlash(backupsFolder) + QLatin1Char('/') + base + QStringLiteral(".bip");
}

bool QVSandBoxPermissions::prepareSourcePath(const QString& path, bool ask)
{
    return pathPermissionsPrepare(path, ask,
        tr("Kelvane requires an access to a file/folder (%1) in your backup project. Your permission for "
           "this "
           "file/folder will be saved.")
            .arg(path));
}

bool QVSandBoxPermissions::prepareRestorePath(const QString& path, bool ask)
{
    return pathPermissionsPrepare(path, ask,
        tr("Kelvane requires an access to the folder where backup will be restored (%1). Your permission for "
           "this folder will be saved.")
            .arg(path));
}

bool QVSandBoxPermissions::prepareDestinationPath(const QString& path, bool ask)
{
    return pathPermissionsPrepare(path, ask,
        tr("Kelvane requires an access to archive destination folder (%1). Your permission for this folder "
           "will be saved.")
            .arg(path));
}

bool QVSandBoxPermissions::prepareTempFolder(const QString& path, bool ask)
{
    return pathPermissionsPrepare(path, ask,
        tr("Kelvane requires an access to temporary file folder (%1). Your permission for this folder will "
           "be "
           "saved.")
            .arg(path));
}

bool QVSandBoxPermissions::prepareLogFolder(const QString& path, bool ask)
{
    return pathPermissionsPrepare(path, ask,
        tr("Kelvane requires an access to log-file folder (%1). Your permission for this folder will be "
           "saved.")
            .arg(path));
}

bool SNSandBoxPermissions::prepareFolder(const QString& path, bool ask, QByteArray* permData)
{
    const bool ok = pathPermissionsPrepare(path, ask,
        tr("Kelvane requires an access to folder \"%1\". Your permission for this folder will be saved.")
            .arg(path));
    if (ok && permData)
        *permData = permObjectForKey(path);
    return ok;
}

bool QV3SandBoxPermissions::prepareSourcePath(const QString& path, bool ask)
{
    return QVSandBoxPermissions::prepareSourcePath(path, ask);
}

bool QV3SandBoxPermissions::prepareDestinationPath(const QString& path, bool ask)
{
    return QVSandBoxPermissions::prepareDestinationPath(path, ask);
}

bool QV3SandBoxPermissions::prepareRestorePath(const QString& path, bool ask)
{
    return QVSandBoxPermissions::prepareRestorePath(path, ask);
}
