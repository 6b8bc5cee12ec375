#pragma once

#include <QList>
#include <QString>

// What the outlines read of the file system, behind a small interface so that tests can feed
// synthetic folders.
struct OutlineEntry
{
    QString name;
    bool exists = false;
    bool isFolder = false;
    double size = 0;
    double modified = 0; // seconds since 1970
};

class IOutlineLister
{
public:
    virtual ~IOutlineLister() = default;
    // The entries of a folder (no "." or ".."), sorted case-insensitively; empty when unreadable.
    virtual QList<OutlineEntry> list(const QString& folder) = 0;
    // One path, following symbolic links; exists false when it cannot be read.
    virtual OutlineEntry stat(const QString& path) = 0;
};

// The real file system: opendir/readdir and stat (following links); names keep their bytes
// through NameCodec, so a name that is not UTF-8 is listed too.
class DirOutlineLister : public IOutlineLister
{
public:
    QList<OutlineEntry> list(const QString& folder) override;
    OutlineEntry stat(const QString& path) override;
};

namespace OutlineSort {
// The case-insensitive order of the outlines (ties by the exact name).
void sortEntries(QList<OutlineEntry>& entries);
} // namespace OutlineSort
