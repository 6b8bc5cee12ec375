#include "IFileCopier.h"

#include "platform/AppPaths.h"
#include "platform/MainThread.h"
#include "platform/NameCodec.h"
#include "platform/Subprocess.h"
#include "utilities/IDiskUtil.h"
#include "utilities/UiPrompts.h"

#include <QCoreApplication>
#include <QDebug>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QRegularExpression>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString tr(const char* text)
{
    return QCoreApplication::translate("Localizable", text);
}

bool lstatPath(const QString& path, struct stat* st)
{
    return ::lstat(NameCodec::encodeStd(path).c_str(), st) == 0;
}

// Sums over a tree without following links; names stay bytes all the way.
quint64 sizeOfTree(const std::string& path, bool allocated)
{
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0)
        return 0;
    if (!S_ISDIR(st.st_mode))
        return S_ISREG(st.st_mode) ? (allocated ? quint64(st.st_blocks) * 512 : quint64(st.st_size)) : 0;
    quint64 total = 0;
    DIR* dir = ::opendir(path.c_str());
    if (!dir)
        return 0;
    while (dirent* e = ::readdir(dir)) {
        if (!std::strcmp(e->d_name, ".") || !std::strcmp(e->d_name, ".."))
            continue;
        total += sizeOfTree(path + '/' + e->d_name, allocated);
    }
    ::closedir(dir);
    return total;
}

} // namespace

namespace {
IFileCopierWindow* g_window = nullptr;
}

IFileCopierWindow* IFileCopierWindow::shared()
{
    return g_window;
}

void IFileCopierWindow::setShared(IFileCopierWindow* window)
{
    g_window = window;
}

IFileCopier::IFileCopier() = default;

bool IFileCopier::copyFilesWithSources(const QStringList& sources, const QList<quint64>& sizes,
    const QStringList& targets, const QString& title, const QString& prompt, QString* comment)
{
    Q_UNUSED(sizes);
    auto fail = [&](const QString& why) {
        if (comment)
            *comment = why;
        return false;
    };
    if (sources.isEmpty() || targets.isEmpty() || sources.size() != targets.size())
        return fail(tr("Nothing to copy: the sources and targets do not pair up."));
    if (toolPath().isEmpty())
        return fail(tr("The copying tool was not found."));
    const QString source = sources.first();
    const QString target = targets.first();
    if (!isSpaceForSource(source, target)) {
        const QString why = tr("There is not enough free space for \"%1\" at \"%2\".").arg(source, target);
        UiPrompts::Alert alert;
        alert.style = UiPrompts::AlertStyle::Critical;
        alert.title = tr("Not enough free space");
        alert.text = why;
        alert.buttons = { tr("OK") };
        UiPrompts::shared().showAlert(alert);
        return fail(why);
    }
    if (IFileCopierWindow* window = IFileCopierWindow::shared()) {
        if (window->copyInWindow(source, target, title, prompt))
            return true;
        return fail(tr("The copy did not finish."));
    }
    IFileCopier copier;
    return copier.copy(source, target, comment);
}

IFileCopier::~IFileCopier()
{
    stop();
}

QString IFileCopier::toolPath()
{
    const QString path = AppPaths::resourcePath(QStringLiteral("rsync3"));
    return ::access(NameCodec::encodeStd(path).c_str(), X_OK) == 0 ? path : QString();
}

QStringList IFileCopier::arguments(const QString& source, const QString& target)
{
    QString src = source;
    struct stat st;
    if (lstatPath(source, &st) && S_ISDIR(st.st_mode) && !src.endsWith(QLatin1Char('/')))
        src += QLatin1Char('/');
    // No --iconv: rsync would skip names that are not UTF-8. Without incremental recursion every
    // progress line carries "to-chk=" with the final total from the first line on.
    return { QStringLiteral("-W"), QStringLiteral("-a"), QStringLiteral("-S"),
        QStringLiteral("--no-inc-recursive"), QStringLiteral("--progress"), QStringLiteral("-v"), src,
        target };
}

quint64 IFileCopier::fastSizeOfFile(const QString& path)
{
    return sizeOfTree(NameCodec::encodeStd(path), false);
}

quint64 IFileCopier::allocatedSizeOfFile(const QString& path)
{
    return sizeOfTree(NameCodec::encodeStd(path), true);
}

bool IFileCopier::isSpaceForSource(const QString& source, const QString& target)
{
    const qsizetype slash = target.lastIndexOf(QLatin1Char('/'));
    const QString folder = slash > 0 ? target.left(slash) : QStringLiteral("/");
    return double(IDiskUtil::availableSpaceOnVolume(folder)) > double(allocatedSizeOfFile(source)) * 1.1;
}

bool IFileCopier::renameOldVersionsOfSource(const QString&, const QString& target, QString* comment)
{
    struct stat st;
    if (!lstatPath(target, &st))
        return true;
    const qsizetype slash = target.lastIndexOf(QLatin1Char('/'));
    const QString folder = slash >= 0 ? target.left(slash) : QStringLiteral(".");
    const QString name = target.mid(slash + 1);
    const std::string from = NameCodec::encodeStd(target);
    // The aside name is claimed by the rename itself, so nothing that appears meanwhile is
    // replaced; a taken name moves on to the next one.
    for (int attempt = 0; attempt < 1000; ++attempt) {
        const QString aside = folder + QLatin1Char('/') + savedNameForFile(name, folder);
        const std::string to = NameCodec::encodeStd(aside);
        if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
            return true;
        if (errno == EEXIST)
            continue;
        if (errno == EINVAL) {
            // file systems without the flag (FUSE): check, then rename
            qInfo().noquote() << "No exclusive rename on this file system; moving aside with a check first:"
                              << target;
            if (!lstatPath(aside, &st) && ::rename(from.c_str(), to.c_str()) == 0)
                return true;
            if (errno == 0)
                errno = EEXIST;
        }
        break;
    }
    if (comment)
        *comment = tr("\"%1\" could not be moved aside: %2")
                       .arg(target, QString::fromLocal8Bit(std::strerror(errno)));
    return false;
}

QString IFileCopier::savedNameForFile(const QString& name, const QString& folderPath)
{
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    const QString base = dot > 0 ? name.left(dot) : name;
    const QString ext = dot > 0 ? name.mid(dot + 1) : QString();
    auto taken = [&](const QString& candidate) {
        struct stat st;
        return lstatPath(folderPath + QLatin1Char('/') + candidate, &st);
    };
    QString candidate = base + QStringLiteral(".qv_saved.") + ext;
    for (long n = 1; taken(candidate); ++n)
        candidate = base + QStringLiteral(".qv_saved-") + QString::number(n) + QLatin1Char('.') + ext;
    return candidate;
}

double IFileCopier::progressOfLine(const QString& line, bool* isFileLine)
{
    if (isFileLine)
        *isFileLine = false;
    const QStringList f = line.split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
    if (f.size() >= 6) {
        static const QRegularExpression xfr(QStringLiteral("^\\(xfr#(\\d+),$"));
        static const QRegularExpression chk(
            QStringLiteral("^to-chk=(\\d+(?:\\.\\d+)?)/(\\d+(?:\\.\\d+)?)\\)$"));
        const auto n = xfr.match(f.at(4));
        const auto rt = chk.match(f.at(5));
        if (n.hasMatch() && rt.hasMatch()) {
            const double r = rt.captured(1).toDouble();
            const double t = rt.captured(2).toDouble();
            if (n.captured(1).toULong() != 0 && r != 0 && t != 0)
                return 100.0 / t * (t - r);
            return -1;
        }
    }
    if (f.size() >= 4 && f.at(2).endsWith(QLatin1String("/s")) && f.at(3).size() >= 3
        && f.at(3).at(f.at(3).size() - 3) == QLatin1Char(':'))
        return -1; // an intermediate progress line
    if (isFileLine)
        *isFileLine = !line.trimmed().isEmpty();
    return -1;
}

void IFileCopier::consume(const char* data, size_t size)
{
    m_partial.append(data, qsizetype(size));
    qsizetype start = 0;
    for (qsizetype i = 0; i < m_partial.size(); ++i) {
        const char c = m_partial.at(i);
        if (c != '\r' && c != '\n')
            continue;
        const QString line = NameCodec::decode(m_partial.mid(start, i - start));
        start = i + 1;
        bool fileLine = false;
        const double percent = progressOfLine(line, &fileLine);
        if (m_progress && (percent >= 0 || fileLine))
            m_progress(percent, fileLine ? line : QString());
    }
    m_partial.remove(0, start);
}

void IFileCopier::stop()
{
    m_stopped = true;
    std::lock_guard<std::mutex> lock(m_mutex);
    // SIGTERM lets rsync remove its temporary file; copy() sends SIGKILL when it lingers.
    if (m_process)
        m_process->terminate();
}

bool IFileCopier::copy(const QString& source, const QString& target, QString* comment)
{
    auto fail = [&](const QString& why) {
        if (comment)
            *comment = why;
        return false;
    };
    if (m_stopped)
        return fail(tr("The copy was stopped."));
    // To rsync a name with ":" before its first "/" names another host.
    if (!source.startsWith(QLatin1Char('/')) || !target.startsWith(QLatin1Char('/')))
        return fail(tr("The copy needs full paths."));
    const QString tool = toolPath();
    if (tool.isEmpty())
        return fail(tr("The copying tool was not found."));
    QString why;
    if (!renameOldVersionsOfSource(source, target, &why))
        return fail(why);

    Subprocess process;
    QByteArray errors; // the last part of what rsync said on stderr, for the comment
    std::mutex errorsMutex;
    process.setStdoutHandler([this](const char* data, size_t size) { consume(data, size); });
    process.setStderrHandler([&](const char* data, size_t size) {
        std::lock_guard<std::mutex> lock(errorsMutex);
        errors.append(data, qsizetype(size));
        if (errors.size() > 8192)
            errors.remove(0, errors.size() - 8192);
    });
    Subprocess::Options options;
    options.program = tool;
    options.arguments = arguments(source, target);
    if (!process.start(options, &why))
        return fail(why);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_process = &process;
    }
    if (m_stopped)
        process.terminate();
    {
        ModalDepthGuard modal;
        QElapsedTimer sinceStop;
        while (!process.waitForFinished(100)) {
            if (m_stopped && !sinceStop.isValid())
                sinceStop.start();
            if (sinceStop.isValid() && sinceStop.elapsed() > kStopGraceMs)
                process.kill();
            if (isMainThread())
                QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        }
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_process = nullptr;
    }
    if (m_stopped)
        return fail(tr("The copy was stopped."));
    if (!process.exitedNormally() || process.exitCode() != 0) {
        QString said;
        {
            std::lock_guard<std::mutex> lock(errorsMutex);
            said = NameCodec::decode(errors).trimmed();
        }
        // the last lines: the error and rsync's summary of it
        QStringList lines = said.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        if (lines.size() > 4)
            lines = lines.mid(lines.size() - 4);
        said = lines.join(QLatin1Char('\n')).trimmed();
        return fail(process.exitedNormally()
                ? tr("The copying tool failed (exit status %1): %2").arg(process.exitCode()).arg(said)
                : tr("The copying tool was ended by signal %1.").arg(process.exitSignal()));
    }
    return true;
}
