#pragma once

#include "projects/IProcessCard.h"

#include <QList>
#include <QString>

class ISynchron;

// The pre-flight verdict of a clone: from the facts of the two volumes, the host and the project
// it tells whether the clone may start, with a one-line text, an icon kind and a help anchor, and
// which flags of the run card tell the run how to clone. A pure function; applyToCard writes the
// flags, and only while the card is not running (a running clone keeps the flags it started with).
namespace CloneVerdict {

struct Volume
{
    bool chosen = false; // a place is set
    bool present = false; // and its volume is here now
    bool hfsPlus = false; // ext2/3/4 or xfs
    bool apfs = false; // btrfs
    bool writable = true;
    int role = 0; // 6 System, 7 Data
    bool caseSensitive = false;
    qint64 usedMB = 0;
    qint64 cloneSpaceMB = 0;
    bool system = false;
    bool bootable = false;
    bool bySnapshot = false;
    bool system11 = false; // location flag 64
    bool system12 = false; // location flag 128
    int sysVersion = 0; // major*10000 + minor*100 + patch
};

struct Facts
{
    Volume source;
    Volume destination;
    bool sameVolume = false;
    int sourceAccess = 0; // the source's access level (5: the group's data volume is missing)
    int hostVersion = 0;
    bool doubleVolumeClone = false;
    bool sourceDoubleVolumeSystem = false;
    bool cardOnlyRunning = false; // the card's state is exactly "running"
    bool cardUnmountTolerated = false; // the card has analyticUnmountNotReasonForTermination
};

enum class Icon
{
    Ok,
    Warning,
    Error
};

struct Result
{
    bool allowed = false;
    QString text;
    Icon icon = Icon::Error;
    QString anchor;
    QList<ProcessCardFlag> flags; // to add after the seven analytic flags were cleared
};

Result judge(const Facts& facts);
// Clears the seven analytic flags and adds the verdict's; nothing while the card is running.
void applyToCard(IProcessCard& card, const Result& result);
// The facts of a project's own two places (the container's and the driver's check).
Facts factsForProject(ISynchron& project);

} // namespace CloneVerdict
