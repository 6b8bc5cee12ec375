#include "archive/CBackupItem.h"

#include "archive/ArchiveFiles.h"
#include "archive/CBackup.h"
#include "archive/CUDArch.h"
#include "archive/IBackup.h"
#include "archive/IBackupItemNode.h"
#include "archive/TarListPaths.h"
#include "platform/NameCodec.h"
#include "utilities/CommonFunctions.h"
#include "utilities/MainPreferences.h"

#include <QCoreApplication>
#include <QDir>
#include <QThread>
#include <dirent.h>
#include <fnmatch.h>
#include <sys/stat.h>

namespace {

QString lastComponent(const QString& path)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    return slash < 0 ? path : path.mid(slash + 1);
}

bool isAtOrUnder(const QString& path, const QStringList& places)
{
    for (const QString& p : places)
        if (path.startsWith(p) && (path.size() == p.size() || path.at(p.size()) == QLatin1Char('/')))
            return true;
    return false;
}

// Linux places where volumes are mounted: an item there belongs to another volume.
bool isUnderVolumeRoots(const QString& path)
{
    static const QStringList roots
        = { QStringLiteral("/mnt"), QStringLiteral("/media"), QStringLiteral("/run/media") };
    return isAtOrUnder(path, roots);
}

bool isUnderSystemPlaces(const QString& path)
{
    static const QStringList places = { QStringLiteral("/dev"), QStringLiteral("/proc"),
        QStringLiteral("/sys"), QStringLiteral("/System/Volumes/Data") };
    return isAtOrUnder(path, places);
}

// Lets pending interface events run every 30 refreshed items (on the main thread only).
void maybeProcessEvents()
{
    static int calls = 0;
    if (++calls % 30 == 0)
        QVProcessEvents();
}

} // namespace

bool backupItemLess(const CBackupItem& a, const CBackupItem& b)
{
    const QString na = a.sortName();
    const QString nb = b.sortName();
    const int ci = na.compare(nb, Qt::CaseInsensitive);
    if (ci != 0)
        return ci < 0;
    const int exact = na.compare(nb, Qt::CaseSensitive);
    if (exact != 0)
        return exact < 0;
    if (a.isTopLevel() && b.isTopLevel())
        return a.storedPath() < b.storedPath();
    return false;
}

CBackupItem::CBackupItem(const QString& path, CBackupItem* parent, CBackup* project)
    : m_project(project)
    , m_parent(parent)
{
    setPath(path);
}

CBackupItem::~CBackupItem()
{
    removeAllItems();
    if (m_node)
        m_node->setPBackupItemNil();
}

QString CBackupItem::placeholderName()
{
    return QStringLiteral("<no name>");
}

void CBackupItem::setPath(const QString& path)
{
    if (path.isEmpty()) {
        m_path = QString();
        return;
    }
    QString p = path;
    if (p.size() > 1 && p.endsWith(QLatin1Char('/')))
        p.chop(1);
    if (m_parent)
        p = lastComponent(p);
    m_path = p;
}

QString CBackupItem::sortName() const
{
    if (m_path.isEmpty())
        return placeholderName();
    return m_parent ? m_path : lastComponent(m_path);
}

QString CBackupItem::getName() const
{
    return sortName();
}

QString CBackupItem::getPath() const
{
    if (m_path.isEmpty())
        return QString();
    if (!m_parent)
        return lastComponent(m_path);
    if (m_parent->m_path.isEmpty())
        return QString();
    // Below the top-level item "/" the relative path starts with "/".
    return m_parent->getPath() + QLatin1Char('/') + m_path;
}

QString CBackupItem::getAbsolutePath() const
{
    if (m_path.isEmpty()) {
        qWarning(
            "CBackupItem::getAbsolutePath()::Item \"%s\": m_nsPath Null or Empty", qUtf8Printable(getName()));
        return QString();
    }
    if (!m_parent)
        return m_path;
    const QString up = m_parent->getAbsolutePath();
    if (up.isEmpty())
        return QString();
    return up == QLatin1String("/") ? QString(up + m_path) : QString(up + QLatin1Char('/') + m_path);
}

CBackupItem* CBackupItem::getRootItem()
{
    CBackupItem* i = this;
    while (i->m_parent)
        i = i->m_parent;
    return i;
}

bool CBackupItem::isWalkable() const
{
    if ((m_flags & (BIF_FOLDER | BIF_LINK)) != BIF_FOLDER)
        return false;
    return !(m_flags & BIF_PACKAGE) || MainPreferences::shared().resolveBundlesAsDir();
}

void CBackupItem::setIncludeByUser(bool include)
{
    m_flags &= ~(BIF_INCLUDED_BY_USER | BIF_EXCLUDED);
    bool volumes = false;
    if (include && m_parent && !m_parent->m_parent) {
        // Directly below a top-level item, the folders where other volumes are mounted stay out.
        const QString rel = getPath();
        volumes = rel.endsWith(QLatin1String("/mnt")) || rel.endsWith(QLatin1String("/media"));
    }
    m_flags |= include && !volumes ? BIF_INCLUDED_BY_USER : BIF_EXCLUDED;
}

bool CBackupItem::isParentIncluded() const
{
    for (const CBackupItem* p = m_parent; p; p = p->m_parent)
        if (!p->isIncluded())
            return false;
    return true;
}

QString CBackupItem::getPreferredTimeZone() const
{
    for (const CBackupItem* i = this; i; i = i->m_parent)
        if (i->m_modDate.isValid())
            return i->m_modDate.toLocalTime().toString(QStringLiteral("t"));
    return QDateTime::currentDateTime().toString(QStringLiteral("t"));
}

void CBackupItem::addHistoryStateChanging(quint16 index, quint16 state)
{
    m_history.push_back({ index, state });
}

void CBackupItem::removeHistoryStateForIndex(quint16 index)
{
    for (auto it = m_history.begin(); it != m_history.end(); ++it) {
        if (it->index == index) {
            m_history.erase(it);
            return;
        }
    }
}

bool CBackupItem::getLastHistoryState(CBIHistoryState* out) const
{
    if (m_history.empty())
        return false;
    if (out)
        *out = m_history.back();
    return true;
}

quint32 CBackupItem::getFirstHystoryIndex() const
{
    return m_history.empty() ? 0xFFFFFFFFu : m_history.front().index;
}

bool CBackupItem::isInsertedInArchive(int index) const
{
    // The state at archive n is that of the last record at n or below.
    const CBIHistoryState* found = nullptr;
    for (const CBIHistoryState& h : m_history)
        if (int(h.index) <= index)
            found = &h;
    return found && (found->state & 0x1);
}

bool CBackupItem::isInsertedInArchives(int a, int b) const
{
    for (int i = std::min(a, b); i <= std::max(a, b); ++i)
        if (isInsertedInArchive(i))
            return true;
    return false;
}

void CBackupItem::refreshFromTarComponents(
    const QString& mode, const QString& size, const QString& date, const QString& time, const QString& path)
{
    m_flags |= BIF_LOCATED;
    m_size = size.toULongLong();
    m_modDate = QDateTime::fromString(date + QLatin1Char(' ') + time, QStringLiteral("yyyy-MM-dd HH:mm"));
    if (!m_modDate.isValid())
        m_modDate
            = QDateTime::fromString(date + QLatin1Char(' ') + time, QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    if (m_modDate.isValid())
        m_modDate.setTimeSpec(Qt::UTC);
    if (mode.startsWith(QLatin1Char('l')))
        m_flags |= BIF_LINK;
    else if (mode.startsWith(QLatin1Char('d'))) {
        m_flags |= BIF_FOLDER;
        if (isPathBundle(path))
            m_flags |= BIF_PACKAGE;
    }
}

void CBackupItem::refreshFromDisk(CBackup* project, bool addSubItems, bool skipExcluded, bool resetLocated)
{
    maybeProcessEvents();
    if (m_path.isEmpty())
        return;
    if (project)
        project->countLoadProgress();

    const QString abs = getAbsolutePath();
    const quint32 before = m_flags;
    bool exists = false;
    struct stat st
    {
    };
    if ((isUnderVolumeRoots(abs) && !isUnderVolumeRoots(getRootItem()->m_path)) || isUnderSystemPlaces(abs)) {
        m_flags &= ~BIF_INCLUDED_BY_USER;
        m_flags |= BIF_EXCLUDED;
    } else {
        const QByteArray bytes = NameCodec::encode(abs);
        exists = ::lstat(bytes.constData(), &st) == 0;
        if (exists) {
            bool folder = S_ISDIR(st.st_mode);
            if (S_ISLNK(st.st_mode)) {
                struct stat target
                {
                };
                folder = ::stat(bytes.constData(), &target) == 0 && S_ISDIR(target.st_mode);
            }
            m_flags = folder ? (m_flags | BIF_FOLDER) : (m_flags & ~BIF_FOLDER);
        }
    }
    if (m_flags & BIF_FOLDER) {
        if (isPathBundle(abs))
            m_flags |= BIF_PACKAGE;
        else
            m_flags &= ~BIF_PACKAGE;
    }
    m_flags = exists ? (m_flags | BIF_EXISTS) : (m_flags & ~BIF_EXISTS);
    if (resetLocated)
        m_flags &= ~BIF_LOCATED;
    if (exists) {
        const quint64 size = quint64(st.st_size);
        if (size != m_size) {
            m_size = size;
            if (project)
                project->markChanged();
        }
        if (!((m_flags & BIF_LOCATED) && m_modDate.isValid())) {
            const QDateTime mod = QDateTime::fromSecsSinceEpoch(qint64(st.st_mtim.tv_sec), Qt::UTC);
            if (mod != m_modDate) {
                m_modDate = mod;
                if (project)
                    project->markChanged();
            }
        }
        m_creator = m_type = 0; // no such codes on Linux file systems
        m_flags = S_ISLNK(st.st_mode) ? (m_flags | BIF_LINK) : (m_flags & ~BIF_LINK);
    }
    const QString name = sortName();
    if (name.startsWith(QLatin1Char('.')) || isHiddenByPath(abs))
        m_flags |= BIF_HIDDEN;
    if (name.compare(QLatin1String(".DS_Store"), Qt::CaseInsensitive) == 0)
        m_flags |= BIF_DS_STORE;
    if (name.endsWith(QLatin1String(".app"), Qt::CaseInsensitive))
        m_flags |= BIF_APPLICATION;

    if (project) {
        applyFilters(project, false, false);
        if (m_flags != before)
            project->markChanged();
    }
    if ((m_flags & BIF_FOLDER) && (m_flags & BIF_PACKAGE)
        && !MainPreferences::shared().resolveBundlesAsDir()) {
        if (!m_items.empty()) {
            removeAllItems();
            if (project)
                project->markChanged();
        }
        return;
    }
    if (addSubItems) {
        if (skipExcluded && !isIncluded())
            return;
        addSubItmesFromDisk(project, addSubItems, skipExcluded, resetLocated);
    }
}

void CBackupItem::addSubItmesFromDisk(
    CBackup* project, bool addSubItems, bool skipExcluded, bool resetLocated)
{
    if ((m_flags & (BIF_FOLDER | BIF_LINK)) != BIF_FOLDER || m_path.isEmpty())
        return;
    if ((m_flags & BIF_PACKAGE) && !MainPreferences::shared().resolveBundlesAsDir()) {
        removeAllItems();
        return;
    }
    // Names from disk are bytes: listed with readdir, never through QDir.
    const QByteArray folder = NameCodec::encode(getAbsolutePath());
    QStringList names;
    if (DIR* dir = ::opendir(folder.constData())) {
        while (struct dirent* e = ::readdir(dir)) {
            const char* n = e->d_name;
            if (n[0] == '.' && (n[1] == 0 || (n[1] == '.' && n[2] == 0)))
                continue;
            names << NameCodec::decode(n, qsizetype(std::strlen(n)));
        }
        ::closedir(dir);
    }
    const size_t before = m_items.size();
    insertNames(names, this);
    if (m_items.size() != before && project)
        project->markChanged();
    CBackupItemsContainer::refreshFromDisk(project, addSubItems, skipExcluded, resetLocated);
}

void CBackupItem::applyFilters(CBackup* project, bool apply, bool recurse)
{
    if (!project || (m_flags & BIF_EXCLUDED))
        return;
    m_flags |= BIF_PASSES_FILTERS;
    const quint32 options = project->filterFlags();
    bool match = (options & CBFilterInvisible) && (m_flags & BIF_HIDDEN);
    if (!match && (options & CBFilterByPattern) && !project->excludePattern().isEmpty()) {
        const QByteArray name = NameCodec::encode(sortName());
        for (const QString& pattern : project->excludePattern().split(QLatin1Char('|'), Qt::SkipEmptyParts)) {
            if (::fnmatch(
                    NameCodec::encode(pattern).constData(), name.constData(), FNM_PATHNAME | FNM_CASEFOLD)
                == 0) {
                match = true;
                break;
            }
        }
    }
    if (match) {
        m_flags &= ~BIF_PASSES_FILTERS;
        if (apply) {
            m_flags &= ~BIF_INCLUDED_BY_USER;
            m_flags |= BIF_EXCLUDED;
        }
    }
    if (recurse)
        CBackupItemsContainer::applyFilters(project, apply, recurse);
}

void CBackupItem::resetLocationInBackup()
{
    m_flags &= ~BIF_LOCATED;
    CBackupItemsContainer::resetLocationInBackup();
}

CBackupItem* CBackupItem::tarFindBackupItem(const QStringList& components, bool& found, int& level)
{
    found = false;
    if (!isWalkable())
        return nullptr;
    return CBackupItemsContainer::tarFindBackupItem(components, found, level);
}

int CBackupItem::includeItemToStream(FILE* file, int& count)
{
    if (m_project)
        m_project->countLoadProgress();
    int lines = 0;
    if (m_parent && !m_parent->m_includedToStream)
        lines += m_parent->includeItemToStream(file, count);
    if (m_includedToStream)
        return lines;
    const QByteArray line = makePathStringForTar(getAbsolutePath(), 1);
    if (line.size() < 2 || !file)
        return lines;
    if (std::fwrite(line.constData(), 1, size_t(line.size()), file) != size_t(line.size())
        || std::fputc('\n', file) == EOF)
        return lines;
    m_includedToStream = true;
    m_inListForBackup = true;
    ++count;
    return lines + 1;
}

void CBackupItem::serializeItemHistoryBlock(CUDArch& arch)
{
    if (arch.isWriting()) {
        arch.writeU32(quint32(m_history.size()));
        for (const CBIHistoryState& h : m_history) {
            const quint16 raw[2] = { h.index, h.state };
            arch.Write2ByteArray(raw, 2);
        }
        return;
    }
    const quint32 n = arch.readU32();
    arch.checkCount(n, 4);
    m_history.clear();
    m_history.reserve(n);
    for (quint32 i = 0; i < n; ++i) {
        quint16 raw[2];
        arch.Read2ByteArray(raw, 2);
        m_history.push_back({ raw[0], raw[1] });
    }
}

void CBackupItem::serialize(CUDArch& arch, bool flag)
{
    if (arch.isWriting()) {
        arch.BeginBlock(3);
        arch << m_modDate;
        arch.writeU64(m_size);
        arch.writeU32(m_flags);
        if (!(m_flags & BIF_FOLDER)) {
            arch.writeU32(m_creator);
            arch.writeU32(m_type);
        }
        arch << m_lastBackupDate;
        serializeItemHistoryBlock(arch);
        arch.writeBool(m_inListForBackup);
        arch.EndBlock();
        if (m_flags & BIF_FOLDER)
            serializeChildren(arch, false);
        return;
    }
    if (!arch.BeginBlock(3))
        throw ArchiveFormatError("an item block is missing");
    const quint32 v = arch.version();
    arch >> m_modDate;
    m_size = arch.readU64();
    m_flags = arch.readU32();
    if (v >= 2 && !(m_flags & BIF_FOLDER)) {
        m_creator = arch.readU32();
        m_type = arch.readU32();
    }
    if (v >= 12)
        arch >> m_lastBackupDate;
    if (v >= 15)
        serializeItemHistoryBlock(arch);
    if (v >= 16)
        m_inListForBackup = arch.readBool();
    arch.EndBlock();
    if (m_flags & BIF_FOLDER) {
        if (flag) {
            if (!arch.BeginBlock(2))
                throw ArchiveFormatError("a folder's container is missing");
            arch.JumpToEndBlock();
            arch.EndBlock();
        } else {
            serializeChildren(arch, false);
        }
    }
}
