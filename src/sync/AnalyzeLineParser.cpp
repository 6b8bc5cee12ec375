#include "AnalyzeLineParser.h"

#include "platform/Clock.h"
#include "platform/NameCodec.h"
#include "sync/IAnalyzeFileSystemItem.h"
#include "sync/ISynchronizeController.h"
#include "sync/SyncOutputParser.h"

#include <QCoreApplication>
#include <cstdlib>
#include <cstring>

namespace {

bool startsWith(const char* s, size_t n, const char* prefix)
{
    const size_t m = std::strlen(prefix);
    return n >= m && std::memcmp(s, prefix, m) == 0;
}

bool endsWith(const char* s, size_t n, const char* suffix)
{
    const size_t m = std::strlen(suffix);
    return n >= m && std::memcmp(s + n - m, suffix, m) == 0;
}

bool isOctal(char c)
{
    return c >= '0' && c <= '7';
}

} // namespace

void AnalyzeLineParser::reset(int direction, int pass)
{
    m_direction = direction;
    m_pass = pass;
    m_lineTotal = 0;
    m_processed = 0;
    m_fileListShownMs = m_copyListShownMs = -1;
    m_statistic = false;
}

QByteArray AnalyzeLineParser::decodeEscapes(const char* text, size_t size)
{
    QByteArray out;
    out.reserve(qsizetype(size));
    for (size_t i = 0; i < size; ++i) {
        if (text[i] == '\\' && i + 4 < size && text[i + 1] == '#' && isOctal(text[i + 2])
            && isOctal(text[i + 3]) && isOctal(text[i + 4])) {
            const int v = (text[i + 2] - '0') * 64 + (text[i + 3] - '0') * 8 + (text[i + 4] - '0');
            if (v <= 0xFF) {
                out.append(char(v));
                i += 4;
                continue;
            }
        }
        out.append(text[i]);
    }
    return out;
}

AnalyzeLineParser::Line AnalyzeLineParser::parse(const char* text)
{
    Line line;
    size_t n = std::strlen(text);
    if (m_statistic || n == 0)
        return line;
    if (endsWith(text, n, "files...")) {
        line.kind = Line::FileCount;
        line.count = std::strtoul(text, nullptr, 10);
        m_lineTotal = line.count;
        return line;
    }
    static const char* const skippedSuffixes[] = { " bytes/sec", " (DRY RUN)", " files to consider" };
    for (const char* s : skippedSuffixes)
        if (endsWith(text, n, s))
            return line;
    static const char* const skippedPrefixes[] = { "building file list ...", "1 file to consider",
        "sending incremental file list", "skipping non-regular file", "ignoring unsafe symlink",
        "IO error encountered", "rsync error:", "rsync:", "cannot delete non-empty directory:" };
    for (const char* s : skippedPrefixes)
        if (startsWith(text, n, s))
            return line;
    if (std::strcmp(text, "./") == 0)
        return line;
    if (startsWith(text, n, "Number of files:")) {
        m_statistic = true;
        return line;
    }

    const char* item = text;
    if (startsWith(text, n, "deleting ")) {
        line.deletion = true;
        item += 9;
        n -= 9;
    }
    if (const char* arrow = static_cast<const char*>(memmem(item, n, " -> ", 4))) {
        line.link = true;
        n = size_t(arrow - item);
    } else if (n > 0 && item[n - 1] == '/') {
        line.folder = true;
        --n;
    }
    if (n == 0)
        return line;
    line.kind = Line::Item;
    line.path = NameCodec::decode(decodeEscapes(item, n));
    ++m_processed;
    return line;
}

void AnalyzeLineParser::sideAndAction(int direction, int pass, bool deletion, qint64* side, qint64* action)
{
    using I = IAnalyzeFileSystemItem;
    if (direction == 0 || (direction == 2 && pass == 0)) {
        *side = deletion ? I::Named | I::Right : I::Named | I::Left;
        *action = deletion ? I::DeleteRight : I::CopyToRight;
    } else if (direction == 1 || (direction == 2 && pass == 1)) {
        *side = deletion ? I::Named | I::Left : I::Named | I::Right;
        *action = deletion ? I::DeleteLeft : I::CopyToLeft;
    } else {
        *side = I::Named;
        *action = 0;
    }
}

IAnalyzeFileSystemItem* AnalyzeLineParser::apply(IAnalyzeFileSystemItem* root, const Line& line) const
{
    if (!root || line.kind != Line::Item)
        return nullptr;
    qint64 side = 0, action = 0;
    sideAndAction(m_direction, m_pass, line.deletion, &side, &action);
    IAnalyzeFileSystemItem* node = root->treeItemWithPath(
        line.path, line.folder, line.link, side, line.path.contains(QLatin1Char('/')));
    if (node)
        node->setFlagOn(action);
    return node;
}

bool AnalyzeLineParser::processLine(IAnalyzeFileSystemItem* root, const char* text)
{
    const Line line = parse(text);
    const bool taken = apply(root, line) != nullptr;
    showProgress(line);
    return taken;
}

void AnalyzeLineParser::showProgress(const Line& line)
{
    // 31 ticks of 1/60 s between two texts of one kind.
    constexpr qint64 intervalMs = 31 * 1000 / 60;
    QString text;
    qint64* shown = nullptr;
    if (line.kind == Line::FileCount) {
        text = QStringLiteral("%1... %2")
                   .arg(QCoreApplication::translate("Localizable", "Building file list"))
                   .arg(line.count);
        shown = &m_fileListShownMs;
    } else if (line.kind == Line::Item) {
        text = QStringLiteral("%1... %2")
                   .arg(QCoreApplication::translate("Localizable", "Building copy list"))
                   .arg(double(m_processed), 10, 'f', 0);
        shown = &m_copyListShownMs;
    } else {
        return;
    }
    const qint64 now = Clock::current().monotonicMs();
    if (*shown >= 0 && now - *shown < intervalMs)
        return;
    *shown = now;
    // The pane takes texts only while its text info is on; the analysis keeps it off otherwise.
    ISynchronizeController& pane = ISynchronizeController::shared();
    pane.setNoSendTextInfo(false);
    pane.sendAnalyzeInfo(text, wesClear);
    pane.setNoSendTextInfo(true);
}
