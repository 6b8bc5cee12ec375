#pragma once

#include "utilities/LogText.h"

#include <QByteArray>
#include <QObject>
#include <QString>

class IProcessCard;

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
    // The run-status card of the project; none in the base.
    virtual IProcessCard* processCard() const;
    // ---- end of the rsync option-list questions ----
};
