#include "panes/archive/ArchiveProjectList.h"

#include "archive/ArchiveProjectCreate.h"
#include "archive/CBackup.h"
#include "archive/CBackupContainer.h"
#include "archive/IBackup.h"
#include "panes/archive/ArchiveCoordinator.h"
#include "platform/MainThread.h"
#include "platform/NameCodec.h"
#include "platform/NameSanitizer.h"
#include "projects/ProjectColor.h"
#include "projects/ProjectNames.h"
#include "utilities/IPathUtil.h"
#include "utilities/IShellServices.h"
#include "utilities/LogOptions.h"
#include "utilities/UiPrompts.h"

#include <QCoreApplication>
#include <QSet>
#include <QUuid>
#include <algorithm>
#include <sys/stat.h>

namespace {

QString loc(const char* text)
{
    return QCoreApplication::translate("Localizable", text);
}

bool pathExists(const QString& path)
{
    struct stat st = {};
    return ::lstat(NameCodec::encode(path).constData(), &st) == 0;
}

// A UUID in its canonical text form (8-4-4-4-12 hex digits): only such a text may become part of
// a file name in the Backups folder.
bool isCanonicalUUID(const QString& text)
{
    if (text.size() != 36)
        return false;
    const QUuid u = QUuid::fromString(text);
    return !u.isNull() && u.toString(QUuid::WithoutBraces).compare(text, Qt::CaseInsensitive) == 0;
}

QString lastComponent(const QString& path)
{
    QString p = path;
    while (p.size() > 1 && p.endsWith(QLatin1Char('/')))
        p.chop(1);
    return p.mid(p.lastIndexOf(QLatin1Char('/')) + 1);
}

void logLine(const QString& text, quint64 options)
{
    IShellServices::shared().processMessage(text, options, nullptr);
}

} // namespace

ArchiveProjectList::ArchiveProjectList(CBackupContainer* container, ArchiveCoordinator* coordinator)
    : m_container(container)
    , m_coordinator(coordinator)
{ }

void ArchiveProjectList::setupProjectList(const QVariantList& savedOrder)
{
    m_list.clear();
    if (!m_container)
        return;
    QSet<const CBackup*> added;
    for (const QVariant& v : savedOrder) {
        if (v.typeId() != QMetaType::QString)
            continue; // a number or anything else names no project
        const int index = m_container->indexOfBackupByUUID(v.toString());
        CBackup* b = m_container->backupAt(index);
        if (b && !added.contains(b)) {
            added.insert(b);
            m_list.push_back(b);
        }
    }
    for (int i = 0; i < m_container->backupCount(); ++i) {
        CBackup* b = m_container->backupAt(i);
        if (!added.contains(b))
            m_list.push_back(b);
    }
}

void ArchiveProjectList::saveProjectOrderListToDict(QVariantList& list) const
{
    for (const CBackup* b : m_list)
        list << b->getUUID();
}

bool ArchiveProjectList::moveBackupFrom(int from, int to)
{
    const int count = backupCount();
    if (from < 0 || from >= count || to < 0 || to > count)
        return false;
    CBackup* b = m_list[size_t(from)];
    m_list.insert(m_list.begin() + to, b);
    m_list.erase(m_list.begin() + (from >= to ? from + 1 : from));
    return true;
}

CBackup* ArchiveProjectList::deleteBackupAndGetCurrent(CBackup* backup)
{
    const int index = indexOf(backup);
    if (index < 0)
        return nullptr;
    m_list.erase(m_list.begin() + index);
    if (m_list.empty())
        return nullptr;
    return m_list[size_t(std::min(index, backupCount() - 1))];
}

void ArchiveProjectList::append(CBackup* backup)
{
    if (backup && indexOf(backup) < 0)
        m_list.push_back(backup);
}

void ArchiveProjectList::syncWithContainer()
{
    if (!m_container)
        return;
    std::erase_if(m_list, [this](CBackup* b) { return m_container->getIndexBackup(b) < 0; });
    for (int i = 0; i < m_container->backupCount(); ++i)
        append(m_container->backupAt(i));
}

CBackup* ArchiveProjectList::backupAt(int index) const
{
    return index >= 0 && index < backupCount() ? m_list[size_t(index)] : nullptr;
}

int ArchiveProjectList::indexOf(const CBackup* backup) const
{
    const auto it = std::find(m_list.begin(), m_list.end(), backup);
    return it == m_list.end() ? -1 : int(it - m_list.begin());
}

CBackup* ArchiveProjectList::currentBackup() const
{
    for (CBackup* b : m_list)
        if (b->isSelected())
            return b;
    return nullptr;
}

int ArchiveProjectList::currentBackupIndex() const
{
    return indexOf(currentBackup());
}

bool ArchiveProjectList::selectRow(int row)
{
    CBackup* b = backupAt(row);
    return b && m_container->makeSingleSelection(b);
}

QString ArchiveProjectList::getLegalNameForBackup(const QString& name) const
{
    return ProjectNames::makeUnique(name, [this](const QString& candidate) {
        return !m_container->findBackup(candidate);
    });
}

CBackup* ArchiveProjectList::addProject()
{
    if (!m_container || !m_coordinator)
        return nullptr;
    const QString name = ProjectNames::makeUnique(loc("Untitled"),
        [this](const QString& n) { return m_coordinator->isUniqueName(n, nullptr); });
    CBackup* b = m_container->addNewBackup(name);
    if (!b)
        return nullptr;
    if (!m_coordinator->renameBackupByUser(b)) {
        deleteBackupAndGetCurrent(b);
        m_container->removeBackupAt(m_container->getIndexBackup(b));
        return nullptr;
    }
    b->createUUID();
    m_container->makeSingleSelection(b);
    append(b);
    m_container->saveSelectedBackups();
    logLine(loc("Backup archive project \"%1\" was created").arg(b->name()), 321);
    return b;
}

bool ArchiveProjectList::deleteCurrentProject()
{
    CBackup* b = currentBackup();
    if (!b || !m_coordinator)
        return false;
    UiPrompts::Alert a;
    a.style = UiPrompts::AlertStyle::Warning;
    a.title = loc("Do you want to remove this project from the list?");
    a.text = QStringLiteral("%1\n\n%2").arg(
        loc("Removing a project from the list will completely delete this project and its settings, "
            "although already created backup archives will remain at destination."),
        loc("It is strongly recommended that you save a copy of this project. This will allow you to "
            "later open the project using the Process > Open menu command."));
    a.buttons = QStringList { loc("Save & Remove"), loc("Cancel"), loc("Remove") };
    int answer = -1;
    {
        ModalDepthGuard modal;
        answer = UiPrompts::shared().showAlert(a);
    }
    if (answer == 0) {
        const int saved = saveCurrentBackupToFile();
        if (saved == -1) {
            UiPrompts::Alert e;
            e.style = UiPrompts::AlertStyle::Critical;
            e.title = loc("An error occurred during the attempt to save the project.");
            e.text = loc("The project was not deleted from the list.");
            e.buttons = QStringList { loc("OK") };
            ModalDepthGuard modal;
            UiPrompts::shared().showAlert(e);
            return false;
        }
        if (saved != 0)
            return false;
    } else if (answer != 2) {
        return false;
    }
    const QString name = b->name();
    if (!m_coordinator->closeCurrentBackup())
        return false;
    logLine(loc("Backup archive project \"%1\" was removed").arg(name), 321);
    return true;
}

int ArchiveProjectList::saveCurrentBackupToFile()
{
    CBackup* b = currentBackup();
    if (!b)
        return -1;
    if (b->loadState() != 2 && b->reload() < 0)
        return -1;
    UiPrompts::SavePathRequest r;
    r.okButton = loc("Save");
    r.defaultName = b->name() + QStringLiteral(".bif");
    QString path;
    {
        ModalDepthGuard modal;
        path = UiPrompts::shared().chooseSavePath(r);
    }
    if (path.isEmpty())
        return -2;
    if (!path.endsWith(QLatin1String(".bif"), Qt::CaseInsensitive))
        path += QStringLiteral(".bif");
    if (!b->saveTo(path, true)) {
        IShellServices::shared().sendTextInfo(
            loc("Project %1 has not been saved to file %2.").arg(b->name(), path), 3, tpLog, nullptr);
        return -1;
    }
    return 0;
}

bool ArchiveProjectList::openBackupFromFile()
{
    UiPrompts::ItemChoiceRequest r;
    r.prompt = loc("Choose backup project to open");
    r.okButton = loc("Open");
    r.files = true;
    r.folders = true; // a ".bifx" is a folder here
    r.multiple = true;
    r.fileTypes = QStringList { QStringLiteral("bif"), QStringLiteral("bifx") };
    QStringList paths;
    {
        ModalDepthGuard modal;
        paths = UiPrompts::shared().chooseItems(r);
    }
    return openBackupFiles(paths) > 0;
}

int ArchiveProjectList::openBackupFiles(const QStringList& paths)
{
    int opened = 0;
    for (const QString& path : paths) {
        const int r = openOne(path);
        if (r < 0)
            break;
        opened += r;
    }
    if (opened > 0 && m_coordinator)
        m_coordinator->fullReloadBackupData();
    return opened;
}

int ArchiveProjectList::openOne(const QString& chosen)
{
    if (!m_container || !CBackupContainer::matchFileAsBIF(chosen))
        return 0;
    // The name comes from outside: it passes the name function and is made unique.
    QString base = ProjectNames::fromInput(CBackupContainer::getBackupNameFromPath(chosen));
    if (base.isEmpty())
        base = loc("Untitled");
    const QString name = getLegalNameForBackup(base);

    QString file = chosen;
    struct stat st = {};
    if (::stat(NameCodec::encode(chosen).constData(), &st) == 0 && S_ISDIR(st.st_mode)) {
        // A ".bifx" package holds a file named like itself.
        const QString folderName = lastComponent(chosen);
        file = chosen + QLatin1Char('/') + folderName;
        struct stat inner = {};
        if (::stat(NameCodec::encode(file).constData(), &inner) != 0 || !S_ISREG(inner.st_mode)) {
            IShellServices::shared().sendTextInfo(
                loc("File %1 has not been found in folder %2.").arg(folderName, chosen), 3, tpLog, nullptr);
            return -1;
        }
    }

    CBackup* b = m_container->addNewBackup(name);
    if (!b)
        return 0;
    m_container->makeSingleSelection(b);
    append(b);
    b->setInProcess(true, 3);
    b->getIBackup()->processMessage(loc("Reload content data..."), 18273, b->getIBackup());
    const bool loaded = b->load(file, false);
    b->setInProcess(false, 3);
    if (!loaded) {
        b->getIBackup()->processMessage(QString(), 16418, b->getIBackup());
        deleteBackupAndGetCurrent(b);
        m_container->removeBackupAt(m_container->getIndexBackup(b));
        return 0;
    }
    b->setName(name);
    // The UUID and the name become file names in the Backups folder: a UUID not in canonical
    // form, one another project has, or one whose files already exist there gets a new UUID.
    const auto sameUUID = [this, b](const QString& uuid) {
        for (int i = 0; i < m_container->backupCount(); ++i)
            if (m_container->backupAt(i) != b
                && m_container->backupAt(i)->getUUID().compare(uuid, Qt::CaseInsensitive) == 0)
                return true;
        return false;
    };
    bool refused = false;
    QString safe = NameSanitizer::sanitize(name, &refused);
    if (refused || safe.isEmpty())
        safe = QStringLiteral("_");
    const QString backups = IPathUtil::getBackupsPath() + QLatin1Char('/');
    const auto filesTaken = [&](const QString& uuid) {
        const QString stem = backups + QStringLiteral("%1_%2").arg(safe, uuid);
        return pathExists(stem + QStringLiteral(".bif")) || pathExists(stem + QStringLiteral(".bih"));
    };
    QString uuid = b->getUUID();
    while (!isCanonicalUUID(uuid) || sameUUID(uuid) || filesTaken(uuid))
        uuid = CBackup::generateUUID();
    b->setUUID(uuid);
    b->setFileName(QStringLiteral("%1_%2").arg(safe, uuid));
    b->setProjectFilePath(QString());
    if (b->archives().empty() && b->fillArchivesArrayFromTargetFolder() > 0)
        b->setSelectedArchiveIndex(0);
    b->setTreeChanged(true);
    b->setPropertiesChanged(true);
    // Written into the Backups folder by the project's own (atomic) save.
    b->save();
    b->getIBackup()->processMessage(QString(), 16418, b->getIBackup());
    return 1;
}

bool ArchiveProjectList::setCurrentProjectColorLabel(int tag)
{
    CBackup* b = currentBackup();
    if (!b || tag < 0 || tag >= ProjectColor::kLabelCount)
        return false;
    b->setColor(ProjectColor::kLabels[tag].color());
    return true;
}
