#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

class IBackup3;

// Version thinning: after a run without errors, old versions of a project are deleted according
// to its thinning setting (keep the newest N versions, or delete versions older than a period)
// and dropped from the version list. The newest version is never deleted, and only folders named
// like versions, directly inside the project folder, are ever touched.
class IBackupCutUtil
{
public:
    // Thinning modes and age units of the project's setting.
    enum : int
    {
        CutOff = 0,
        CutByNumber = 2,
    };
    enum : int
    {
        UnitDays = 1,
        UnitWeeks = 2,
        UnitMonths = 3,
    };

    // What thinning needs of a project.
    struct Request
    {
        bool hasLastProcessDate = false;
        int cuttingType = CutOff;
        long cuttingCount = 0;
        int cuttingCountItem = 0;
        QString projectFolder; // G: the folder holding the versions and the list
        bool admin = false; // delete as root
        QString projectName;
        // The project's log routing (text and option word).
        std::function<void(const QString& text, quint64 options)> log;
    };

    static IBackupCutUtil& shared();

    // The whole thinning; true when nothing had to be done or the version list was rewritten.
    bool cutBackup(const Request& request);

    // The folders to delete when keeping the newest n versions (n < 1 counts as 1); null when the
    // list cannot be read.
    static std::optional<QStringList> createRemovingListForQV3InfoPathFromNumber(
        const QString& infoPath, long n);
    // The folders of versions at least k whole days old, the newest never; null when the list
    // cannot be read.
    static std::optional<QStringList> createRemovingListForQV3InfoPathFromDayCount(
        const QString& infoPath, long k, const QDateTime& now);
    // Calendar days from the date m months, w weeks and d days before now (local time) to now.
    static long dayCountByRemoveFromNowMonths(long months, long weeks, long days, const QDateTime& now);

    // Deletes the named version folders inside folder; names that failed (or were refused) are
    // taken out of names. True when every one was deleted.
    bool removeFolders(QStringList& names, const QString& folder, const Request& request);
    // Drops the entries of the removed folders from the list and writes it atomically.
    static bool correctingQV3InfoPath(const QString& infoPath, const QStringList& removedFolders);

    // Deletes one version folder as the user (folders made writable first, links never
    // followed) or as root; false with *comment on failure.
    static bool removeVersionFolder(const QString& path, bool admin, QString* comment);
};
