// The run control of an archive project: one tool job at a time, its output classified line by
// line on the reader thread, its end turned into work-end status bits on the main thread.
#include "archive/CBackup.h"
#include "archive/IArchiveContainer.h"
#include "archive/IBackup.h"
#include "archive/ITaskWrapperARCH.h"
#include "platform/MainThread.h"
#include "platform/NameCodec.h"
#include "utilities/LogOptions.h"
#include "utilities/ProjectKeychain.h"
#include "utilities/UiPrompts.h"

#include <QCoreApplication>
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

} // namespace

void IBackup::resetJobCounters()
{
    m_members = 0;
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
    ++m_members;
}

quint8 IBackup::endStatusFor(const CBackupTaskDesc& task, const ArchiveJobEnd& end) const
{
    quint8 bits = 0;
    if (end.stopped)
        return 0x4; // wesTerminateByUser
    if (!end.endLineSeen)
        return 0x2;
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

bool IBackup::startTar(const CBackupTaskDesc& task)
{
    if (m_runner)
        return false;
    resetJobCounters();
    CBackupTaskDesc job = task;
    auto runner = std::make_shared<ITaskWrapperARCH>(job.stages, job.password);
    QString error;
    const bool started = runner->start([this](const QByteArray& line) { classifyLine(line); },
        [this, job](const ArchiveJobEnd& end) { jobEnded(job, end); }, &error);
    if (!started) {
        processMessage(error, LogOption::Window | LogOption::RunLog, this);
        return false;
    }
    m_runner = runner;
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
}

bool IBackup::run()
{
    // Start the first job that starts; each that cannot start ends as a failed job.
    while (!m_tasks.empty() && !m_runner) {
        CBackupTaskDesc task = m_tasks.front();
        m_tasks.pop_front();
        if (startTar(task))
            return true;
        m_chainFailed = true;
        task.endStatus = 0x2;
        if (m_backup)
            m_backup->finishJob(task);
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
    done.endStatus = endStatusFor(task, result);
    if (!result.endLineSeen && !result.stopped)
        processMessage(result.error, LogOption::Window | LogOption::RunLog, this);
    m_runner.reset();
    if (m_backup)
        m_backup->finishJob(done);
    if (!m_tasks.empty() && !m_userStopped) {
        run();
        if (m_runner)
            return;
    }
    if (!m_runner && m_tasks.empty()) {
        if (onRunEnded)
            onRunEnded();
        // The archive queue goes on with its next project once this end has unwound.
        runOnMain([] { IArchiveContainer::shared().processNext(); });
    }
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
        answer = UiPrompts::shared().askProjectPassword(request);
        if (!answer.ok || answer.password.isEmpty())
            return QString();
    } else {
        request.type = 1;
        request.digest = stored;
        request.canChangePassword = true;
        request.incrementalBackup = b->backupMethod() == BackupMethodIncremental;
        answer = UiPrompts::shared().askProjectPassword(request);
        if (!answer.ok)
            return QString();
        if (answer.password.isEmpty()) {
            // The user chose to change the password: a new one, and every item starts afresh.
            UiPrompts::ProjectPasswordRequest again = request;
            again.type = 2;
            again.digest.reset();
            answer = UiPrompts::shared().askProjectPassword(again);
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
    const UiPrompts::ProjectPasswordAnswer answer = UiPrompts::shared().askProjectPassword(request);
    if (!answer.ok || answer.password.isEmpty())
        return QString();
    syncKeychainBox(answer.passwordInKeychain);
    if (!b->passwordDigest().isEmpty() && !b->passwordDigest().correspondsToPassword(answer.password))
        return QString();
    return answer.password;
}
