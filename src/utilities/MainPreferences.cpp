#include "MainPreferences.h"

#include "platform/AppPaths.h"
#include "platform/NameCodec.h"
#include "platform/PlistBridge.h"
#include "utilities/FileOps.h"
#include "utilities/IPathUtil.h"
#include "utilities/IShellServices.h"
#include "utilities/LogOptions.h"
#include "utilities/RootCommand.h"
#include "utilities/TempFolder.h"
#include "utilities/UiPrompts.h"

#include <QCoreApplication>
#include <QRegularExpression>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

std::unique_ptr<MainPreferences> g_shared;

QString tr(const char* text)
{
    return QCoreApplication::translate("Localizable", text);
}
void utilLog(const QString& text)
{
    IShellServices::shared().processMessage(LogText(text), LogWord::UtilLog, nullptr);
}
std::string bytes(const QString& path)
{
    return NameCodec::encodeStd(path);
}
QString errnoText(int err)
{
    return QString::fromLocal8Bit(std::strerror(err));
}

bool isFolder(const QString& path)
{
    struct stat st; // a link to a folder serves as the folder
    return !path.isEmpty() && ::stat(bytes(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool pathExists(const QString& path)
{
    return !path.isEmpty() && FileOps::exists(bytes(path));
}

// Creates one folder; true when it exists as a folder afterwards. *made says whether it was made.
bool makeFolder(const QString& path, mode_t mode, bool* made = nullptr)
{
    if (isFolder(path))
        return true;
    if (::mkdir(bytes(path).c_str(), mode) == 0) {
        if (made)
            *made = true;
        return true;
    }
    const int err = errno;
    if (pathExists(path))
        utilLog(tr("\"%1\" is not a folder; the workspace can not be used").arg(path));
    else
        utilLog(tr("The folder \"%1\" can not be created: %2").arg(path, errnoText(err)));
    return false;
}

// The scheduler state record used until the scheduler-state object is attached.
class PlainAgentState : public PrefsAgentState
{
public:
    int getInt() const override { return m_bits; }
    double modifyInterval() const override { return m_interval; }
    QDateTime scheduleResumeDate() const override { return m_resume; }
    void set(int bits, double interval, const QDateTime& resume) override
    {
        m_bits = bits;
        m_interval = interval < 0 ? 0 : interval;
        m_resume = resume;
    }
    void setOn(int bits) override
    {
        m_bits |= bits;
        if (m_bits & (1 | 4))
            m_bits |= 8;
    }
    void setOff(int bits) override
    {
        m_bits &= ~bits;
        if (!(m_bits & (1 | 4)))
            m_bits &= ~8;
        if (!(m_bits & 1))
            m_bits &= ~2;
        if (!(m_bits & 2))
            m_resume = QDateTime();
    }

private:
    int m_bits = 0;
    double m_interval = 0;
    QDateTime m_resume;
};

int boundedInt(qint64 v)
{
    return int(qBound<qint64>(qint64(INT_MIN), v, qint64(INT_MAX)));
}

QString bundlePath()
{
    const QString contents = AppPaths::contentsDir();
    return contents.left(contents.lastIndexOf(QLatin1Char('/')));
}

} // namespace

MainPreferences::MainPreferences()
    : m_ownAgentState(std::make_unique<PlainAgentState>())
{
    m_agentState = m_ownAgentState.get();
    // The defaults of the data model: the running tree and its version.
    m_appFullPath = bundlePath();
    updateAppVersion();
}

MainPreferences& MainPreferences::shared()
{
    if (!g_shared)
        g_shared.reset(new MainPreferences);
    return *g_shared;
}

void MainPreferences::resetShared()
{
    g_shared.reset();
    s_onlyErrorSendToSysNotification = false;
}

QString MainPreferences::prefsFilePath()
{
    return IPathUtil::currentWorkspacePath() + QLatin1Char('/') + QLatin1String(kPrefsFileName);
}

void MainPreferences::setAgentState(PrefsAgentState* state)
{
    m_agentState = state ? state : m_ownAgentState.get();
}

PrefsAgentState& MainPreferences::agentState()
{
    return *m_agentState;
}

QVariantMap MainPreferences::updatedDictionary(QVariantMap prefs)
{
    if (!m_appFullPath.isEmpty())
        prefs.insert(QStringLiteral("AppFullPath"), m_appFullPath);
    prefs.insert(QStringLiteral("LastWorkingVersionID"), QStringLiteral("QV3_NORMAL_PRO"));
    prefs.insert(QStringLiteral("GeneralPreferencesScheme"), qint64(2));
    if (!m_compactData.isNull())
        prefs.insert(QStringLiteral("GeneralPreferencesCompactData"), m_compactData);
    if (!m_appVersion.isEmpty())
        prefs.insert(QStringLiteral("AppVersion"), m_appVersion);
    QVariantMap agent;
    agent.insert(QStringLiteral("State"), qint64(m_agentState->getInt()));
    agent.insert(QStringLiteral("ModifyInterval"), m_agentState->modifyInterval());
    const QDateTime resume = m_agentState->scheduleResumeDate();
    if (resume.isValid())
        agent.insert(QStringLiteral("ScheduleResumeDate"), dateDescription(resume));
    prefs.insert(QStringLiteral("AgentState"), agent);
    prefs.insert(QStringLiteral("CollectLogs"), bool(m_collectLogs));
    prefs.insert(QStringLiteral("LogDetailsLevel"), qint64(m_logDetailsLevel));
    prefs.insert(QStringLiteral("KeepLogFilesCount"), qint64(m_keepLogFilesCount));
    prefs.remove(QStringLiteral("ViewFilesAsAdmin"));
    prefs.insert(QStringLiteral("AdminInfoSaveToKeychain"), m_adminInfoSaveToKeychain);
    prefs.insert(QStringLiteral("HideCloneWarning"), m_hideCloneWarning);
    prefs.insert(QStringLiteral("OnlyErrorSendToSysNotification"), bool(s_onlyErrorSendToSysNotification));
    prefs.insert(QStringLiteral("UseCustomTmpFolder"), m_useCustomTmpFolder);
    const QString tmp = getTmpFolderPath();
    if (!tmp.isEmpty())
        prefs.insert(QStringLiteral("CustomTmpFolder"), tmp);
    prefs.insert(QStringLiteral("CaptureExcludePatternRule"), qint64(m_captureExcludePatternRule));
    prefs.insert(QStringLiteral("CombineExcludePattern"), m_combineExcludePattern);
    prefs.insert(QStringLiteral("ResolveBundlesAsDir"), m_resolveBundlesAsDir);
    return prefs;
}

bool MainPreferences::savePreferences()
{
    checkCreateAppSupportPath();
    const QString path = prefsFilePath();
    const PlistBridge::ReadResult read = PlistBridge::readFile(path);
    QVariantMap prefs;
    switch (read.status) {
    case PlistBridge::ReadStatus::Ok:
        if (read.value.typeId() == QMetaType::QVariantMap) {
            prefs = read.map();
            break;
        }
        [[fallthrough]];
    case PlistBridge::ReadStatus::Corrupt: {
        // Never write over a file we could not read: keep it aside for the user.
        const QString aside = PlistBridge::keepAside(path);
        if (aside.isNull()) {
            utilLog(
                tr("The preferences file \"%1\" is damaged and can not be moved aside; it is left as it is")
                    .arg(path));
            return false;
        }
        utilLog(tr(
            "The preferences file \"%1\" is damaged; it was kept as \"%2\" and new preferences are written")
                    .arg(path, aside));
        break;
    }
    case PlistBridge::ReadStatus::Unreadable:
        utilLog(tr("The preferences file \"%1\" can not be read: %2").arg(path, read.error));
        return false;
    case PlistBridge::ReadStatus::Missing:
        break;
    }
    QString error;
    if (!PlistBridge::writeFileAtomically(path, updatedDictionary(prefs), &error)) {
        utilLog(tr("The preferences file \"%1\" can not be written: %2").arg(path, error));
        return false;
    }
    return true;
}

MainPreferences::FileRead MainPreferences::applyPreferencesFile()
{
    const QVariant prefId = AppPaths::infoPlistValue(QStringLiteral("Pref identifier"));
    if (prefId.typeId() != QMetaType::QString || prefId.toString().isEmpty())
        return FileRead::Skipped;
    const QString path = prefsFilePath();
    const PlistBridge::ReadResult read = PlistBridge::readFile(path);
    if (read.status == PlistBridge::ReadStatus::Ok && read.value.typeId() == QMetaType::QVariantMap) {
        applyLoaded(read.map());
        return FileRead::Applied;
    }
    if (read.status == PlistBridge::ReadStatus::Unreadable) {
        utilLog(tr("The preferences file \"%1\" can not be read: %2").arg(path, read.error));
        return FileRead::Skipped;
    }
    return FileRead::MissingOrDamaged;
}

bool MainPreferences::loadPreferences()
{
    checkCreateAppSupportPath();
    const FileRead read = applyPreferencesFile();
    // Missing, or damaged (kept aside there): the defaults stay and are written.
    if (read == FileRead::MissingOrDamaged)
        savePreferences();
    updateAppVersion();
    updateAppFullPath();
    return read == FileRead::Applied;
}

bool MainPreferences::readPreferences()
{
    return applyPreferencesFile() == FileRead::Applied;
}

void MainPreferences::applyLoaded(const QVariantMap& p)
{
    auto isString
        = [&](const char* key) { return p.value(QLatin1String(key)).typeId() == QMetaType::QString; };
    if (isString("LastWorkingVersionID"))
        m_lastWorkingVersionID = p.value(QStringLiteral("LastWorkingVersionID")).toString();
    const qint64 scheme = PlistValue::integer(p, QStringLiteral("GeneralPreferencesScheme"), 0);
    m_lastPrefVersionNumber = scheme;
    if (isString("AppFullPath"))
        m_appFullPath = p.value(QStringLiteral("AppFullPath")).toString();
    if (isString("AppVersion"))
        m_appVersion = p.value(QStringLiteral("AppVersion")).toString();

    const QVariant agent = p.value(QStringLiteral("AgentState"));
    if (scheme > 1 && agent.isValid()) {
        if (PlistValue::isNumber(agent)) {
            // The older form: the state word alone, the resume date beside it.
            m_agentState->set(boundedInt(agent.toLongLong()), 0.0,
                dateFromDescription(PlistValue::string(p, QStringLiteral("ScheduleResumeDate"))));
        } else if (agent.typeId() == QMetaType::QVariantMap) {
            const QVariantMap a = agent.toMap();
            if (PlistValue::isNumber(a.value(QStringLiteral("State")))) {
                m_agentState->set(boundedInt(PlistValue::integer(a, QStringLiteral("State"))),
                    PlistValue::real(a, QStringLiteral("ModifyInterval"), 0.0),
                    dateFromDescription(PlistValue::string(a, QStringLiteral("ScheduleResumeDate"))));
            }
        }
    } else if (scheme <= 1) {
        const QVariant enabled = p.value(QStringLiteral("ScheduleEnabled"));
        if (enabled.typeId() == QMetaType::Bool || PlistValue::isNumber(enabled)) {
            if (PlistValue::boolean(p, QStringLiteral("ScheduleEnabled")))
                m_agentState->setOn(1);
            else
                m_agentState->setOff(1);
        }
    }

    // "CollectLogs" counts as on only for exactly YES (a stored 2 is not YES).
    const QVariant collect = p.value(QStringLiteral("CollectLogs"));
    if (collect.typeId() == QMetaType::Bool)
        m_collectLogs = collect.toBool();
    else if (PlistValue::isNumber(collect))
        m_collectLogs = collect.toDouble() == 1.0;
    m_logDetailsLevel
        = boundedInt(PlistValue::integer(p, QStringLiteral("LogDetailsLevel"), m_logDetailsLevel));
    m_keepLogFilesCount
        = boundedInt(PlistValue::integer(p, QStringLiteral("KeepLogFilesCount"), m_keepLogFilesCount));
    m_captureExcludePatternRule = boundedInt(
        PlistValue::integer(p, QStringLiteral("CaptureExcludePatternRule"), m_captureExcludePatternRule));
    m_combineExcludePattern
        = PlistValue::boolean(p, QStringLiteral("CombineExcludePattern"), m_combineExcludePattern);
    m_resolveBundlesAsDir
        = PlistValue::boolean(p, QStringLiteral("ResolveBundlesAsDir"), m_resolveBundlesAsDir);
    const QByteArray compact = PlistValue::data(p, QStringLiteral("GeneralPreferencesCompactData"));
    if (!compact.isEmpty())
        m_compactData = compact;
    m_viewFilesAsAdmin = PlistValue::boolean(p, QStringLiteral("ViewFilesAsAdmin"), m_viewFilesAsAdmin);
    m_adminInfoSaveToKeychain
        = PlistValue::boolean(p, QStringLiteral("AdminInfoSaveToKeychain"), m_adminInfoSaveToKeychain);
    m_hideCloneWarning = PlistValue::boolean(p, QStringLiteral("HideCloneWarning"), m_hideCloneWarning);
    s_onlyErrorSendToSysNotification = PlistValue::boolean(
        p, QStringLiteral("OnlyErrorSendToSysNotification"), s_onlyErrorSendToSysNotification);
    m_useCustomTmpFolder = PlistValue::boolean(p, QStringLiteral("UseCustomTmpFolder"), m_useCustomTmpFolder);
    if (isString("CustomTmpFolder"))
        setCustomTmpFolderPath(p.value(QStringLiteral("CustomTmpFolder")).toString());
}

void MainPreferences::setCustomTmpFolderPath(const QString& path)
{
    if (path.isNull())
        return;
    if (isFolder(path)) {
        m_customTmpFolder = path;
    } else {
        m_customTmpFolder = QStringLiteral("/tmp");
        m_useCustomTmpFolder = false;
    }
}

QString MainPreferences::tmpFolder()
{
    return NameCodec::decode(TempFolder::defaultBase());
}

QString MainPreferences::getTmpFolderPath()
{
    if (m_useCustomTmpFolder) {
        if (isFolder(m_customTmpFolder))
            return m_customTmpFolder;
        utilLog(tr("The temporary folder \"%1\" is not found; the default temporary folder is used")
                    .arg(m_customTmpFolder));
        setCustomTmpFolderPath(m_customTmpFolder);
    }
    return tmpFolder();
}

std::string MainPreferences::tempName(const std::string& folder)
{
    if (folder.empty())
        return {};
    std::string error;
    const std::string name = TempFolder::createFile(folder, &error);
    if (name.empty())
        utilLog(QString::fromStdString(error));
    return name;
}

std::string MainPreferences::tempBareName(const std::string& folder)
{
    if (folder.empty())
        return {};
    std::string error;
    const std::string name = TempFolder::bareName(folder, &error);
    if (name.empty())
        utilLog(QString::fromStdString(error));
    return name;
}

bool MainPreferences::createAppSupportFolder(const QString& folder)
{
    // mkdir -p, the folders made private (0700), as the XDG data folder should be.
    const QStringList parts = folder.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    QString path;
    for (const QString& part : parts) {
        path += QLatin1Char('/') + part;
        if (!makeFolder(path, 0700))
            return false;
    }
    return true;
}

bool MainPreferences::checkCreateAppSupportPath(bool* created)
{
    static bool s_created = false; // stays set once set, as callers expect
    bool ok = true;
    const QString workspace = IPathUtil::currentWorkspacePath();
    if (!isFolder(workspace)) {
        IShellServices::shared().setSandboxFirstNotNormalMigration(true);
        if (pathExists(workspace)) {
            utilLog(tr("\"%1\" is not a folder; the workspace can not be used").arg(workspace));
            ok = false;
        } else {
            const QString dataHome = AppPaths::dataHome();
            if (!isFolder(dataHome)) {
                ok = createAppSupportFolder(dataHome) && ok;
                s_created = true;
            }
            const QStringList parts = workspace.split(QLatin1Char('/'), Qt::SkipEmptyParts);
            QString path;
            for (const QString& part : parts) {
                path += QLatin1Char('/') + part;
                bool made = false;
                if (!makeFolder(path, 0777, &made)) {
                    ok = false;
                    break;
                }
                s_created = s_created || made;
            }
        }
    }
    const QString prefsFolder = IPathUtil::getPreferencesPath();
    if (!isFolder(prefsFolder))
        createAppSupportFolder(prefsFolder);

    if (ok) {
        const QString backups = workspace + QStringLiteral("/Backups");
        if (!isFolder(backups)) {
            bool made = false;
            ok = makeFolder(backups, 0777, &made) && ok;
            s_created = s_created || made;
            const QString old = IPathUtil::getTuvimoBackupsPath();
            if (made && isFolder(old)) {
                // Take over the older product's backups; its folder goes only when emptied.
                const std::string oldBytes = bytes(old);
                std::vector<std::string> names;
                if (DIR* dir = ::opendir(oldBytes.c_str())) {
                    while (const dirent* e = ::readdir(dir)) {
                        const std::string n = e->d_name;
                        if (n != "." && n != "..")
                            names.push_back(n);
                    }
                    ::closedir(dir);
                }
                QStringList stayed;
                for (const std::string& n : names) {
                    const std::string from = oldBytes + "/" + n;
                    const std::string to = bytes(backups) + "/" + n;
                    if (FileOps::exists(to) || ::rename(from.c_str(), to.c_str()) != 0)
                        stayed << NameCodec::decode(n);
                }
                if (stayed.isEmpty())
                    ::rmdir(oldBytes.c_str());
                else
                    utilLog(
                        tr("These backups stayed in \"%1\": %2").arg(old, stayed.join(QStringLiteral(", "))));
            }
        }
        for (const char* sub : { "Logs", "Syncs", "Clones" })
            ok = makeFolder(workspace + QLatin1Char('/') + QLatin1String(sub), 0777) && ok;
    }
    if (s_created)
        IShellServices::shared().setSandboxFirstNotNormalMigration(true);
    if (created)
        *created = s_created;
    return ok;
}

void MainPreferences::createPathFolders(const QString& path, bool asAdmin, int first)
{
    // Component 0 is the root "/".
    const QStringList parts = path.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    QString current;
    for (int i = 1; i <= parts.size(); ++i) {
        current += QLatin1Char('/') + parts.at(i - 1);
        if (isFolder(current))
            continue;
        if (i < first)
            return;
        if (asAdmin) {
            QString error;
            if (!RootCommand::run({ QStringLiteral("mkdir"), QStringLiteral("--"), current }, &error))
                utilLog(tr("The folder \"%1\" can not be created: %2").arg(current, error));
        } else if (::mkdir(bytes(current).c_str(), 0777) != 0) {
            utilLog(tr("The folder \"%1\" can not be created: %2").arg(current, errnoText(errno)));
        }
        setNormalOwnerToFiles(current, asAdmin);
        if (!isFolder(current))
            return;
    }
}

QString MainPreferences::getMultivolumeArchiveExtensionByNumber(qint64 n, int width)
{
    qint64 limit = 1;
    for (int i = 0; i < width; ++i)
        limit *= 26;
    if (n < 0 || width <= 0 || n > limit - 10)
        return QString(QLatin1String(""));
    QString suffix(width, QLatin1Char('a'));
    for (int i = width - 1; i >= 0; --i) {
        suffix[i] = QLatin1Char(char('a' + n % 26));
        n /= 26;
    }
    return suffix;
}

bool MainPreferences::setNormalOwnerToFiles(const QString& path, bool asAdmin)
{
    if (!asAdmin || path.isEmpty())
        return true;
    QStringList files;
    static const QRegularExpression split(QStringLiteral("\\.cnt(\\d+)$"));
    const QRegularExpressionMatch m = split.match(path);
    const qint64 count = m.hasMatch() ? m.captured(1).toLongLong() : 0;
    if (count > 0) {
        const QString base = path.left(m.capturedStart(0));
        for (qint64 i = 0; i < count; ++i)
            files << base + QLatin1Char('.') + getMultivolumeArchiveExtensionByNumber(i, 3);
    } else {
        files << path;
    }
    const QString owner = QStringLiteral("%1:%2").arg(::getuid()).arg(::getgid());
    bool ok = true;
    for (const QString& file : files) {
        // -h: a link planted in place of a volume changes itself, never what it points to.
        QString error;
        if (!RootCommand::run(
                { QStringLiteral("chown"), QStringLiteral("-h"), QStringLiteral("--"), owner, file },
                &error)) {
            utilLog(tr("Can not change the owner of \"%1\": %2").arg(file, error));
            ok = false;
        }
    }
    return ok;
}

int MainPreferences::checkFileExisting(const QString& path, bool ask)
{
    if (pathExists(path))
        return 0;
    if (!ask)
        return 1;
    UiPrompts::Alert alert;
    alert.style = UiPrompts::AlertStyle::Critical;
    alert.title = tr("File \"%1\" has not found.").arg(path);
    alert.text = tr("Make sure the file is located in specified directory");
    // A disc named "Backup Disc" where Linux mounts removable volumes.
    static const QRegularExpression disc(
        QStringLiteral("^(/media/[^/]+|/run/media/[^/]+|/media|/mnt)/Backup Disc(/|$)"));
    if (disc.match(path).hasMatch())
        alert.text += QLatin1Char('\n') + tr("Maybe you have to change the disc.");
    alert.buttons = { tr("Retry"), tr("Abort"), tr("Skip") };
    for (;;) {
        switch (UiPrompts::shared().showAlert(alert)) {
        case 0:
            if (pathExists(path))
                return 0;
            continue;
        case 2:
            return 1;
        default:
            return 2;
        }
    }
}

void MainPreferences::updateAppVersion()
{
    const QVariant version = AppPaths::infoPlistValue(QStringLiteral("CFBundleShortVersionString"));
    if (version.typeId() == QMetaType::QString && !version.toString().isEmpty())
        m_appVersion = version.toString();
}

void MainPreferences::updateAppFullPath()
{
    const QString bundle = bundlePath();
    const QVariant configured = AppPaths::infoPlistValue(QStringLiteral("DBTarTool"));
    if (configured.typeId() == QMetaType::QString && !configured.toString().isEmpty())
        m_tarTool = configured.toString();
    QString tar = m_tarTool.isEmpty() ? QStringLiteral("/usr/bin/gnutar") : m_tarTool;
    if (!pathExists(tar)) {
        tar = m_appFullPath + QStringLiteral("/Contents/Resources/gnutar");
        // A stored path of a moved install no longer holds the tool: try the running tree.
        if (m_appFullPath.isEmpty() || !pathExists(tar))
            tar = bundle + QStringLiteral("/Contents/Resources/gnutar");
        if (!pathExists(tar))
            tar = bundle + QStringLiteral("/Contents/MacOS/tar");
    }
    m_tarTool = tar;
    m_appFullPath = bundle;
}

QString MainPreferences::getMainApplicationID()
{
    return AppPaths::infoPlistValue(QStringLiteral("CFBundleIdentifier")).toString();
}

QString MainPreferences::dateDescription(const QDateTime& date)
{
    if (!date.isValid())
        return QString();
    const QDateTime local = date.toLocalTime();
    const int offset = local.offsetFromUtc();
    const int minutes = qAbs(offset) / 60;
    return local.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss "))
        + (offset < 0 ? QLatin1Char('-') : QLatin1Char('+'))
        + QStringLiteral("%1%2")
              .arg(minutes / 60, 2, 10, QLatin1Char('0'))
              .arg(minutes % 60, 2, 10, QLatin1Char('0'));
}

QDateTime MainPreferences::dateFromDescription(const QString& text)
{
    if (text.isEmpty())
        return QDateTime();
    return QDateTime::fromString(text, QStringLiteral("yyyy-MM-dd HH:mm:ss t"));
}
