#include "archive/DiscBurnFlow.h"

#include "archive/CBackupContainer.h"
#include "platform/BurnDrives.h"
#include "platform/Clock.h"
#include "platform/MainThread.h"
#include "platform/NameCodec.h"
#include "utilities/IShellServices.h"
#include "utilities/LogOptions.h"
#include "utilities/UiPrompts.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <algorithm>
#include <dirent.h>
#include <sys/stat.h>

namespace {

qint64 fileBytes(const QString& path)
{
    struct stat st = {};
    return ::lstat(NameCodec::encode(path).constData(), &st) == 0 && S_ISREG(st.st_mode) ? qint64(st.st_size) : 0;
}

bool isProjectFile(const QString& path)
{
    return path.endsWith(QLatin1String(".bif")) || path.endsWith(QLatin1String(".bifx"));
}

// The files under a folder, sorted by name, links not followed.
void addTree(const QString& source, const QString& onDisc, std::vector<DiscBurnFlow::Entry>& out)
{
    struct stat st = {};
    if (::lstat(NameCodec::encode(source).constData(), &st) != 0)
        return;
    if (!S_ISDIR(st.st_mode)) {
        out.emplace_back(source, onDisc);
        return;
    }
    std::vector<QByteArray> names;
    if (DIR* dir = ::opendir(NameCodec::encode(source).constData())) {
        while (dirent* e = ::readdir(dir)) {
            const QByteArray name(e->d_name);
            if (name != "." && name != "..")
                names.push_back(name);
        }
        ::closedir(dir);
    }
    std::sort(names.begin(), names.end());
    for (const QByteArray& name : names) {
        const QString n = NameCodec::decode(name);
        addTree(source + QLatin1Char('/') + n, onDisc + QLatin1Char('/') + n, out);
    }
}

const QString kRetryTitle = QStringLiteral("The burn to the last media failed!");

} // namespace

DiscBurnFlow::DiscBurnFlow(QObject* parent)
    : QObject(parent)
    , m_factory([](const QString& drive) { return std::make_unique<XorrisoBurner>(drive); })
{ }

DiscBurnFlow::~DiscBurnFlow() = default;

std::vector<DiscBurnFlow::Entry> DiscBurnFlow::flatten(const std::vector<Entry>& rootFolder)
{
    std::vector<Entry> files;
    for (const Entry& e : rootFolder)
        addTree(e.first, e.second, files);
    std::stable_partition(files.begin(), files.end(), [](const Entry& e) { return isProjectFile(e.first); });
    return files;
}

QString DiscBurnFlow::mediaText(const XorrisoBurner::Media& media)
{
    if (!media.read)
        return media.error.isEmpty() ? tr("No disc") : media.error;
    if (blanksFirst(media))
        return tr("%1: %2, erased before the burn: %3 MB free")
            .arg(media.profile, media.status, QString::number(double(media.writableBytes(true)) / 1e6, 'f', 1));
    return tr("%1: %2, %3 MB free")
        .arg(media.profile, media.status, QString::number(double(media.freeBytes) / 1e6, 'f', 1));
}

bool DiscBurnFlow::blanksFirst(const XorrisoBurner::Media& media)
{
    return media.holdsData() && media.isRewritable();
}

QStringList DiscBurnFlow::drives() const
{
    return m_drives.isEmpty() ? BurnDrives::list() : m_drives;
}

QStringList DiscBurnFlow::leftArchives() const
{
    QStringList names;
    for (const Entry& e : m_root)
        names << e.second.mid(e.second.startsWith(QLatin1Char('/')) ? 1 : 0);
    return names;
}

DiscBurnFlow::Packing DiscBurnFlow::buildBurnCDFolder(qint64 freeBytes, const XorrisoBurner& burner, QString* error)
{
    const qint64 limit = freeBytes - 4096;
    qint64 total = 0;
    size_t taken = 0;
    while (taken < m_root.size()) {
        const qint64 size = fileBytes(m_root[taken].first);
        if (total + size >= limit)
            break;
        total += size;
        ++taken;
    }
    m_disc.assign(m_root.begin(), m_root.begin() + qsizetype(taken));
    m_root.erase(m_root.begin(), m_root.begin() + qsizetype(taken));
    // The image's own tables and padding take room too: measure and move files back, last
    // first, until the image fits the medium.
    while (!m_disc.empty()) {
        const std::optional<qint64> image = burner.measureImageBytes(m_disc, error);
        if (!image) {
            m_root.insert(m_root.begin(), m_disc.begin(), m_disc.end());
            m_disc.clear();
            return Packing::Failed;
        }
        if (*image <= freeBytes)
            return Packing::Packed;
        m_root.insert(m_root.begin(), m_disc.back());
        m_disc.pop_back();
    }
    return m_root.empty() ? Packing::Packed : Packing::TooLarge;
}

bool DiscBurnFlow::burnOne(int disc, XorrisoBurner& burner, QString* message)
{
    for (const Entry& e : m_disc)
        burner.addFile(e.first, e.second);
    qint64 bytes = 0;
    for (const Entry& e : m_disc)
        bytes += fileBytes(e.first);
    Q_EMIT discStarted(disc, burner.drive(), int(m_disc.size()), bytes);
    IShellServices::shared().sendTextInfo(tr("Burning..."), 1, quint8(tpStatus | tpLog | tpTime), nullptr);
    burner.onLine = [this](const QString& line) {
        Q_EMIT lineReceived(line);
        const double percent = XorrisoBurner::parseProgress(line);
        if (percent >= 0)
            Q_EMIT progressChanged(percent);
    };
    burner.onStarted = [this](qint64 pgid, const QStringList& argv) {
        if (!m_span.isValid())
            m_span.start();
        Q_EMIT burnerStarted(pgid, argv);
    };
    m_active = &burner;
    const bool burnt = !m_cancelled && burner.burn(message);
    m_active = nullptr;
    if (m_span.isValid())
        m_burnSeconds = double(m_span.elapsed()) / 1000.0;
    if (m_cancelled && message && message->isEmpty())
        *message = tr("The burn was stopped");
    const QString text = burnt ? tr("Burning succeeded") : tr("Burning failed: %1").arg(message ? *message : QString());
    IShellServices::shared().sendTextInfo(text, 1, quint8(tpStatus | tpLog | tpTime | tpMessage), nullptr);
    if (burnt)
        Q_EMIT progressChanged(100.0);
    Q_EMIT discFinished(disc, burnt, text);
    return burnt;
}

bool DiscBurnFlow::burnDisc(const std::vector<Entry>& rootFolder)
{
    m_root = flatten(rootFolder);
    m_disc.clear();
    if (m_root.empty()) {
        // Nothing was handed over: no archive reached a disc, so this is no successful burn.
        IShellServices::shared().sendTextInfo(tr("Burning failed: %1").arg(tr("There is nothing to burn")), 1,
            quint8(tpStatus | tpLog | tpTime | tpMessage), nullptr);
        return false;
    }
    m_cancelled = false;
    m_burnSeconds = 0;
    m_span.invalidate();
    const QDate date = m_date.isValid() ? m_date : Clock::current().now().date();
    const QStringList configured = m_configured.isEmpty() ? drives() : m_configured;
    int written = 0; // discs burned so far
    bool retry = false;
    QString prompt;
    QString lastDrive;
    while ((!m_root.empty() || retry) && !m_cancelled) {
        UiPrompts::BurnSetupRequest request;
        request.discNumber = written + 1;
        request.drives = drives();
        request.prompt = prompt;
        request.appendable = m_appendable;
        request.selectedDrive = lastDrive;
        request.inspect = [this, &configured](const QString& drive) {
            const std::unique_ptr<XorrisoBurner> probe = m_factory(drive);
            const XorrisoBurner::Media media = probe->readMedia();
            UiPrompts::BurnMedia view;
            view.suitable = XorrisoBurner::isSuitable(media, configured.contains(drive));
            view.status = mediaText(media);
            if (!view.suitable && media.read)
                view.status += QStringLiteral(" - ") + tr("That is not a writable CD, DVD or BD!");
            return view;
        };
        UiPrompts::BurnSetupAnswer setup;
        {
            ModalDepthGuard modal;
            setup = UiPrompts::shared().askBurnSetup(request);
        }
        bool burnt = false;
        if (setup.ok) {
            m_appendable = setup.appendable;
            lastDrive = setup.drive;
            const std::unique_ptr<XorrisoBurner> burner = m_factory(setup.drive);
            const XorrisoBurner::Media media = burner->readMedia();
            if (!XorrisoBurner::isSuitable(media, configured.contains(setup.drive))) {
                // The panel stays, with the reason.
                prompt = tr("That is not a writable CD, DVD or BD!");
                continue;
            }
            prompt.clear();
            XorrisoBurner::WriteMode mode;
            mode.volumeId = QStringLiteral("Backup Disc %1").arg(date.toString(QStringLiteral("yyyy.MM.dd")));
            mode.close = !setup.appendable;
            // A write-once disc that takes another session keeps its content; a rewritable
            // one holding data is overwritten.
            mode.append = media.holdsData() && media.isAppendable() && !media.isRewritable();
            mode.blank = blanksFirst(media);
            // Blanking gives the whole capacity back: the archives are packed against it.
            const qint64 space = media.writableBytes(mode.blank);
            mode.eject = !burner->drive().startsWith(QLatin1String("stdio:"));
            burner->setWriteMode(mode);
            if (!retry) {
                QString error;
                const Packing packing = buildBurnCDFolder(space, *burner, &error);
                if (packing == Packing::TooLarge) {
                    UiPrompts::Alert alert;
                    alert.style = UiPrompts::AlertStyle::Critical;
                    alert.title = tr("There is a too large archive. The archive size is bigger than available "
                                     "disc space.");
                    alert.text = tr("Please make sure all archives have size limit under %1 bytes.")
                                     .arg(space - 4096);
                    alert.buttons = { tr("OK") };
                    ModalDepthGuard modal;
                    UiPrompts::shared().showAlert(alert);
                    break;
                }
                if (packing == Packing::Failed) {
                    // Without the image's size no disc can be packed: say why, burn nothing more.
                    const QString text = tr("Burning failed: %1").arg(error);
                    IShellServices::shared().sendTextInfo(
                        text, 1, quint8(tpStatus | tpLog | tpTime | tpMessage), nullptr);
                    UiPrompts::Alert alert;
                    alert.style = UiPrompts::AlertStyle::Critical;
                    alert.title = text;
                    alert.text = tr("The archives left were not burned.");
                    alert.buttons = { tr("OK") };
                    ModalDepthGuard modal;
                    UiPrompts::shared().showAlert(alert);
                    break;
                }
            }
            if (!m_disc.empty()) {
                QString why;
                burnt = burnOne(written + 1, *burner, &why);
                if (burnt) {
                    ++written;
                    m_disc.clear();
                    retry = false;
                    continue;
                }
            }
        }
        if (m_cancelled || (m_root.empty() && m_disc.empty()))
            break;
        UiPrompts::Alert alert;
        alert.style = UiPrompts::AlertStyle::Critical;
        alert.title = kRetryTitle;
        alert.text = tr("Would you like to try again with another media?");
        alert.buttons = { tr("Yes"), tr("No") };
        int answer;
        {
            ModalDepthGuard modal;
            answer = UiPrompts::shared().showAlert(alert);
        }
        if (answer != 0)
            break;
        // The same disc folder goes onto the next medium.
        retry = !m_disc.empty();
    }
    // What did not reach a disc goes back to the root folder, in disc order.
    m_root.insert(m_root.begin(), m_disc.begin(), m_disc.end());
    m_disc.clear();
    burnDidFinishClean();
    return m_root.empty();
}

void DiscBurnFlow::burnDidFinishClean()
{
    if (!m_root.empty())
        return;
    if (CBackupContainer* container = CBackupContainer::global())
        container->clearBurnBackups();
    IShellServices& shell = IShellServices::shared();
    shell.reloadContentViewData(shell.currentBackup());
    shell.eventChangedCurrentBackup();
    if (onFinishedClean)
        onFinishedClean();
}

void DiscBurnFlow::cancel()
{
    m_cancelled = true;
    if (m_active)
        m_active->stop();
}
