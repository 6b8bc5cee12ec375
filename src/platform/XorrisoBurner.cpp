#include "platform/XorrisoBurner.h"

#include "platform/BurnDrives.h"
#include "platform/MainThread.h"
#include "platform/NameCodec.h"
#include "platform/Subprocess.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QPointer>
#include <QRegularExpression>
#include <algorithm>
#include <atomic>
#include <ftw.h>
#include <mutex>
#include <sys/stat.h>

namespace {

constexpr const char* kXorriso = "/usr/bin/xorriso";

QString tr(const char* text)
{
    return QCoreApplication::translate("Localizable", text);
}

thread_local qint64 t_payload = 0;

int addSize(const char*, const struct stat* st, int type, struct FTW*)
{
    if (type == FTW_F && S_ISREG(st->st_mode))
        t_payload += st->st_size;
    return 0;
}

// "<label> : Ns" of xorriso's report, in sectors; -1 when absent.
qint64 sectorsOfLine(const QByteArray& output, const QString& label)
{
    const QRegularExpression re(QStringLiteral("^%1\\s*:\\s*(\\d+)s\\s*$").arg(QRegularExpression::escape(label)),
        QRegularExpression::MultilineOption);
    const QRegularExpressionMatch m = re.match(QString::fromUtf8(output));
    return m.hasMatch() ? m.captured(1).toLongLong() : -1;
}

QString megabytes(qint64 bytes)
{
    return QString::number(double(bytes) / 1e6, 'f', 1);
}

} // namespace

XorrisoBurner::XorrisoBurner(const QString& drive)
    : m_drive(drive.isEmpty() ? BurnDrives::list().value(0) : drive)
{ }

XorrisoBurner::~XorrisoBurner() = default;

void XorrisoBurner::addFile(const QString& source, const QString& discPath)
{
    m_files.emplace_back(source, discPath);
}

qint64 XorrisoBurner::parseMediaSpace(const QByteArray& output)
{
    return sectorsOfLine(output, QStringLiteral("Media space"));
}

qint64 XorrisoBurner::parseImageSize(const QByteArray& output)
{
    return sectorsOfLine(output, QStringLiteral("Image size"));
}

XorrisoBurner::Media XorrisoBurner::parseMedia(const QByteArray& output)
{
    Media media;
    static const QRegularExpression current(
        QStringLiteral("^Media current:\\s*(.*?)\\s*$"), QRegularExpression::MultilineOption);
    static const QRegularExpression status(
        QStringLiteral("^Media status :\\s*(.*?)\\s*$"), QRegularExpression::MultilineOption);
    const QString text = QString::fromUtf8(output);
    if (const QRegularExpressionMatch m = current.match(text); m.hasMatch()) {
        media.profile = m.captured(1);
        // "stdio file, overwriteable": the profile is the part before the comma.
        if (media.profile.startsWith(QLatin1String("stdio file")))
            media.profile = QStringLiteral("stdio file");
    }
    if (const QRegularExpressionMatch m = status.match(text); m.hasMatch())
        media.status = m.captured(1);
    const qint64 sectors = parseMediaSpace(output);
    media.freeBytes = sectors < 0 ? -1 : sectors * 2048;
    static const QRegularExpression blocks(
        QStringLiteral("^Media blocks :.*,\\s*(\\d+)\\s+overall\\s*$"), QRegularExpression::MultilineOption);
    if (const QRegularExpressionMatch m = blocks.match(text); m.hasMatch())
        media.overallBytes = m.captured(1).toLongLong() * 2048;
    media.read = !media.profile.isEmpty() && !media.status.isEmpty() && media.freeBytes >= 0;
    return media;
}

double XorrisoBurner::parseProgress(const QString& line)
{
    static const QRegularExpression re(QStringLiteral("UPDATE : Writing:\\s+\\d+s\\s+([0-9.]+)%"));
    const QRegularExpressionMatch m = re.match(line);
    return m.hasMatch() ? m.captured(1).toDouble() : -1.0;
}

QString XorrisoBurner::parseFailure(const QString& line)
{
    static const QRegularExpression re(QStringLiteral("^(?:[^:]*: )?(?:FAILURE|SORRY|FATAL) : (.*)$"));
    const QRegularExpressionMatch m = re.match(line);
    return m.hasMatch() ? m.captured(1).trimmed() : QString();
}

bool XorrisoBurner::Media::isRewritable() const
{
    return profile.contains(QLatin1String("RW")) || profile == QLatin1String("BD-RE")
        || profile == QLatin1String("stdio file");
}

bool XorrisoBurner::Media::isOverwriteable() const
{
    return profile == QLatin1String("stdio file") || profile.startsWith(QLatin1String("DVD+RW"))
        || profile == QLatin1String("DVD-RW restricted overwrite") || profile == QLatin1String("BD-RE");
}

qint64 XorrisoBurner::Media::writableBytes(bool blankFirst) const
{
    if (!blankFirst || !holdsData() || !isRewritable() || overallBytes <= 0)
        return freeBytes;
    // What -tell_media_space reports of the same medium blank: on overwriteable media the
    // image starts after a head of 32 blocks (a blank 5 MiB loop device: 2560 blocks overall,
    // 2528 free).
    const qint64 capacity = overallBytes - (isOverwriteable() ? qint64(32) * 2048 : 0);
    return std::max(capacity, freeBytes);
}

bool XorrisoBurner::isSuitable(const Media& media, bool configuredDrive)
{
    static const QStringList writable { QStringLiteral("CD-R"), QStringLiteral("CD-RW"),
        QStringLiteral("DVD-R sequential recording"), QStringLiteral("DVD-RW sequential recording"),
        QStringLiteral("DVD-RW restricted overwrite"), QStringLiteral("DVD-R/DL sequential recording"),
        QStringLiteral("DVD+R"), QStringLiteral("DVD+RW"), QStringLiteral("DVD+R/DL"), QStringLiteral("DVD+RW/DL"),
        QStringLiteral("BD-R sequential recording"), QStringLiteral("BD-R random recording"),
        QStringLiteral("BD-RE") };
    if (!media.read || media.isClosed())
        return false;
    if (media.profile == QLatin1String("stdio file"))
        return configuredDrive;
    return writable.contains(media.profile);
}

std::optional<qint64> XorrisoBurner::mediaFreeBytes(QString* error) const
{
    const Media media = readMedia();
    if (!media.read) {
        if (error)
            *error = media.error;
        return std::nullopt;
    }
    return media.freeBytes;
}

XorrisoBurner::Media XorrisoBurner::readMedia() const
{
    Subprocess::Options o;
    o.program = QString::fromLatin1(kXorriso);
    // The free space is told only for an output drive.
    o.arguments = { QStringLiteral("-outdev"), m_drive, QStringLiteral("-toc"), QStringLiteral("-tell_media_space") };
    o.mergeStderr = true;
    const Subprocess::Result r = Subprocess::run(o, 120000);
    Media media = parseMedia(r.out);
    if (!r.succeeded() || !media.read) {
        media.read = false;
        QString why = QString::fromUtf8(r.out).trimmed();
        const qsizetype at = why.lastIndexOf(QLatin1Char('\n'));
        why = r.started ? why.mid(at + 1) : r.error;
        media.error = tr("The disc in \"%1\" cannot be read: %2").arg(m_drive, why);
    }
    return media;
}

QStringList XorrisoBurner::driveArguments() const
{
    QStringList a { m_mode.append ? QStringLiteral("-dev") : QStringLiteral("-outdev"), m_drive };
    if (m_mode.blank && !m_mode.append)
        a << QStringLiteral("-blank") << QStringLiteral("as_needed");
    return a;
}

QStringList XorrisoBurner::imageArguments(const std::vector<std::pair<QString, QString>>& files) const
{
    QStringList a { QStringLiteral("-volid"), m_mode.volumeId, QStringLiteral("-joliet"), QStringLiteral("on"),
        QStringLiteral("-rockridge"), QStringLiteral("on") };
    if (m_mode.close)
        a << QStringLiteral("-close") << (*m_mode.close ? QStringLiteral("on") : QStringLiteral("off"));
    for (const auto& f : files)
        a << QStringLiteral("-map") << f.first << f.second;
    return a;
}

std::optional<qint64> XorrisoBurner::measureImageBytes(
    const std::vector<std::pair<QString, QString>>& files, QString* error) const
{
    Subprocess::Options o;
    o.program = QString::fromLatin1(kXorriso);
    // A new session is measured on the disc it extends; a fresh image needs no drive (a disc
    // that is blanked first must not be blanked by the measuring run).
    o.arguments = QStringList { QStringLiteral("-abort_on"), QStringLiteral("FAILURE") }
        + (m_mode.append ? QStringList { QStringLiteral("-dev"), m_drive }
                         : QStringList { QStringLiteral("-outdev"), QStringLiteral("stdio:/dev/null") })
        + imageArguments(files) + QStringList { QStringLiteral("-print_size"), QStringLiteral("-rollback_end") };
    o.mergeStderr = true;
    const Subprocess::Result r = Subprocess::run(o, 600000);
    const qint64 sectors = parseImageSize(r.out);
    if (!r.succeeded() || sectors < 0) {
        if (error) {
            QString why;
            for (const QByteArray& line : r.out.split('\n'))
                if (const QString f = parseFailure(NameCodec::decode(line)); !f.isEmpty())
                    why = f;
            *error = tr("The size of the disc image cannot be measured: %1").arg(why.isEmpty() ? r.error : why);
        }
        return std::nullopt;
    }
    return sectors * 2048;
}

qint64 XorrisoBurner::payloadBytes() const
{
    t_payload = 0;
    for (const auto& f : m_files)
        ::nftw(NameCodec::encode(f.first).constData(), addSize, 16, FTW_PHYS);
    return t_payload;
}

QStringList XorrisoBurner::burnArguments() const
{
    QStringList a { QString::fromLatin1(kXorriso), QStringLiteral("-abort_on"), QStringLiteral("FAILURE") };
    a += driveArguments();
    a += imageArguments(m_files);
    a << QStringLiteral("-commit");
    if (m_mode.eject)
        a << QStringLiteral("-eject") << QStringLiteral("all");
    return a;
}

bool XorrisoBurner::burn(QString* message)
{
    auto fail = [message](const QString& text) {
        if (message)
            *message = text;
        return false;
    };
    m_stopped = false;
    if (m_files.empty())
        return fail(tr("There is nothing to burn"));
    if (m_drive.isEmpty())
        return fail(tr("No disc burner was found"));
    QString error;
    const Media media = readMedia();
    if (!media.read)
        return fail(media.error);
    // A disc that is blanked first offers its whole capacity, not the space after its content.
    const qint64 space = media.writableBytes(m_mode.blank && !m_mode.append);
    const std::optional<qint64> needed = measureImageBytes(m_files, &error);
    if (!needed)
        return fail(error);
    if (*needed > space)
        return fail(tr("The archives (%1 MB) do not fit on the disc in \"%2\" (%3 MB free)")
                        .arg(megabytes(*needed), m_drive, megabytes(space)));

    const QStringList argv = burnArguments();
    Subprocess::Options o;
    o.program = argv.first();
    o.arguments = argv.mid(1);
    o.mergeStderr = true;
    m_process = std::make_unique<Subprocess>();
    // Lines are cut on the reader thread and handed to the main thread in order.
    auto pending = std::make_shared<QByteArray>();
    auto completed = std::make_shared<std::atomic<bool>>(false);
    auto lastFailure = std::make_shared<QString>();
    auto failureMutex = std::make_shared<std::mutex>();
    auto deliver = [this, completed, lastFailure, failureMutex](const QByteArray& line) {
        const QString text = NameCodec::decode(line);
        if (text.contains(QLatin1String("completed successfully")))
            *completed = true;
        if (const QString f = parseFailure(text); !f.isEmpty()) {
            std::lock_guard<std::mutex> lock(*failureMutex);
            *lastFailure = f;
        }
        runOnMain([self = this, text] {
            if (self->onLine)
                self->onLine(text);
        });
    };
    m_process->setStdoutHandler([pending, deliver](const char* data, size_t size) {
        pending->append(data, qsizetype(size));
        qsizetype at;
        while ((at = pending->indexOf('\n')) >= 0) {
            deliver(pending->left(at));
            pending->remove(0, at + 1);
        }
    });
    m_process->setStdoutEndHandler([pending, deliver] {
        if (!pending->isEmpty())
            deliver(*pending);
        pending->clear();
    });
    QString startError;
    if (!m_process->start(o, &startError))
        return fail(tr("xorriso cannot be started: %1").arg(startError));
    m_pgid = m_process->processGroup();
    if (onStarted)
        onStarted(m_process->processGroup(), argv);

    if (QCoreApplication::instance() && isMainThread()) {
        // The caller's loop runs on (a stop can come in) like in a modal panel.
        ModalDepthGuard modal;
        QEventLoop loop;
        std::atomic<bool> done { false };
        std::thread waiter([this, &loop, &done] {
            m_process->waitForFinished();
            done = true;
            QMetaObject::invokeMethod(&loop, "quit", Qt::QueuedConnection);
        });
        if (!done)
            loop.exec();
        waiter.join();
        // Lines posted before the end are delivered before the answer.
        QCoreApplication::sendPostedEvents();
    } else {
        m_process->waitForFinished();
    }
    const int code = m_process->exitCode();
    const int signal = m_process->exitSignal();
    m_process.reset();
    m_pgid = 0;
    QString failure;
    {
        std::lock_guard<std::mutex> lock(*failureMutex);
        failure = *lastFailure;
    }
    if (m_stopped)
        return fail(tr("The burn was stopped"));
    if (signal != 0)
        return fail(tr("xorriso was ended by signal %1").arg(signal));
    if (code != 0)
        return fail(failure.isEmpty() ? tr("xorriso failed with exit status %1").arg(code) : failure);
    if (!*completed)
        return fail(tr("xorriso did not report a completed write"));
    if (message)
        message->clear();
    return true;
}

void XorrisoBurner::stop()
{
    m_stopped = true;
    if (m_process)
        m_process->terminate();
}
