// The folders a snapshot-backup run writes into and links against.

#include "platform/NameCodec.h"
#include "platform/NameSanitizer.h"
#include "projects/ILocation.h"
#include "snapshot/B3Places.h"
#include "snapshot/IBackup3.h"
#include "utilities/IProcController.h"
#include "utilities/LogOptions.h"

#include <QCoreApplication>
#include <QFileInfo>

QString IBackup3::projectFolderPath() const
{
    if (isBDICurrentlyActivated())
        return getBDIContentPath();
    const QString dest = destinationFullPath();
    const QString folder = projectBackupFolder();
    if (dest.isEmpty() || folder.isEmpty())
        return QString();
    return B3Places::joinPath(dest, folder);
}

QString IBackup3::destFolderPath() const
{
    if (projectBackupFolderField().isNull() && !isBDICurrentlyActivated())
        return QString();
    const QString project = projectFolderPath();
    if (project.isEmpty())
        return QString();
    return B3Places::joinPath(project, QString::fromLatin1(B3Places::cnsB3BackupWorkFolderName));
}

QString IBackup3::topLevelItemWrapperLocation(const ILocation& location)
{
    QString name = B3Places::sourceFolderName(location.getUnverifiedFullPath(), location.getDisplayName());
    // A display name stands for "/" and may hold a "/" itself: it must stay one component.
    if (name != QLatin1String("/") && name.contains(QLatin1Char('/')))
        name = NameSanitizer::sanitize(name);
    return B3Places::topLevelItemWrapperFolder2(name, location.getTag());
}

QString IBackup3::destFolderPathForPass(long pass, const QString& workFolderPath) const
{
    ILocation* source = sourceLocationForPass(pass);
    if (!source || workFolderPath.isNull())
        return QString();
    return B3Places::joinPath(workFolderPath, topLevelItemWrapperLocation(*source));
}

QString IBackup3::linkFolderPathForPass(long pass) const
{
    ILocation* source = sourceLocationForPass(pass);
    const QString last = lastProcessFolder();
    if (!source || last.isEmpty() || !B3RestoreItem::isSinglePathComponent(last))
        return QString();
    const QString project = projectFolderPath();
    if (project.isEmpty())
        return QString();
    return B3Places::joinPath(B3Places::joinPath(project, last), topLevelItemWrapperLocation(*source));
}

QString IBackup3::restoreDestFolderPathForPass(long pass) const
{
    if (pass < 0 || pass >= m_restoreData.size())
        return QString();
    const B3RestoreItem& item = m_restoreData.at(pass);
    const QString sourcePath = item.SrcLocation ? item.SrcLocation->getUnverifiedFullPath() : QString();
    const QString path = B3Places::restoreDestFolderPath(m_restoreData, pass, m_restorePath, sourcePath);
    if (path.isEmpty())
        return QString();
    // The folders are made with the project's rights: as root for an administrator restore, so
    // that a target the user cannot write into can still take the items back.
    const bool admin = isUseAdminPrivilegesForPass(pass);
    QString made;
    for (const QString& component : path.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        made += QLatin1Char('/') + component;
        if (QFileInfo(made).isDir())
            continue;
        QString comment;
        if (!IProcController::makeDir(made, admin, &comment)) {
            const_cast<IBackup3*>(this)->processMessage(
                QCoreApplication::translate("Localizable", "Folder \"%1\" creation error: %2")
                    .arg(made, comment),
                LogWord::ProjectWindowRunLog, nullptr);
            return QString();
        }
    }
    return path;
}
