#pragma once

#include "projects/IProcessCard.h"
#include "utilities/LogText.h"

#include <QByteArray>
#include <QColor>
#include <QDateTime>
#include <QObject>
#include <QString>
#include <QVariantMap>
#include <memory>
#include <string>
#include <vector>

class ILocation;

// Base of the three project kinds (archive backups, snapshot backups, synchronizations and
// clones). The kinds give their name and the run tag that marks their log lines, and route run
// texts to the shell's log sink through processMessage.
class IProject : public QObject
{
    Q_OBJECT
public:
    explicit IProject(QObject* parent = nullptr);
    ~IProject() override;

    // The project's name; null in the base.
    virtual QString name() const;
    // The name as UTF-8 bytes, for log lines.
    virtual QByteArray utf8Name() const;
    // The run tag of the current run ("( n ) "), empty in the base.
    virtual QByteArray utf8StringCode() const;

    // Routes a run text (LogOption bits) to the log sink; does nothing in the base.
    virtual void processMessage(const LogText& text, quint64 options, QObject* sender);

    // ---- Questions the rsync option list asks of the project being run ----
    // The project kinds answer from their settings and their places' file systems.

    // General task codes of the task wrappers.
    enum GeneralTaskCode
    {
        GTC_UNKNOWN = 0,
        GTC_BACKUP = 1,
        GTC_RESTORE = 2,
        GTC_SYNHRONIZATION = 3,
        GTC_CLONING = 4,
        GTC_BOOTABLE_CLONING = 5,
        GTC_BACKUP3 = 6
    };

    // 0 synchronization, 1 clone (synchronization projects); 0 in the base.
    virtual int synchronType() const;
    // Both sides of the pass are Mac file systems (owners, extended attributes, hard links); YES in the base.
    virtual bool isMacSrcDestForPass(long pass) const;
    // The pass runs with administrator rights: the project base's _useAdminPrivileges flag (YES by default).
    virtual bool isUseAdminPrivilegesForPass(long pass) const;
    virtual bool isOptionConsiderModDate() const; // NO in the base
    virtual bool isOptionDelete() const; // NO in the base
    virtual bool isExcludeAliases() const; // NO in the base
    // The source is one volume of a System/Data volume group on 10.15 and later; NO in the base.
    virtual bool isSourceDoubleVolumeSystemForPass(long pass) const;
    // How extended attributes are handled (0 by file system, 1 never, 2 always); 0 in the base.
    virtual int extendedAttrsProcessType() const;
    // The run writes into a disk image; NO in the base.
    virtual bool useBDI() const;
    // Whether rsync as the user keeps owners and links in extended attributes ("--fake-super"): YES
    // for backups, whose restore turns them back; a working copy wants real symbolic links.
    virtual bool isFakeSuperWanted() const { return true; }
    // The run-status card of the project; none in the base.
    virtual IProcessCard* processCard() const;
    // ---- end of the rsync option-list questions ----

    // ---- What every run needs, whatever the kind --------------------------------------------
    // A pass is one source/destination pair of a run, numbered from 0; -1 means any pass.

    // Stored keys of the base (the first one is spelt so in the stored format).
    static const QString cnsSheduleProcessInSpecTimeOnly; // "SheduleProcessInSpecTimeOnly"
    static const QString cnsB3FullAutomount; // "FullAutomount"

    virtual void setUseAdminPrivileges(bool use);
    void setExtendedAttrsProcessType(int type) { _extendedAttrsProcessType = type; }

    virtual QString sourcePathForPass(long pass) const;
    virtual QString destPathForPass(long pass) const;
    virtual ILocation* sourceLocationForPass(long pass) const;
    virtual ILocation* destLocationForPass(long pass) const;

    bool isFullAutomount() const { return _fullAutomount; }
    virtual void setFullAutomount(bool fullAutomount);

    IProcessCard& card() { return *_card; }
    const IProcessCard& card() const { return *_card; }
    // The kind number of the card: 0 clone, 1 synchronization; 0 for the other kinds.
    int type() const { return _card->type(); }

    // Snapshots of the current run, filled by the kinds; made empty on first use.
    QVariantMap& snapshots();

    // True when nothing is at path afterwards (nothing was there, or it was deleted).
    virtual bool removeFile(const QString& path);

    // Records new exclude temp-file names. A null argument leaves its name (and file) alone; a
    // new name deletes the file recorded before it.
    void setExcludesTmpFileNameCustom(const QString& custom, const QString& system);
    QString customExcludesTmpFileName() const { return _customExcludesTmpFileName; }
    QString systemExcludesTmpFileName() const { return _systemExcludesTmpFileName; }
    // Deletes the chosen recorded files; a name is forgotten only once its file is gone.
    void removeExcludesTmpFileNameCustom(bool custom, bool system);
    // Writes the custom exclude file of a run (the lines, in the private temporary folder) and
    // records it. Without lines or folder no file stays recorded; a write failure is reported
    // through processMessage. True when the file was written.
    bool saveCustomExcludeLines(const QList<QByteArray>& lines, const QString& folder);

    // Which system exclude list the kind uses (the path utilities' list types).
    virtual int systemExcludeListType() const;
    // The system exclude list re-rooted under the volume of path, for the archive selection
    // tree: matching entries become absolute paths under the volume's mount point. False (and
    // an empty list) when path is not on a system volume or nothing is left.
    bool prepareSystemExcludeListForPath(const QString& path, std::vector<std::string>* resultList);
    // Writes the system exclude file of a pass (lines relative to the pass's source folder)
    // and records it; false when the source is no system volume or nothing applies.
    virtual bool saveSystemExcludesIntoTmpFileForPass(long pass);
    virtual bool saveCustomExcludesIntoTmpFileForPass(long pass);

    // Readiness bits of the kinds: 1 all, 2 load content, 4 run, 8 analyse, 16 parameter
    // change, 32 stop, 64 mount images, 128 mount volumes. The base is never ready.
    virtual int getReady();

    void setScheduleProcessStartIfLate(bool startIfLate) { _scheduleProcessStartIfLate = startIfLate; }
    bool isScheduleProcessStartIfLate() const { return _scheduleProcessStartIfLate; }

    // The base keys of every kind's stored dictionary.
    virtual void saveToDict(QVariantMap& dict) const;
    virtual bool loadFromDict(const QVariantMap& dict);

    // Ends the run's worker: the oldest child of the card's executive process, found and
    // checked by pid (never by name), signalled with SIGTERM. False when there is none or it
    // is no longer the executive's child.
    bool killProcInSystem();

    // The two system-exclude algorithms over a given table, for the kinds and for tests.
    // Lines for an exclude file of a source whose path inside its volume is inner.
    static std::vector<std::string> systemExcludeLinesForInner(
        const std::vector<std::string>& table, const QByteArray& inner, bool rootVolume);
    // Absolute entries re-rooted under mountPoint.
    static std::vector<std::string> systemExcludesRerooted(const std::vector<std::string>& table,
        const QByteArray& inner, bool rootVolume, const QByteArray& mountPoint);
    // The executive's oldest child (start time, then the lower pid), 0 when none.
    static pid_t oldestChildOf(pid_t parent);

    // ---- Run state the shell sends to every kind (neutral in the base) ---------------------
    virtual void setName(const QString& name);
    virtual QColor color() const;
    virtual void setColor(const QColor& color);
    virtual bool isInProcess() const;
    virtual bool isReadyForInterface() const;
    virtual bool isSelected() const;
    virtual bool isInState(int state) const;
    virtual void setInState(int state);
    virtual int currentOperation() const;
    virtual void setInProcess(bool inProcess, int operation);
    virtual double indicatorPosition() const;
    // Progress percent for the global indicator: -1 when not known, 0 when not running.
    virtual double indicatorPositionForGlobal() const;
    virtual void setIndicatorPosition(double position);
    virtual void setIndicatorPosition(double position, bool showNow);
    // 0 idle, 1 start offered, 2 stop offered.
    virtual int mainButtonState() const;
    virtual void setMainButtonState(int state);
    virtual QString lastStatusString() const;
    virtual int lastStateChange() const;
    virtual QString processingCodeString() const;
    virtual QDateTime lastProcessDate() const;
    virtual bool isScheduled() const;
    virtual void setScheduled(bool scheduled);
    virtual void setNextProcessDate(const QDateTime& date);
    virtual bool isProcessOnMount() const;
    virtual void setProcessOnMount(bool processOnMount);
    virtual bool isPostProcess() const;
    virtual void setPostProcess(bool postProcess);
    virtual void setLastProcessFailed(bool failed);
    virtual bool isProcessingBySchedule() const;
    virtual void printStartStatisticToLog();
    // Mounts the project's places before a run; true when done (the base has none).
    virtual bool doAutomount();
    virtual void doAutoUnmount();
    virtual void sendTextInfo(const QString& text, qint32 type, quint8 target, QObject* sender);

    // Writes exclude lines into a new 0600 file "….system.txt" of the private temporary
    // folder; *path names it. Not recorded as the project's.
    bool writeSystemExcludeFile(const std::vector<std::string>& lines, QString* path);

private:

    bool _useAdminPrivileges = true;
    QString _customExcludesTmpFileName;
    QString _systemExcludesTmpFileName;
    std::unique_ptr<IProcessCard> _card;
    bool _scheduleProcessStartIfLate = true;
    std::unique_ptr<QVariantMap> _snapshots;
    int _extendedAttrsProcessType = 0;
    bool _fullAutomount = false;
};
