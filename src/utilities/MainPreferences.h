#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QVariantMap>
#include <atomic>
#include <memory>
#include <string>

// The scheduler state as the main preferences store it ("AgentState"). The scheduler-state
// class implements it; until one is attached, the preferences keep a plain record.
class PrefsAgentState
{
public:
    virtual ~PrefsAgentState() = default;
    virtual int getInt() const = 0; // the state bits
    virtual double modifyInterval() const = 0;
    virtual QDateTime scheduleResumeDate() const = 0; // invalid when none
    virtual void set(int bits, double modifyInterval, const QDateTime& scheduleResumeDate) = 0;
    virtual void setOn(int bits) = 0;
    virtual void setOff(int bits) = 0;
};

// The application's general preferences ("QVPrefs.plist" in the workspace), the workspace
// folders, the temporary-folder settings and temporary names, the tar tool and the ownership
// fix for files written as root. The global archive container owns this share and delegates
// to it; one instance per process.
class MainPreferences
{
public:
    static MainPreferences& shared();
    // Tests: start again from the defaults.
    static void resetShared();

    static constexpr const char* kPrefsFileName = "QVPrefs.plist";
    static QString prefsFilePath(); // <workspace>/QVPrefs.plist

    // Writes the preferences this share owns into QVPrefs.plist, keeping every other key. A
    // missing file is created; a file that does not parse is kept aside first; a file that
    // cannot be read is left alone (false).
    bool savePreferences();
    // Reads QVPrefs.plist (only when Info.plist has "Pref identifier"). A missing file is created
    // with the defaults; a file that does not parse is kept aside and the defaults stay.
    // Always refreshes the application version, path and tar tool at the end.
    bool loadPreferences();
    // Applies QVPrefs.plist as loadPreferences() does, creating and writing nothing: the
    // headless tools run with the application's preferences. False when none was applied.
    bool readPreferences();

    // Accessors.
    QString lastPrefVersionID() const { return m_lastWorkingVersionID; }
    void setLastPrefVersionID(const QString& id) { m_lastWorkingVersionID = id; }
    qint64 lastPrefVersionNumber() const { return m_lastPrefVersionNumber; }
    QByteArray lastPrefCompactData() const { return m_compactData; }
    void setLastPrefCompactData(const QByteArray& data) { m_compactData = data; }
    int getKeepLogFilesCount() const { return m_keepLogFilesCount; }
    void setKeepLogFilesCount(int count) { m_keepLogFilesCount = count; }
    bool collectLogs() const { return m_collectLogs; }
    void setCollectLogs(bool on) { m_collectLogs = on; }
    int logDetailsLevel() const { return m_logDetailsLevel; }
    void setLogDetailsLevel(int level) { m_logDetailsLevel = level; }
    bool adminInfoSaveToKeychain() const { return m_adminInfoSaveToKeychain; }
    void setAdminInfoSaveToKeychain(bool on) { m_adminInfoSaveToKeychain = on; }
    bool hideCloneWarning() const { return m_hideCloneWarning; }
    void setHideCloneWarning(bool on) { m_hideCloneWarning = on; }
    bool onlyErrorSendToSysNotification() const { return s_onlyErrorSendToSysNotification; }
    void setOnlyErrorSendToSysNotification(bool on) { s_onlyErrorSendToSysNotification = on; }
    int captureExcludePatternRule() const { return m_captureExcludePatternRule; }
    void setCaptureExcludePatternRule(int rule) { m_captureExcludePatternRule = rule; }
    bool combineExcludePattern() const { return m_combineExcludePattern; }
    void setCombineExcludePattern(bool on) { m_combineExcludePattern = on; }
    bool resolveBundlesAsDir() const { return m_resolveBundlesAsDir; }
    void setResolveBundlesAsDir(bool on) { m_resolveBundlesAsDir = on; }
    bool viewFilesAsAdmin() const { return m_viewFilesAsAdmin; }
    void setViewFilesAsAdmin(bool on) { m_viewFilesAsAdmin = on; }

    QString appVersion() const { return m_appVersion; }
    void setAppVersion(const QString& version) { m_appVersion = version; }
    QString appFullPath() const { return m_appFullPath; }
    void setAppFullPath(const QString& path) { m_appFullPath = path; }
    QString tarTool() const { return m_tarTool; }
    void setTarTool(const QString& path) { m_tarTool = path; }

    // The scheduler state kept in the preferences; nullptr detaches (the plain record is used).
    void setAgentState(PrefsAgentState* state);
    PrefsAgentState& agentState();

    // The global switch the notification code reads.
    static bool isOnlyErrorSendToSysNotification() { return s_onlyErrorSendToSysNotification; }
    static bool isAdminInfoSaveToKeychain() { return shared().m_adminInfoSaveToKeychain; }
    static void clearAdminInfoSaveToKeychain() { shared().m_adminInfoSaveToKeychain = false; }
    static QString lastWorkingVersionID() { return shared().m_lastWorkingVersionID; }

    // Temporary folder.
    bool useCustomTmpFolder() const { return m_useCustomTmpFolder; }
    void setUseCustomTmpFolder(bool on) { m_useCustomTmpFolder = on; }
    QString customTmpFolder() const { return m_customTmpFolder; }
    // An existing folder becomes the custom folder; a missing one resets it to "/tmp" and
    // switches its use off. Null does nothing.
    void setCustomTmpFolderPath(const QString& path);
    // The default temporary folder: $TMPDIR or /tmp.
    static QString tmpFolder();
    // The custom folder when in use (a vanished one switches the use off), else tmpFolder().
    QString getTmpFolderPath();
    // A new empty file "tmp.XXXXXX" in this process's private 0700 folder under folder; its
    // path, empty on failure or for an empty folder.
    static std::string tempName(const std::string& folder);
    // A fresh name in the same private folder at which nothing exists yet (for a FIFO or a
    // script the caller creates itself).
    static std::string tempBareName(const std::string& folder);

    // Workspace folders: the workspace, the preferences folder, Backups (taking over the older
    // product's backups), Logs, Syncs and Clones. *created tells whether folders were made.
    bool checkCreateAppSupportPath(bool* created = nullptr);
    // Makes folder (and its missing parents) 0700: the XDG data folder.
    static bool createAppSupportFolder(const QString& folder);
    // Creates the missing folders of path from component index `first` on (as root when
    // asAdmin, handing each back to the user); stops at the first folder still missing.
    static void createPathFolders(const QString& path, bool asAdmin, int first);
    // Hands a file (every volume of a split archive "<name>.cnt<N>") written as root back to
    // the real user: "chown -h --" per file as root, waiting. Only when asAdmin.
    static bool setNormalOwnerToFiles(const QString& path, bool asAdmin);
    // The n-th volume suffix of a split archive: width letters, base 26 ("aaa", "aab", ...);
    // empty when n is above 26^width - 10.
    static QString getMultivolumeArchiveExtensionByNumber(qint64 n, int width);

    // 0 when the file exists; 1 when it is missing and ask is off. Otherwise a critical alert
    // asks: Retry (tests again), Abort (2) or Skip (1); an alert nobody answers counts as Abort.
    static int checkFileExisting(const QString& path, bool ask);

    void updateAppVersion();
    void updateAppFullPath();
    static bool needUseMyTar() { return false; }
    static QString getMainApplicationID();

    // "yyyy-MM-dd HH:mm:ss +hhmm", the stored form of "ScheduleResumeDate".
    static QString dateDescription(const QDateTime& date);
    static QDateTime dateFromDescription(const QString& text);

private:
    MainPreferences();
    friend struct std::default_delete<MainPreferences>;
    void applyLoaded(const QVariantMap& prefs);
    // Reads and applies the file, only when Info.plist has "Pref identifier".
    enum class FileRead
    {
        Applied,
        Skipped, // no identifier, or a file that cannot be read (left alone)
        MissingOrDamaged // the defaults stay
    };
    FileRead applyPreferencesFile();
    QVariantMap updatedDictionary(QVariantMap prefs);

    QString m_appFullPath;
    QString m_lastWorkingVersionID;
    qint64 m_lastPrefVersionNumber = 0;
    QByteArray m_compactData;
    QString m_appVersion;
    std::atomic<bool> m_collectLogs { true }; // read by the run log on reader threads
    int m_logDetailsLevel = 1;
    int m_keepLogFilesCount = 20;
    bool m_adminInfoSaveToKeychain = false;
    bool m_hideCloneWarning = false;
    bool m_useCustomTmpFolder = false;
    QString m_customTmpFolder = QStringLiteral("/tmp");
    int m_captureExcludePatternRule = 0;
    bool m_combineExcludePattern = true;
    bool m_resolveBundlesAsDir = true;
    bool m_viewFilesAsAdmin = false;
    QString m_tarTool;
    std::unique_ptr<PrefsAgentState> m_ownAgentState;
    PrefsAgentState* m_agentState = nullptr;

    static inline std::atomic<bool> s_onlyErrorSendToSysNotification { false };
};
