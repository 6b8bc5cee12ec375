#include "platform/XorrisoBurner.h"

#include "platform/MainThread.h"
#include "platform/NameCodec.h"
#include "platform/Subprocess.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QPointer>
#include <QRegularExpression>
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

QString megabytes(qint64 bytes)
{
    return QString::number(double(bytes) / 1e6, 'f', 1);
}

} // namespace

XorrisoBurner::XorrisoBurner(const QString& drive)
    : m_drive(drive)
{ }

XorrisoBurner::~XorrisoBurner() = default;

void XorrisoBurner::addFile(const QString& source, const QString& discPath)
{
    m_files.emplace_back(source, discPath);
}

qint64 XorrisoBurner::parseMediaSpace(const QByteArray& output)
{
    static const QRegularExpression re(
        QStringLiteral("^Media space\\s*:\\s*(\\d+)s\\s*$"), QRegularExpression::MultilineOption);
    const QRegularExpressionMatch m = re.match(QString::fromUtf8(output));
    return m.hasMatch() ? m.captured(1).toLongLong() : -1;
}

std::optional<qint64> XorrisoBurner::mediaFreeBytes(QString* error) const
{
    Subprocess::Options o;
    o.program = QString::fromLatin1(kXorriso);
    // The free space is told only for an output drive.
    o.arguments = { QStringLiteral("-outdev"), m_drive, QStringLiteral("-tell_media_space") };
    o.mergeStderr = true;
    const Subprocess::Result r = Subprocess::run(o, 120000);
    const qint64 sectors = parseMediaSpace(r.out);
    if (!r.succeeded() || sectors < 0) {
        if (error) {
            QString why = QString::fromUtf8(r.out).trimmed();
            const qsizetype at = why.lastIndexOf(QLatin1Char('\n'));
            why = r.started ? why.mid(at + 1) : r.error;
            *error = tr("The free space of the disc in \"%1\" cannot be read: %2").arg(m_drive, why);
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
    QStringList a { QString::fromLatin1(kXorriso), QStringLiteral("-abort_on"), QStringLiteral("FAILURE"),
        QStringLiteral("-outdev"), m_drive, QStringLiteral("-volid"), QString::fromLatin1(kVolumeId),
        QStringLiteral("-joliet"), QStringLiteral("on"), QStringLiteral("-rockridge"), QStringLiteral("on") };
    for (const auto& f : m_files)
        a << QStringLiteral("-map") << f.first << f.second;
    a << QStringLiteral("-commit");
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
    QString error;
    const std::optional<qint64> space = mediaFreeBytes(&error);
    if (!space)
        return fail(error);
    const qint64 payload = payloadBytes();
    // The file system's own tables take some room besides the files.
    const qint64 needed = payload + payload / 50 + 1024 * 1024;
    if (needed > *space)
        return fail(tr("The archives (%1 MB) do not fit on the disc in \"%2\" (%3 MB free)")
                        .arg(megabytes(payload), m_drive, megabytes(*space)));

    const QStringList argv = burnArguments();
    Subprocess::Options o;
    o.program = argv.first();
    o.arguments = argv.mid(1);
    o.mergeStderr = true;
    m_process = std::make_unique<Subprocess>();
    // Lines are cut on the reader thread and handed to the main thread in order.
    auto pending = std::make_shared<QByteArray>();
    auto deliver = [this](const QByteArray& line) {
        const QString text = NameCodec::decode(line);
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
    if (m_stopped)
        return fail(tr("The burn was stopped"));
    if (signal != 0)
        return fail(tr("xorriso was ended by signal %1").arg(signal));
    if (code != 0)
        return fail(tr("xorriso failed with exit status %1").arg(code));
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
