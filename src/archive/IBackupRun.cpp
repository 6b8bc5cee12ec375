// The run control of an archive project: one tool job at a time, its output classified line by
// line on the reader thread, its end turned into work-end status bits on the main thread.
#include "archive/CBackup.h"
#include "archive/CBackupItem.h"
#include "archive/IArchiveContainer.h"
#include "archive/IBackup.h"
#include "archive/ITaskWrapperARCH.h"
#include "platform/Clock.h"
#include "platform/DistributedNotificationCenter.h"
#include "platform/MainThread.h"
#include "platform/NameCodec.h"
#include "projects/ILocation.h"
#include "utilities/CommonFunctions.h"
#include "utilities/ICommon.h"
#include "utilities/LogOptions.h"
#include "utilities/MainPreferences.h"
#include "utilities/ProjectKeychain.h"
#include "utilities/ProjectPasswordPrompt.h"
#include "utilities/UiPrompts.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QPointer>

namespace {

bool endsWith(const QByteArray& line, const char* tail)
{
    return line.endsWith(tail);
}

// Lines that say a stage failed: the job cannot have produced a complete archive.
const char* const kErrorTexts[] = {
    "Unexpected EOF in archive",
    "Error is not recoverable: exiting now",
    "This does not look like a tar archive",
    "bad decrypt",
    "Error setting cipher",
    "error writing output file",
    "No space left on device",
    ": Wrote only ",
    "unexpected end of file",
    "Child returned status",
    "Cannot write: Broken pipe",
};

// Lines taken without effect: the stage statuses decide what they mean.
const char* const kQuietTexts[] = {
    "Exiting with failure status due to previous errors",
    "*** WARNING : deprecated key derivation used.",
    "Using -iter or -pbkdf2 would be better.",
    "Removing leading `/' from member names",
    "Removing leading `/' from hard link targets",
};

// A name as tar's messages quote it (the "escape" style): "\\\\", "\\n", "\\t", other C escapes and
// "\\ooo" octal bytes stand for the bytes themselves.
QByteArray unquoteTarName(const QByteArray& text)
{
    QByteArray out;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char c = text.at(i);
        if (c != '\\' || i + 1 >= text.size()) {
            out += c;
            continue;
        }
        const char n = text.at(++i);
        switch (n) {
        case 'n':
            out += '\n';
            break;
        case 't':
            out += '\t';
            break;
        case 'r':
            out += '\r';
            break;
        case 'a':
            out += '\a';
            break;
        case 'b':
            out += '\b';
            break;
        case 'f':
            out += '\f';
            break;
        case 'v':
            out += '\v';
            break;
        case '?':
            out += '\x7f';
            break;
        default:
            if (n >= '0' && n <= '7' && i + 2 < text.size() + 0 && text.at(i + 1) >= '0'
                && text.at(i + 1) <= '7' && text.at(i + 2) >= '0' && text.at(i + 2) <= '7') {
                out += char(((n - '0') << 6) | ((text.at(i + 1) - '0') << 3) | (text.at(i + 2) - '0'));
                i += 2;
            } else {
                out += n;
            }
        }
    }
    return out;
}

QString localized(const char* text)
{
    return QCoreApplication::translate("Localizable", text);
}

} // namespace

void IBackup::resetJobCounters()
{
    m_members = 0;
    m_processedUnits = 0;
    m_postedPercent = 0;
    m_warnLines = 0;
    m_errorLines = 0;
    m_notFoundLines = 0;
    std::lock_guard<std::mutex> lock(m_logMutex);
    m_renamed.clear();
}

QList<QPair<QString, QString>> IBackup::renamedFiles() const
{
    std::lock_guard<std::mutex> lock(m_logMutex);
    return m_renamed;
}

void IBackup::logFromReader(const QByteArray& line)
{
    // Reader thread: the log window lives on the main thread.
    QPointer<IBackup> self(this);
    runOnMain([self, line] {
        if (self)
            self->processMessage(NameCodec::decode(line), 0x4741, self.data());
    });
}

void IBackup::classifyLine(const QByteArray& line)
{
    if (line.isEmpty())
        return;
    // Fatal lines first: "Unexpected EOF in archive" also ends in " in archive".
    for (const char* text : kErrorTexts) {
        if (line.contains(text)) {
            ++m_errorLines;
            logFromReader(line);
            return;
        }
    }
    if (endsWith(line, ": Not found in archive")) {
        ++m_notFoundLines;
        ++m_warnLines;
        logFromReader(line);
        return;
    }
    if (line.contains(": Warning: Cannot open:") || line.contains(": Warning: Cannot stat:")
        || line.contains(": Cannot stat:") || line.contains(": Cannot open:")) {
        ++m_warnLines;
        logFromReader(line);
        return;
    }
    for (const char* text : kQuietTexts)
        if (line.contains(text))
            return;
    if (line.contains("Creating directory:"))
        return;
    // "Renaming ‘d/f’ to ‘d/f.~kvr1.0~’": tar moved an existing file aside before extracting.
    static const QByteArray open = QByteArray("Renaming \xE2\x80\x98");
    static const QByteArray mid = QByteArray("\xE2\x80\x99 to \xE2\x80\x98");
    static const QByteArray close = QByteArray("\xE2\x80\x99");
    if (line.startsWith(open) && line.endsWith(close)) {
        const QByteArray body = line.mid(open.size(), line.size() - open.size() - close.size());
        const qsizetype at = body.lastIndexOf(mid);
        if (at > 0) {
            std::lock_guard<std::mutex> lock(m_logMutex);
            m_renamed << qMakePair(NameCodec::decode(unquoteTarName(body.left(at))),
                NameCodec::decode(unquoteTarName(body.mid(at + mid.size()))));
        }
        return;
    }
    // Anything else is a member line of tar's listing.
    countMember(line);
}

namespace {

// Splits "mode owner size date time name" (blank runs between the first five fields); false
// when the line has fewer fields.
bool splitMemberLine(const QByteArray& line, QByteArray fields[5], QByteArray* name)
{
    qsizetype at = 0;
    for (int i = 0; i < 5; ++i) {
        while (at < line.size() && line.at(at) == ' ')
            ++at;
        const qsizetype end = line.indexOf(' ', at);
        if (at >= line.size() || end < 0)
            return false;
        fields[i] = line.mid(at, end - at);
        at = end;
    }
    while (at < line.size() && line.at(at) == ' ')
        ++at;
    *name = line.mid(at);
    return !name->isEmpty();
}

bool isMemberMode(const QByteArray& mode)
{
    if (mode.size() < 3 || !QByteArray("-dlh").contains(mode.at(0)))
        return false;
    const QByteArray rw = mode.mid(1, 2);
    return rw == "rw" || rw == "-w" || rw == "r-" || rw == "--";
}

bool isValidDate(const QByteArray& date)
{
    const QList<QByteArray> parts = date.split('-');
    if (parts.size() != 3)
        return false;
    bool y = false, m = false, d = false;
    const ulong year = parts[0].toULong(&y), month = parts[1].toULong(&m), day = parts[2].toULong(&d);
    return y && m && d && year != 0 && month >= 1 && month <= 12 && day >= 1 && day <= 31;
}

} // namespace

void IBackup::countMember(const QByteArray& line)
{
    ++m_members;
    QByteArray f[5];
    QByteArray name;
    const bool member = splitMemberLine(line, f, &name) && isMemberMode(f[0]);
    if (member && isValidDate(f[3])) {
        if (name.endsWith('/')) {
            ++m_procFolders;
        } else {
            ++m_procFiles;
            m_procSize += f[2].toULongLong();
            // The file being archived on the status line, about twice a second at most.
            const qint64 now = Clock::current().monotonicMs();
            qint64 last = m_lastProgressTextMs.load();
            if (now - last >= 31 * 1000 / 60 && m_lastProgressTextMs.compare_exchange_strong(last, now)) {
                QPointer<IBackup> self(this);
                const QString text = NameCodec::decode(name);
                runOnMain([self, text] {
                    if (self && self->isJobRunning())
                        self->processMessage(text, LogOption::String | LogOption::Status, self.data());
                });
            }
        }
    } else if (line.startsWith('d')) {
        ++m_procFolders;
    } else {
        ++m_procFiles;
    }
    // The indicator follows the listed entries, posted once per whole percent.
    const quint64 done = ++m_processedUnits;
    if (m_fullSize <= 0)
        return;
    const double position = std::min(100.0, double(done) * 100.0 / m_fullSize);
    int posted = m_postedPercent.load();
    if (int(position) > posted && m_postedPercent.compare_exchange_strong(posted, int(position))) {
        QPointer<IBackup> self(this);
        runOnMain([self, position] {
            if (self && self->isJobRunning())
                self->setIndicatorPosition(position);
        });
    }
}

quint8 IBackup::endStatusFor(const CBackupTaskDesc& task, const ArchiveJobEnd& end) const
{
    // The job starts with what was found before the tools ran (a source that is gone).
    quint8 bits = task.endStatus & 0x1;
    if (end.stopped)
        return 0x4; // wesTerminateByUser
    if (!end.endLineSeen)
        return bits | 0x2;
    for (int i = 0; i < end.statuses.size(); ++i) {
        const int s = end.statuses.at(i);
        if (s == 0)
            continue;
        if (i == task.tarStage && s == 1)
            bits |= 0x1;
        else if (i == task.tarStage && s == 2 && task.operation == CBackupTaskDesc::OpRestore
            && m_errorLines.load() == 0 && m_notFoundLines.load() > 0)
            bits |= 0x1;
        else
            bits |= 0x2;
    }
    if (m_errorLines.load() > 0)
        bits |= 0x2;
    if (m_warnLines.load() > 0)
        bits |= 0x1;
    return bits;
}

void IBackup::printStartStatisticToLog()
{
    if (!m_backup)
        return;
    processMessage(m_backup->isProcessingBySchedule() ? localized("Started by scheduler") : localized("Started by user"),
        0x4781, this);
    for (int i = 0; i < m_backup->count(); ++i) {
        const CBackupItem* item = m_backup->itemAt(i);
        if (!item || !item->isIncluded() || !item->exists())
            continue;
        ILocation where;
        if (!where.setupWithPath(item->getAbsolutePath()))
            continue;
        const QString mount = where.getMountPoint();
        const QString volume = mount.isEmpty() || mount == QLatin1String("/")
            ? where.getDisplayName()
            : mount.section(QLatin1Char('/'), -1, -1, QString::SectionSkipEmpty);
        processMessage(localized("Source \"%1\" Info: %2").arg(volume, infoTextForLocation(&where)), 0x4781, this);
    }
    if (m_backup->location())
        processMessage(localized("Destination Volume Info: %1").arg(infoTextForLocation(m_backup->location())),
            0x4781, this);
}

bool IBackup::startTar(const CBackupTaskDesc& task)
{
    if (m_runner)
        return false;
    resetJobCounters();
    CBackupTaskDesc job = task;
    job.endStatus |= m_warnErrorsBeforeStartUtils;
    printStartStatisticToLog();
    // The pipeline as the run log shows it: the password never appears (openssl reads it from
    // the environment).
    QString command;
    for (const QStringList& stage : job.stages)
        command += (command.isEmpty() ? QString() : QStringLiteral(" | ")) + ICommon::commandLineFromArgsArray(stage);
    processMessage(localized("command line: %1").arg(command), 0x781, this);
    auto runner = std::make_shared<ITaskWrapperARCH>(job.stages, job.password);
    runner->setAsRoot(job.asRoot);
    QString error;
    const bool started = runner->start([this](const QByteArray& line) { classifyLine(line); },
        [this, job](const ArchiveJobEnd& end) { jobEnded(job, end); }, &error);
    if (!started) {
        m_authorizationRefused = runner->notAuthorized();
        processMessage(error, LogOption::Window | LogOption::RunLog, this);
        return false;
    }
    m_runner = runner;
    m_current = job;
    m_volumeIndex = 0;
    m_volumeFailed = false;
    if (onJobStarted)
        onJobStarted(runner->processGroup(), job.stages);
    // A stop asked for while the run was being prepared (the file list lets events run) ends the
    // job as soon as it exists, with the rest of the chain.
    if (m_userStopped)
        stopByUser();
    return true;
}

void IBackup::prepareForTar(const CBackupTaskDesc& task)
{
    m_tasks.push_back(task);
    m_tasks.back().endStatus |= m_warnErrorsBeforeStartUtils;
}

bool IBackup::run()
{
    // Start the first job that starts; each that cannot start ends as a failed job.
    while (!m_tasks.empty() && !m_runner) {
        CBackupTaskDesc task = m_tasks.front();
        m_tasks.pop_front();
        if (task.operation == CBackupTaskDesc::OpRestore && m_backup) {
            const int where = m_backup->locateRestoreArchive(task);
            if (where != 0) {
                // Skipped or cancelled: this archive ends as stopped; a cancel drops the rest of
                // its chain as well.
                m_archivePromptRefused = true;
                task.endStatus = 0x4;
                if (where == 2 && !(task.processAttr & 0x2)) {
                    while (!m_tasks.empty()) {
                        const bool lastOfChain = m_tasks.front().processAttr & 0x2;
                        m_tasks.pop_front();
                        CBackup::m_nTarRunning = std::max(0, CBackup::m_nTarRunning - 1);
                        if (lastOfChain)
                            break;
                    }
                }
                endTask(task);
                continue;
            }
        }
        if (startTar(task))
            return true;
        if (m_authorizationRefused) {
            // Refused rights end the run as a stop does: this job and the rest of the chain.
            m_userStopped = true;
            task.endStatus = 0x4;
            while (!m_tasks.empty()) {
                m_tasks.pop_front();
                CBackup::m_nTarRunning = std::max(0, CBackup::m_nTarRunning - 1);
            }
        } else {
            m_chainFailed = true;
            task.endStatus = 0x2;
        }
        endTask(task);
    }
    return bool(m_runner);
}

void IBackup::stopByUser()
{
    m_userStopped = true;
    // The rest of the chain is dropped: each queued job had raised the running-jobs count.
    while (!m_tasks.empty()) {
        m_tasks.pop_front();
        CBackup::m_nTarRunning = std::max(0, CBackup::m_nTarRunning - 1);
    }
    if (m_runner)
        m_runner->stop();
}

void IBackup::stopTar()
{
    if (m_runner)
        m_runner->stop();
}

void IBackup::jobEnded(const CBackupTaskDesc& task, const ArchiveJobEnd& end)
{
    CBackupTaskDesc done = task;
    ArchiveJobEnd result = end;
    if (m_userStopped)
        result.stopped = true;
    else if (m_volumeFailed)
        result.stopped = false; // ended by the run control, not the user: a failure
    done.endStatus = endStatusFor(task, result);
    if (m_volumeFailed && !m_userStopped)
        done.endStatus |= 0x2;
    if (!result.endLineSeen && !result.stopped)
        processMessage(result.error, LogOption::Window | LogOption::RunLog, this);
    m_runner.reset();
    endTask(done);
    setIndicatorPositionInZero();
    if (!m_tasks.empty() && !m_userStopped) {
        run();
        if (m_runner)
            return;
    }
    if (!m_runner && m_tasks.empty() && onRunEnded)
        onRunEnded();
}

void IBackup::endTask(const CBackupTaskDesc& task)
{
    m_finished = task;
    if (!m_backup)
        return;
    // A disc build is not over with its job: the burn step follows.
    const bool last = m_tasks.empty()
        && !(task.operation == CBackupTaskDesc::OpBuild && m_backup->isLocationDeviceCDRWType());
    // Any error discards what the job made, not only a job whose every stage failed.
    m_backup->stopTar(last, false, task.archivePath, task.operation, task.endStatus, task.endStatus & 0x2);
}

QString IBackup::getBackupPasswordByUser()
{
    CBackup* b = m_backup;
    if (!b)
        return QString();
    UiPrompts::ProjectPasswordRequest request;
    request.title = b->name();
    request.UUID = b->getUUID();
    request.passwordInKeychain = b->passwordInKeychain();
    UiPrompts::ProjectPasswordAnswer answer;
    const IPasswordMD5 stored = b->passwordDigest();
    if (stored.isEmpty()) {
        request.type = 2;
        answer = ProjectPasswordPrompt::askProjectPassword(request);
        if (!answer.ok || answer.password.isEmpty())
            return QString();
    } else {
        request.type = 1;
        request.digest = stored;
        request.canChangePassword = true;
        request.incrementalBackup = b->backupMethod() == BackupMethodIncremental;
        answer = ProjectPasswordPrompt::askProjectPassword(request);
        if (!answer.ok)
            return QString();
        if (answer.password.isEmpty()) {
            // The user chose to change the password: a new one, and every item starts afresh.
            UiPrompts::ProjectPasswordRequest again = request;
            again.type = 2;
            again.digest.reset();
            answer = ProjectPasswordPrompt::askProjectPassword(again);
            if (!answer.ok || answer.password.isEmpty())
                return QString();
            b->resetLocationInBackup();
            b->clearLastBackupDate();
        } else if (!stored.correspondsToPassword(answer.password)) {
            return QString();
        }
    }
    if (auto digest = IPasswordMD5::createWithPassword(answer.password))
        b->setPasswordDigest(*digest);
    syncKeychainBox(answer.passwordInKeychain);
    return answer.password;
}

void IBackup::syncKeychainBox(bool box)
{
    // The box switched off takes the stored password out of the keychain.
    if (!m_backup || box == m_backup->passwordInKeychain())
        return;
    m_backup->setPasswordInKeychain(box);
    if (!box)
        ProjectKeychain::remove(m_backup->name(), m_backup->getUUID());
}

QString IBackup::getRestorePasswordByUser()
{
    CBackup* b = m_backup;
    if (!b)
        return QString();
    UiPrompts::ProjectPasswordRequest request;
    request.type = 1;
    request.title = b->name();
    request.UUID = b->getUUID();
    request.passwordInKeychain = b->passwordInKeychain();
    if (!b->passwordDigest().isEmpty())
        request.digest = b->passwordDigest();
    const UiPrompts::ProjectPasswordAnswer answer = ProjectPasswordPrompt::askProjectPassword(request);
    if (!answer.ok || answer.password.isEmpty())
        return QString();
    syncKeychainBox(answer.passwordInKeychain);
    if (!b->passwordDigest().isEmpty() && !b->passwordDigest().correspondsToPassword(answer.password))
        return QString();
    return answer.password;
}

QString IBackup::getNextSplitedArcFileName()
{
    if (m_current.volumeCount <= 0 || m_volumeIndex >= m_current.volumeCount)
        return QStringLiteral("-");
    const int i = m_volumeIndex++;
    const QString archive = m_current.archivePath;
    const QString volume = archive.left(archive.lastIndexOf(QLatin1Char('.'))) + QLatin1Char('.')
        + MainPreferences::getMultivolumeArchiveExtensionByNumber(i, 3);
    const QString fileName = QFileInfo(volume).fileName();
    if (QFileInfo::exists(volume))
        return volume;
    const QString alt = m_current.altVolumeFolder;
    if (!alt.isEmpty() && QFileInfo::exists(alt + QLatin1Char('/') + fileName))
        return alt + QLatin1Char('/') + fileName;
    UiPrompts::LocateFileRequest request;
    request.message
        = localized("The backup volume \"%1\" not found. Please specify a new location.").arg(fileName);
    request.prompt = localized("Specify the location of the backup volume \"%1\":").arg(fileName);
    request.button = localized("Choose");
    request.startFolder = alt.isEmpty() ? QFileInfo(volume).path() : alt;
    request.fileName = fileName;
    request.canSkip = false; // a split archive cannot do without a volume
    const UiPrompts::LocateFileAnswer answer = UiPrompts::shared().locateFile(request);
    if (answer.result != UiPrompts::LocateResult::Chosen || answer.folder.isEmpty())
        return QString();
    m_current.altVolumeFolder = answer.folder;
    return answer.folder + QLatin1Char('/') + fileName;
}

void IBackup::sendFileNameToQV3Cat()
{
    // Only a running split restore has volumes to name.
    if (!m_runner || m_current.volumeCount <= 0)
        return;
    DistributedNotificationCenter& bus = DistributedNotificationCenter::shared();
    const QString next = getNextSplitedArcFileName();
    if (next.isNull()) {
        bus.post(QStringLiteral("QV3_CAT"), QStringLiteral("-"));
        m_volumeFailed = true;
        if (m_runner)
            m_runner->stop();
        return;
    }
    if (next != QLatin1String("-")) {
        // A path that is not valid UTF-8 would reach the tool mangled: refuse it plainly.
        const QByteArray bytes = NameCodec::encode(next);
        if (QString::fromUtf8(bytes).toUtf8() != bytes) {
            processMessage(
                localized("The backup volume \"%1\" has a name the cat tool cannot be given").arg(next),
                LogOption::Window | LogOption::RunLog, this);
            bus.post(QStringLiteral("QV3_CAT"), QStringLiteral("-"));
            m_volumeFailed = true;
            return;
        }
        processMessage(localized("Backup volume \"%1\" is restoring...").arg(next), 0x4761, this);
    }
    bus.post(QStringLiteral("QV3_CAT"), next);
}

void IBackup::qv3CatFileError(const QString& path)
{
    processMessage(localized("The backup volume \"%1\" cannot be read").arg(path),
        LogOption::Window | LogOption::RunLog, this);
    m_volumeFailed = true;
}
