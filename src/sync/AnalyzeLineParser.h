#pragma once

#include <QByteArray>
#include <QString>

class IAnalyzeFileSystemItem;

// Turns the item lines of a dry run (the engine's "wi::" texts, or rsync's own lines in a direct
// pass) into nodes of the comparison tree. rsync writes a line break, other control bytes and
// bytes that are not UTF-8 as "\#ooo"; those are decoded back into the bytes before the lossless
// name conversion, so every node names the file on disk. One parser per pass; main thread.
class AnalyzeLineParser
{
public:
    struct Line
    {
        enum Kind
        {
            Skip,
            FileCount, // "N files..." while the list is built
            Item,
        };
        Kind kind = Skip;
        QString path; // below the compared folders, without a trailing "/"
        bool folder = false;
        bool link = false;
        bool deletion = false;
        unsigned long count = 0; // FileCount
    };

    void reset(int direction, int pass);
    // Classifies one line (NUL-terminated, as rsync printed it) and counts items and totals.
    Line parse(const char* line);
    // Puts an item into the tree below the root: side bits along its path, the action bit on its
    // node. Missing nodes are made only for a path with a "/" (top-level names come from the
    // listing). Returns the node, or null.
    IAnalyzeFileSystemItem* apply(IAnalyzeFileSystemItem* root, const Line& line) const;
    // parse() then apply(), and the pane's progress text; true when a node took the item.
    bool processLine(IAnalyzeFileSystemItem* root, const char* line);
    // The pane's text while the lists are built: "Building file list... N" for rsync's counts,
    // "Building copy list... N" (N the items so far) for items, each kind at most once per 31
    // ticks (1/60 s) of Clock::current().
    void showProgress(const Line& line);

    // The side and action bits of an item by direction and pass.
    static void sideAndAction(int direction, int pass, bool deletion, qint64* side, qint64* action);
    // "\#ooo" (three octal digits) back into its byte; everything else as is.
    static QByteArray decodeEscapes(const char* text, size_t size);

    unsigned long lineTotal() const { return m_lineTotal; }
    unsigned long processedLines() const { return m_processed; }
    bool statisticStarted() const { return m_statistic; }

private:
    int m_direction = 0;
    int m_pass = 0;
    unsigned long m_lineTotal = 0;
    unsigned long m_processed = 0;
    bool m_statistic = false;
    qint64 m_fileListShownMs = -1;
    qint64 m_copyListShownMs = -1;
};
