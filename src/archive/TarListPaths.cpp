#include "archive/TarListPaths.h"

#include "platform/NameCodec.h"

QByteArray makeTarWildcardSafePath(const QByteArray& path, int mode)
{
    Q_UNUSED(mode); // no mode has wildcard characters to escape here
    QByteArray out;
    out.reserve(path.size() + 8);
    for (const char c : path) {
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        default:
            out += c;
            break;
        }
    }
    return out;
}

QByteArray makePathStringForTar(const QString& path, int mode)
{
    if (path.isEmpty())
        return QByteArray();
    QByteArray line = makeTarWildcardSafePath(NameCodec::encode(path), mode);
    if (line.startsWith('-'))
        line.prepend("./");
    return line;
}

QByteArray makeQuotedFolderForTar(const QString& folder)
{
    // GNU tar 1.34 takes a quoted "-C" line of a list through the quote escapes and then
    // unquotes the folder twice: a backslash of the folder becomes eight, a line feed "\\\\n".
    // Encoded only once, a folder holding a backslash before "n" or "t" opens another folder.
    const QByteArray member
        = makeTarWildcardSafePath(makeTarWildcardSafePath(NameCodec::encode(folder), 2), 2);
    QByteArray out;
    out.reserve(member.size() * 2);
    for (const char c : member) {
        if (c == '\\' || c == '"')
            out += '\\';
        out += c;
    }
    return out;
}
