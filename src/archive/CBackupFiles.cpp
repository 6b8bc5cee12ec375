#include "archive/ArchiveNames.h"
#include "archive/CBackup.h"
#include "archive/CBackupItem.h"
#include "archive/CUDArch.h"
#include "archive/IBackup.h"
#include "platform/AtomicFile.h"
#include "platform/NameCodec.h"
#include "platform/PlistBridge.h"
#include "platform/WholeFile.h"
#include "projects/ILocation.h"
#include "projects/ProjectColor.h"
#include "utilities/CommonFunctions.h"
#include "utilities/IPathUtil.h"
#include "utilities/IShellServices.h"
#include "utilities/LogOptions.h"
#include "utilities/MainPreferences.h"
#include "utilities/ProjectKeychain.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QThread>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The next scheduled date as the stored files hold it: a non-keyed NSDate archive.
const QByteArray kDatePrefix = QByteArray::fromHex("040B") + "streamtyped"
    + QByteArray::fromHex("81E8038401408484"
                          "8406")
    + "NSDate"
    + QByteArray::fromHex("008484"
                          "08")
    + "NSObject" + QByteArray::fromHex("00858401 64");
constexpr qint64 kSecsFrom1970To2001 = 978307200;

QByteArray encodeNextDate(const QDateTime& date)
{
    if (!date.isValid())
        return QByteArray();
    const double secs = double(date.toMSecsSinceEpoch()) / 1000.0 - double(kSecsFrom1970To2001);
    QByteArray out = kDatePrefix;
    out += char(0x83);
    unsigned char le[8];
    std::memcpy(le, &secs, 8); // little-endian on every supported processor
    out.append(reinterpret_cast<const char*>(le), 8);
    out += char(0x86);
    return out;
}

// The date of a stored NSDate archive; invalid for any other content.
QDateTime decodeNextDate(const QByteArray& blob)
{
    if (!blob.startsWith(kDatePrefix))
        return QDateTime();
    const QByteArray rest = blob.mid(kDatePrefix.size());
    double secs = 0;
    if (rest.size() >= 9 && quint8(rest.at(0)) == 0x83) {
        std::memcpy(&secs, rest.constData() + 1, 8);
    } else if (rest.size() >= 3 && quint8(rest.at(0)) == 0x81) {
        secs = qint16(quint8(rest.at(1)) | quint8(rest.at(2)) << 8);
    } else if (rest.size() >= 5 && quint8(rest.at(0)) == 0x82) {
        secs = qint32(quint32(quint8(rest.at(1))) | quint32(quint8(rest.at(2))) << 8
            | quint32(quint8(rest.at(3))) << 16 | quint32(quint8(rest.at(4))) << 24);
    } else if (rest.size() >= 1 && quint8(rest.at(0)) < 0x81) {
        secs = qint8(rest.at(0));
    } else {
        return QDateTime();
    }
    if (!std::isfinite(secs) || std::abs(secs) > 1e12)
        return QDateTime();
    return QDateTime::fromMSecsSinceEpoch(qint64((secs + double(kSecsFrom1970To2001)) * 1000.0), Qt::UTC);
}

const QByteArray kColorTag("KVC1");

// One number of a non-keyed archive: a small integer in one byte, 0x81 + 16 bits, 0x82 + 32
// bits, or 0x83 + a 32-bit float (little-endian); false for anything else.
bool readArchivedNumber(const QByteArray& b, qsizetype& at, double* value)
{
    if (at >= b.size())
        return false;
    const quint8 head = quint8(b.at(at));
    const auto le = [&](int n) {
        quint32 v = 0;
        for (int i = 0; i < n; ++i)
            v |= quint32(quint8(b.at(at + 1 + i))) << (8 * i);
        return v;
    };
    if (head < 0x81 || head > 0x91) {
        *value = qint8(head);
        at += 1;
    } else if (head == 0x81 && at + 2 < b.size()) {
        *value = qint16(le(2));
        at += 3;
    } else if (head == 0x82 && at + 4 < b.size()) {
        *value = qint32(le(4));
        at += 5;
    } else if (head == 0x83 && at + 4 < b.size()) {
        const quint32 bits = le(4);
        float f = 0;
        std::memcpy(&f, &bits, 4);
        *value = f;
        at += 5;
    } else {
        return false;
    }
    return true;
}

// The colour of an archived RGB colour object of the expected shape (colour space 1 or 2,
// three or four float components); nothing for any other content.
std::optional<QColor> decodeArchivedColor(const QByteArray& blob)
{
    const QByteArray head = QByteArray::fromHex("040B") + "streamtyped"
        + QByteArray::fromHex("81E8038401408484"
                              "8407")
        + "NSColor"
        + QByteArray::fromHex("008484"
                              "08")
        + "NSObject" + QByteArray::fromHex("00858401 63");
    if (!blob.startsWith(head))
        return std::nullopt;
    qsizetype at = head.size();
    if (at + 3 > blob.size() || (blob.at(at) != 1 && blob.at(at) != 2) || quint8(blob.at(at + 1)) != 0x84)
        return std::nullopt;
    const int n = blob.at(at + 2);
    at += 3;
    if ((n != 3 && n != 4) || blob.mid(at, n) != QByteArray(n, 'f'))
        return std::nullopt;
    at += n;
    double c[4] = { 0, 0, 0, 1 };
    for (int i = 0; i < n; ++i) {
        if (!readArchivedNumber(blob, at, &c[i]) || !(c[i] >= 0.0 && c[i] <= 1.0))
            return std::nullopt;
    }
    return QColor::fromRgbF(float(c[0]), float(c[1]), float(c[2]), float(c[3]));
}

void writeBlob(CUDArch& a, const QByteArray& blob)
{
    if (blob.size() > 255)
        throw ArchiveFormatError("an archived value longer than 255 bytes");
    a.writeU8(quint8(blob.size()));
    a.writeRaw(blob.constData(), blob.size());
}

QByteArray readBlob(CUDArch& a)
{
    const quint8 n = a.readU8();
    QByteArray blob(n, '\0');
    a.readRaw(blob.data(), n);
    return blob;
}

QString replaceExtension(const QString& path, const char* ext)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    const qsizetype dot = path.lastIndexOf(QLatin1Char('.'));
    const QString base = dot > slash + 1 ? path.left(dot) : path;
    return base + QLatin1Char('.') + QLatin1String(ext);
}

QString lastComponent(const QString& path)
{
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

bool exists(const QString& path)
{
    struct stat st
    {
    };
    return ::lstat(NameCodec::encode(path).constData(), &st) == 0;
}

// A new file with a private name beside target holding data, synced; its path, or empty.
QString writeTemporaryBeside(const QString& target, const QByteArray& data, QString* error)
{
    const qsizetype slash = target.lastIndexOf(QLatin1Char('/'));
    QByteArray tmpl = NameCodec::encode(target.left(slash + 1)) + ".kvsave.XXXXXX";
    const int fd = ::mkostemp(tmpl.data(), O_CLOEXEC);
    if (fd < 0) {
        *error = QString::fromLocal8Bit(std::strerror(errno));
        return QString();
    }
    ::fchmod(fd, 0644);
    qint64 done = 0;
    bool ok = true;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.constData() + done, size_t(data.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            *error = QString::fromLocal8Bit(std::strerror(n < 0 ? errno : ENOSPC));
            ok = false;
            break;
        }
        done += n;
    }
    if (ok && ::fsync(fd) != 0) {
        *error = QString::fromLocal8Bit(std::strerror(errno));
        ok = false;
    }
    if (::close(fd) != 0 && ok) {
        *error = QString::fromLocal8Bit(std::strerror(errno));
        ok = false;
    }
    if (!ok) {
        ::unlink(tmpl.constData());
        return QString();
    }
    return NameCodec::decode(tmpl);
}

} // namespace

QByteArray CBackup::recordBlob(int row) const
{
    if (row == 35)
        return m_colorBlob.isEmpty() ? kColorTag + ProjectColor::encode(m_color) : m_colorBlob;
    if (row == 36)
        return m_nextDate.isValid() ? encodeNextDate(m_nextDate) : m_nextDateBlob;
    return QByteArray();
}

QString CBackup::makeBifFileName() const
{
    return IPathUtil::getBackupsPath() + QLatin1Char('/') + m_fileName + QStringLiteral(".bif");
}

QString CBackup::QVProjectHeaderFileName(const QString& path)
{
    return replaceExtension(path, "bih");
}
QString CBackup::QVProjectTreeFileName(const QString& path)
{
    return replaceExtension(path, "bif");
}

void CBackup::serializeRecord(CUDArch& a)
{
    const quint32 v = a.version();
    if (a.isWriting()) {
        a << m_name << m_fileName;
        a.writeU32(quint32(m_destDeviceType));
        a << m_destDeviceName << m_destPath;
        a << m_location->getDisplayName();
        a.writeU32(quint32(m_location->getDeviceType()));
        a << m_location->getPathFromMountPoint() << m_location->getURLStr();
        a.writeBool(m_location->isAutomount());
        a << m_location->getMountPoint() << m_location->getVolumeUUID();
        a.writeBool(m_location->isRemovable());
        a.writeU32(m_backupMethod);
        a.writeBool(m_useCompression);
        a.writeU64(m_backupSizeLimit);
        a.writeU32(m_filterFlags);
        a << m_excludePattern;
        a.writeBool(m_useSchedule);
        a.writeU32(m_schedIntervalType);
        a.writeU16(m_schedHH);
        a.writeU16(m_schedMM);
        a.writeU16(m_schedMinutes);
        a.writeU16(m_schedWeekDays);
        a.writeU16(m_schedMonthDay);
        a.writeBool(m_startOnMount);
        a.writeBool(m_lastRunFailed);
        a.writeBool(m_useAdmin);
        a.writeBool(m_mountAuto);
        a << m_lastBuiltDate;
        a << m_selectedArchive;
        a.writeU32(quint32(m_archives.size()));
        for (const CBArchivePath& e : m_archives) {
            a << e.fileName;
            a.writeU32(quint32(e.deviceType));
            a << e.pathFromMountPoint << e.URLStr;
        }
        writeBlob(a, recordBlob(35));
        writeBlob(a, recordBlob(36));
        a.writeU32(m_cryptMethod);
        const QByteArray digest = m_digest.data();
        a.writeRaw(digest.constData(), digest.size());
        a.writeBool(m_passwordInKeychain);
        a << m_UUID;
        a.writeBool(m_startLate);
        return;
    }

    QString text;
    a >> text;
    setName(text);
    if (v >= 18) {
        QString file;
        a >> file;
        if (!file.isNull()) {
            if (!isSingleComponentName(file))
                throw ArchiveFormatError("a project file name that is not one path component");
            m_fileName = file;
        }
    } else if (!text.isNull()) {
        if (!isSingleComponentName(text))
            throw ArchiveFormatError("a project file name that is not one path component");
        m_fileName = text;
    }
    m_destDeviceType = qint32(a.readU32());
    a >> m_destDeviceName;
    if (m_destDeviceName.isEmpty())
        m_destDeviceName = QStringLiteral("Unknown device");
    m_location->setDisplayName(m_destDeviceName);
    m_location->setDeviceType(m_destDeviceType);
    a >> m_destPath;
    m_location->setPathFromMountPoint(m_destPath);
    m_location->setEmpty(false);
    if (v >= 3) {
        a >> text;
        m_location->setDisplayName(text);
        m_location->setDeviceType(int(qint32(a.readU32())));
        a >> text;
        m_location->setPathFromMountPoint(text);
        a >> text;
        m_location->setURLStr(text);
        m_location->setAutomount(a.readBool());
    }
    if (v >= 8) {
        a >> text;
        m_location->setMountPoint(text);
    }
    if (v >= 19) {
        a >> text;
        m_location->setVolumeUUID(text);
        m_location->setRemovable(a.readBool());
    }
    const quint32 method = a.readU32();
    if (method != m_backupMethod) {
        resetLocationInBackup();
        m_propertiesChanged = true;
    }
    m_backupMethod = method;
    m_useCompression = a.readBool();
    m_backupSizeLimit = a.readU64();
    m_filterFlags = a.readU32();
    a >> m_excludePattern;
    m_useSchedule = a.readBool();
    const quint32 type = a.readU32();
    if (type != m_schedIntervalType)
        m_propertiesChanged = true;
    m_schedIntervalType = type;
    m_schedHH = a.readU16();
    m_schedMM = a.readU16();
    if (v >= 17)
        m_schedMinutes = a.readU16();
    const quint16 days = a.readU16();
    if (v >= 18)
        m_schedWeekDays = days;
    else
        m_schedWeekDays = days == 0 ? 64 : (days <= 16 ? quint16(1u << (days - 1)) : 0);
    m_schedMonthDay = a.readU16();
    if (v >= 19) {
        m_startOnMount = a.readBool();
        m_lastRunFailed = a.readBool();
    }
    if (v >= 20)
        m_useAdmin = a.readBool();
    if (v >= 22)
        m_mountAuto = a.readBool();
    QDateTime built;
    a >> built;
    // 0.0 is what a never-built project stored: no date, not 1970.
    m_lastBuiltDate = built.isValid() && built.toMSecsSinceEpoch() != 0 ? built : QDateTime();
    a >> m_selectedArchive;
    const quint32 count = a.readU32();
    a.checkCount(count, 4);
    m_archives.clear();
    for (quint32 i = 0; i < count; ++i) {
        CBArchivePath e;
        a >> e.fileName;
        if (v >= 15) {
            e.deviceType = qint32(a.readU32());
            a >> e.pathFromMountPoint >> e.URLStr;
        }
        if (isSingleComponentName(e.fileName) || e.fileName.isNull()) {
            m_archives.push_back(e);
        } else {
            m_iBackup->processMessage(
                QStringLiteral("Archive name \"%1\" of project \"%2\" is not valid: ignored")
                    .arg(e.fileName, m_name),
                LogWord::UtilLog, m_iBackup.get());
        }
    }
    if (v == 4) {
        a.readU64();
        a.readU64();
        a.readU64();
    }
    if (v >= 5) {
        m_colorBlob = readBlob(a);
        bool ok = false;
        QColor c = ProjectColor::defaultColor();
        if (m_colorBlob.size() == 36 && m_colorBlob.startsWith(kColorTag)) {
            c = ProjectColor::decode(m_colorBlob.mid(4), &ok);
        } else if (const auto archived = decodeArchivedColor(m_colorBlob)) {
            c = *archived;
            ok = true;
        }
        m_color = ok ? c : ProjectColor::defaultColor();
        if (m_colorBlob.isEmpty())
            m_colorBlob.clear();
    }
    if (v >= 6) {
        const QByteArray blob = readBlob(a);
        m_nextDate = decodeNextDate(blob);
        m_nextDateBlob = m_nextDate.isValid() ? QByteArray() : blob;
    }
    if (v >= 9)
        m_cryptMethod = a.readU32();
    if (v >= 10) {
        QByteArray digest(16, '\0');
        a.readRaw(digest.data(), 16);
        if (digest != m_digest.data())
            m_propertiesChanged = true;
        m_digest = IPasswordMD5::createWithData(digest);
    }
    if (v >= 11)
        m_passwordInKeychain = a.readBool();
    if (v >= 13) {
        a >> text;
        if (!text.isEmpty())
            setUUID(text);
    }
    if (v >= 21)
        m_startLate = a.readBool();
}

void CBackup::serialize(CUDArch& a, bool flag)
{
    const quint32 v = a.version();
    if (a.isWriting()) {
        a.BeginBlock(1);
        if (a.mode() == CUDArch::WriteHeader || v < 14)
            serializeRecord(a);
        a.EndBlock();
        if (v <= 13 || a.mode() == CUDArch::WriteTree)
            serializeChildren(a, flag);
        return;
    }
    if (!a.BeginBlock(1))
        throw ArchiveFormatError("the project record block is missing");
    const bool readRecord = a.mode() == CUDArch::ReadHeader || v <= 13;
    if (readRecord) {
        if (m_loadState == 1)
            a.JumpToEndBlock(); // the record read with the top level stays as it is now
        else
            serializeRecord(a);
    }
    a.EndBlock();
    if (v <= 13 || a.mode() == CUDArch::ReadTree)
        serializeChildren(a, flag);
}

bool CBackup::keepNewerPairAside(const QString& bif)
{
    // A pair written by a newer version holds fields this one does not know: keep it as it
    // is, under a name no earlier kept copy has, before it is saved over.
    const QString bih = QVProjectHeaderFileName(bif);
    const QString suffix = QStringLiteral(".v%1").arg(m_fileVersion);
    QString extra;
    for (int n = 0;; ++n) {
        extra = n == 0 ? suffix : suffix + QStringLiteral(".%1").arg(n);
        if (!exists(bif + extra) && !exists(bih + extra))
            break;
    }
    bool ok = true;
    for (const QString& file : { bif, bih }) {
        if (!exists(file))
            continue;
        // A hard link where the file system has them, else a copy.
        if (::link(NameCodec::encode(file).constData(), NameCodec::encode(file + extra).constData()) != 0) {
            bool read = false;
            const QByteArray bytes = WholeFile::read(file, &read);
            if (!read || !AtomicFile::write(file + extra, bytes))
                ok = false;
        }
    }
    if (ok)
        m_iBackup->processMessage(
            QStringLiteral("Project files of a newer version kept as \"%1\"").arg(lastComponent(bif + extra)),
            LogWord::UtilLog, m_iBackup.get());
    return ok;
}

bool CBackup::saveTo(const QString& path, bool quiet)
{
    if (path.isNull())
        return false;
    IBackup* ib = m_iBackup.get();
    if (m_treeUnreadable) {
        // What is in memory is not the project: its files could not be read. They stay.
        m_lastFileError = QStringLiteral("the project files could not be read, so they are not replaced");
        ib->processMessage(
            QCoreApplication::translate("Localizable", "Can't write backup info file \"%1\" properly")
                .arg(lastComponent(path)),
            18241, ib);
        return false;
    }
    if (!quiet)
        ib->processMessage(QCoreApplication::translate("Localizable", "Content data saving..."), 18273, ib);
    const bool wasInProcess = ib->isInProcess();
    const int wasOperation = ib->currentOperation();
    ib->setInProcess(true, 8);

    // Both files are made in memory, written under private names and renamed into place, the
    // record first: a failure anywhere keeps the previous pair as it was.
    bool ok = true;
    QString error;
    QByteArray tree;
    QByteArray record;
    try {
        CUDArch treeArch(&tree, CUDArch::WriteTree);
        CBackupFileHeader treeHeader;
        if (!treeHeader.save(treeArch))
            throw ArchiveFormatError("header");
        serialize(treeArch, false);
        if (!treeArch.Close())
            throw ArchiveFormatError("tree");
        CUDArch recordArch(&record, CUDArch::WriteHeader);
        CBackupFileHeader recordHeader(CBackupFileHeader::kMagic, CBackupFileHeader::kKindRecord, 22);
        if (!recordHeader.save(recordArch))
            throw ArchiveFormatError("header");
        serialize(recordArch, false);
        if (!recordArch.Close())
            throw ArchiveFormatError("record");
    } catch (const ArchiveFormatError& e) {
        ok = false;
        error = QString::fromLatin1(e.what());
    }
    const QString bihPath = QVProjectHeaderFileName(path);
    if (ok && isBIFSourceNewerThanCurrent() && (exists(path) || exists(bihPath))
        && !keepNewerPairAside(path)) {
        ok = false;
        error = QStringLiteral("the newer project files could not be kept aside");
    }
    QString tmpRecord;
    QString tmpTree;
    if (ok) {
        tmpRecord = writeTemporaryBeside(bihPath, record, &error);
        tmpTree = tmpRecord.isEmpty() ? QString() : writeTemporaryBeside(path, tree, &error);
        ok = !tmpRecord.isEmpty() && !tmpTree.isEmpty();
        if (ok
            && ::rename(NameCodec::encode(tmpRecord).constData(), NameCodec::encode(bihPath).constData())
                != 0) {
            error = QString::fromLocal8Bit(std::strerror(errno));
            ok = false;
        }
        if (ok
            && ::rename(NameCodec::encode(tmpTree).constData(), NameCodec::encode(path).constData()) != 0) {
            error = QString::fromLocal8Bit(std::strerror(errno));
            ok = false;
        }
        if (!ok) {
            if (!tmpRecord.isEmpty())
                ::unlink(NameCodec::encode(tmpRecord).constData());
            if (!tmpTree.isEmpty())
                ::unlink(NameCodec::encode(tmpTree).constData());
        } else {
            AtomicFile::syncFolder(path.left(path.lastIndexOf(QLatin1Char('/'))));
        }
    }
    if (ok) {
        m_oldLayout = false;
        m_fileVersion = 22;
        m_lastFileError.clear();
    } else {
        m_lastFileError = error;
        ib->processMessage(
            QCoreApplication::translate("Localizable", "Can't write backup info file \"%1\" properly")
                .arg(lastComponent(path)),
            18241, ib);
    }
    ib->setInProcess(wasInProcess && wasOperation != 8, wasInProcess ? wasOperation : 0);
    // Only what was written counts as saved: after a failure the changes still wait.
    if (ok)
        m_treeChanged = false;
    if (ib->isReadyForInterface())
        ib->processMessage(QCoreApplication::translate("Localizable", "Ready"), 16417, ib);
    else
        ib->processMessage(ib->lastStatusString(), 16417, ib);
    return ok;
}

bool CBackup::save()
{
    if (m_name.isEmpty())
        return false;
    MainPreferences::shared().checkCreateAppSupportPath();
    const bool ok = saveTo(makeBifFileName(), false);
    if (ok)
        delSameAltFormatBif();
    return ok;
}

bool CBackup::saveProperties()
{
    if (m_name.isEmpty())
        return false;
    MainPreferences::shared().checkCreateAppSupportPath();
    const bool treeChanged = m_treeChanged;
    const bool ok = saveTo(makeBifFileName(), true);
    if (ok) {
        delSameAltFormatBif();
        m_propertiesChanged = false;
    }
    m_treeChanged = treeChanged;
    return ok;
}

void CBackup::delSameAltFormatBif()
{
    const QString bif = makeBifFileName();
    if (exists(bif))
        ::unlink(NameCodec::encode(replaceExtension(bif, "bifx")).constData());
}

bool CBackup::load(const QString& path, bool relocate)
{
    return loadFiles(path, relocate, false);
}

int CBackup::reload()
{
    if (m_name.isEmpty())
        return 0;
    const QString path = m_projectFilePath.isEmpty() ? makeBifFileName() : m_projectFilePath;
    if (!exists(path))
        return 0;
    m_iBackup->setInProcess(true, 3);
    m_iBackup->processMessage(
        QCoreApplication::translate("Localizable", "Reload content data..."), 0x4761, m_iBackup.get());
    // The file is read into a project of its own first: only a file that loads replaces this
    // project's record and tree, so a damaged file can never leave an empty tree to be saved.
    bool ok = false;
    {
        CBackup fresh(m_name);
        ok = fresh.load(path, false);
        if (!ok)
            m_lastFileError = fresh.lastFileError();
    }
    if (ok)
        ok = load(path, false);
    m_iBackup->setInProcess(false, 3);
    if (ok)
        m_iBackup->registerExternalChange(5);
    m_iBackup->processMessage(QString(), 0x4022, m_iBackup.get());
    if (ok && IShellServices::shared().currentBackup() == m_iBackup.get())
        IShellServices::shared().eventChangedCurrentBackup();
    return ok ? 1 : -1;
}

bool CBackup::loadTopContentLevel(const QString& path, bool relocate)
{
    return loadFiles(path, relocate, true);
}

bool CBackup::loadFiles(const QString& path, bool relocate, bool topOnly)
{
    if (path.isNull())
        return false;
    m_lastFileError.clear();
    const bool wasLoading = m_loading;
    m_loading = true;
    bool ok = false;
    QString error;
    removeAllItems();
    try {
        CUDArch tree(path, CUDArch::ReadTree);
        if (!tree.isOpen())
            throw ArchiveFormatError("the file cannot be read");
        CBackupFileHeader h;
        if (!h.load(tree) || h.magic != CBackupFileHeader::kMagic || h.kind != CBackupFileHeader::kKindTree) {
            m_iBackup->processMessage(
                QStringLiteral("Warning: Project file have not correct signature. It's not loaded. %1")
                    .arg(path),
                LogWord::UtilLog, m_iBackup.get());
            throw ArchiveFormatError("not a project tree file");
        }
        m_fileVersion = h.version;
        m_oldLayout = h.version < 14;
        serialize(tree, topOnly);
        if (h.version >= 14) {
            CUDArch rec(QVProjectHeaderFileName(path), CUDArch::ReadHeader);
            if (!rec.isOpen())
                throw ArchiveFormatError("the record file cannot be read");
            CBackupFileHeader rh;
            if (!rh.load(rec) || rh.magic != CBackupFileHeader::kMagic
                || rh.kind != CBackupFileHeader::kKindRecord)
                throw ArchiveFormatError("not a project record file");
            serialize(rec, topOnly);
        }
        ok = true;
    } catch (const ArchiveFormatError& e) {
        error = QString::fromLatin1(e.what());
    }
    m_loading = wasLoading;
    if (!ok) {
        // Nothing of a half-read tree stays, and it is never saved over the files.
        removeAllItems();
        m_treeUnreadable = true;
        m_treeChanged = false;
        m_propertiesChanged = false;
        m_lastFileError = error;
        IShellServices::shared().processMessage(
            QCoreApplication::translate("Localizable", "Can't read backup info file \"%1\" properly")
                .arg(lastComponent(path)),
            193, nullptr);
        return false;
    }
    m_treeUnreadable = false;
    dropHistoryPastList();
    if (relocate) {
        QString folder = path.left(path.lastIndexOf(QLatin1Char('/')));
        if (lastComponent(folder) == m_name)
            folder = folder.left(folder.lastIndexOf(QLatin1Char('/')));
        if (!folder.isEmpty())
            m_destPath = folder;
        m_treeChanged = m_propertiesChanged = true;
    } else {
        m_treeChanged = m_propertiesChanged = false;
    }
    if (topOnly) {
        m_loadState = 1;
        if (!QCoreApplication::instance()
            || QThread::currentThread() == QCoreApplication::instance()->thread())
            m_iBackup->registerExternalChange(7);
    } else {
        m_loadState = 2;
        setLegacyHistory(this);
        m_iBackup->registerExternalChange(7);
    }
    return true;
}

void CBackup::dropHistoryPastList()
{
    // A crash between the two renames of a save leaves a newer record with an older tree:
    // history records of archives the list no longer has are ignored.
    const int n = int(m_archives.size());
    std::function<void(CBackupItemsContainer*)> walk = [&](CBackupItemsContainer* c) {
        for (int i = 0; i < c->count(); ++i) {
            CBackupItem* item = c->itemAt(i);
            auto& h = item->m_history;
            h.erase(std::remove_if(
                        h.begin(), h.end(), [n](const CBIHistoryState& s) { return int(s.index) >= n; }),
                h.end());
            walk(item);
        }
    };
    if (n < 65536)
        walk(this);
}

bool CBackup::close()
{
    const QString bif = m_projectFilePath.isEmpty() ? makeBifFileName() : m_projectFilePath;
    bool ok = true;
    for (const QString& file : { bif, QVProjectHeaderFileName(bif) }) {
        if (exists(file) && ::unlink(NameCodec::encode(file).constData()) != 0)
            ok = false;
    }
    ProjectKeychain::remove(m_name, m_UUID);
    return ok;
}

bool CBackup::saveToXMLFile(const QString& path)
{
    if (path.isNull())
        return false;
    QVariantMap dict;
    saveToDict(dict);
    QString error;
    if (!PlistBridge::writeFileAtomically(path, dict, &error)) {
        m_iBackup->processMessage(
            QStringLiteral("Error during writing to: \"%1\"\n").arg(path), 18241, m_iBackup.get());
        return false;
    }
    return true;
}
