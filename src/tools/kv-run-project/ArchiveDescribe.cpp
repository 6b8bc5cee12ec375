#include "ArchiveDescribe.h"

#include "archive/CBackup.h"
#include "archive/CBackupItem.h"
#include "platform/NameCodec.h"
#include "projects/ILocation.h"

#include <algorithm>
#include <cstdio>
#include <dirent.h>
#include <functional>
#include <memory>
#include <vector>

namespace {

void out(const QByteArray& line)
{
    std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
    std::fputc('\n', stdout);
}

QByteArray num(qint64 v)
{
    return QByteArray::number(v);
}
QByteArray flag(bool v)
{
    return v ? "1" : "0";
}
QByteArray date(const QDateTime& d)
{
    return d.isValid() ? d.toUTC().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ssZ")).toLatin1()
                       : QByteArray("-");
}
QByteArray hex(const QByteArray& b)
{
    return b.isEmpty() ? QByteArray("-") : b.toHex();
}

void describeItems(const CBackupItemsContainer& c, int depth)
{
    for (int i = 0; i < c.count(); ++i) {
        const CBackupItem* item = c.itemAt(i);
        QByteArray history;
        for (const CBIHistoryState& h : item->history()) {
            if (!history.isEmpty())
                history += ',';
            history += num(h.index) + ':' + num(h.state);
        }
        out("item " + num(depth) + ' ' + QByteArray::number(item->flags(), 16).rightJustified(8, '0') + ' '
            + QByteArray::number(item->size()) + ' ' + date(item->modificationDate()) + ' '
            + date(item->lastBackupDate()) + ' ' + (history.isEmpty() ? QByteArray("-") : history) + ' '
            + ArchiveDescribe::escape(item->isTopLevel() ? item->storedPath() : item->getName()));
        describeItems(*item, depth + 1);
    }
}

void describe(const CBackup& b)
{
    const ILocation& l = *b.location();
    const std::vector<std::pair<int, QByteArray>> rows = {
        { 1, ArchiveDescribe::escape(b.name()) },
        { 2, ArchiveDescribe::escape(b.fileName()) },
        { 3, num(b.destDeviceType()) },
        { 4, ArchiveDescribe::escape(b.destDeviceName()) },
        { 5, ArchiveDescribe::escape(b.destPath()) },
        { 6, ArchiveDescribe::escape(l.getDisplayName()) },
        { 7, num(l.getDeviceType()) },
        { 8, ArchiveDescribe::escape(l.getPathFromMountPoint()) },
        { 9, ArchiveDescribe::escape(l.getURLStr()) },
        { 10, flag(l.isAutomount()) },
        { 11, ArchiveDescribe::escape(l.getMountPoint()) },
        { 12, ArchiveDescribe::escape(l.getVolumeUUID()) },
        { 13, flag(l.isRemovable()) },
        { 14, num(b.backupMethod()) },
        { 15, flag(b.useCompression()) },
        { 16, QByteArray::number(b.backupSizeLimit()) },
        { 17, num(b.filterFlags()) },
        { 18, ArchiveDescribe::escape(b.excludePattern()) },
        { 19, flag(b.useSchedule()) },
        { 20, num(b.scheduleIntervalType()) },
        { 21, num(b.scheduleHour()) },
        { 22, num(b.scheduleMinute()) },
        { 23, num(b.scheduleIntervalMinutes()) },
        { 24, num(b.scheduleWeekDays()) },
        { 25, num(b.scheduleMonthDay()) },
        { 26, flag(b.startOnMount()) },
        { 27, flag(b.lastRunFailed()) },
        { 28, flag(b.useAdminPrivileges()) },
        { 29, flag(b.mountAutomatically()) },
        { 30, date(b.lastBuiltDate()) },
        { 31, ArchiveDescribe::escape(b.selectedArchive()) },
        { 32, num(qint64(b.archives().size())) },
        { 35, hex(b.recordBlob(35)) },
        { 36, hex(b.recordBlob(36)) },
        { 37, num(b.cryptMethod()) },
        { 38, b.passwordDigest().isEmpty() ? QByteArray("-") : b.passwordDigest().data().toHex() },
        { 39, flag(b.passwordInKeychain()) },
        // Files before version 13 store no identifier: the project makes a new one each load.
        { 40, b.fileVersion() < 13 ? QByteArray("-") : ArchiveDescribe::escape(b.getUUID()) },
        { 41, flag(b.startLate()) },
    };
    for (const auto& [n, value] : rows)
        out("row " + num(n) + ' ' + value);
    for (size_t i = 0; i < b.archives().size(); ++i) {
        const CBArchivePath& e = b.archives()[i];
        out("archive " + num(qint64(i)) + ' ' + num(e.deviceType) + ' ' + ArchiveDescribe::escape(e.fileName)
            + ' ' + ArchiveDescribe::escape(e.pathFromMountPoint) + ' ' + ArchiveDescribe::escape(e.URLStr));
    }
    describeItems(b, 0);
}

} // namespace

ArchiveDescribe::ArchiveDescribe(const RunOptions& options)
    : m_options(options)
{ }

QByteArray ArchiveDescribe::escape(const QString& text)
{
    if (text.isEmpty())
        return "-";
    const QByteArray bytes = NameCodec::encode(text);
    QByteArray outText;
    // Walk the bytes, copying valid UTF-8 sequences and escaping everything else.
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.constData());
    const qsizetype n = bytes.size();
    for (qsizetype i = 0; i < n;) {
        const unsigned char c = p[i];
        if (c == '\\') {
            outText += "\\\\";
            ++i;
        } else if (c == '\t') {
            outText += "\\t";
            ++i;
        } else if (c == '\n') {
            outText += "\\n";
            ++i;
        } else if (c < 0x20 || c == 0x7F) {
            outText += "\\x" + QByteArray::number(c, 16).rightJustified(2, '0');
            ++i;
        } else if (c < 0x80) {
            outText += char(c);
            ++i;
        } else {
            int len = (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 ? 4 : 0;
            bool valid = len > 0 && i + len <= n;
            for (int k = 1; valid && k < len; ++k)
                valid = (p[i + k] & 0xC0) == 0x80;
            if (valid
                && !QString::fromUtf8(bytes.constData() + i, len).contains(QChar::ReplacementCharacter)) {
                outText.append(bytes.constData() + i, len);
                i += len;
            } else {
                outText += "\\x" + QByteArray::number(c, 16).rightJustified(2, '0');
                ++i;
            }
        }
    }
    return outText;
}

int ArchiveDescribe::exec()
{
    const QString backups = m_options.workspace + QStringLiteral("/Backups");
    std::vector<QByteArray> files;
    if (DIR* dir = ::opendir(NameCodec::encode(backups).constData())) {
        while (struct dirent* e = ::readdir(dir)) {
            const QByteArray name(e->d_name);
            if (name.endsWith(".bif") && name.size() > 4)
                files.push_back(name);
        }
        ::closedir(dir);
    }
    std::sort(files.begin(), files.end());

    QString matchedFile;
    int matches = 0;
    QString failedFile;
    QString failedText;
    for (const QByteArray& f : files) {
        const QString path = backups + QLatin1Char('/') + NameCodec::decode(f);
        CBackup probe(QString::fromUtf8(f.left(f.size() - 4)));
        if (!probe.loadTopContentLevel(path, false)) {
            if (failedFile.isEmpty()) {
                failedFile = NameCodec::decode(f);
                failedText = probe.lastFileError();
            }
            continue;
        }
        const bool hit = m_options.projectName.isNull() ? probe.getUUID() == m_options.projectUUID
                                                        : probe.name() == m_options.projectName;
        if (hit) {
            ++matches;
            matchedFile = NameCodec::decode(f);
        }
    }
    if (matches > 1) {
        m_last = QStringLiteral("2 - several projects match");
        return 2;
    }
    if (matches == 0) {
        if (!failedFile.isEmpty()) {
            m_last = QStringLiteral("1 %1 %2").arg(failedFile, failedText);
            return 1;
        }
        m_last = QStringLiteral("2 - no such project");
        return 2;
    }
    CBackup project(matchedFile.left(matchedFile.size() - 4));
    if (!project.load(backups + QLatin1Char('/') + matchedFile, false)) {
        m_last = QStringLiteral("1 %1 %2").arg(matchedFile, project.lastFileError());
        return 1;
    }
    describe(project);
    std::fflush(stdout);
    m_last = QStringLiteral("0 %1 described").arg(matchedFile);
    return 0;
}
