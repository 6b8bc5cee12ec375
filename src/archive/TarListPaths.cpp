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
