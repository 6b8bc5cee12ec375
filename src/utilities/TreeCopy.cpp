#include "TreeCopy.h"

#include "platform/Subprocess.h"

namespace TreeCopy {

bool copyContents(const QString& from, const QString& into, QString* error)
{
    Subprocess::Options options;
    options.program = QStringLiteral("cp");
    // "from/." copies what the folder holds, dot files included, into the existing folder.
    options.arguments = { QStringLiteral("-a"), QStringLiteral("--"), from + QStringLiteral("/."), into };
    const Subprocess::Result result = Subprocess::run(options);
    if (result.succeeded())
        return true;
    if (error) {
        QString text = QString::fromUtf8(result.err).trimmed();
        if (text.isEmpty())
            text = result.error.isEmpty() ? QStringLiteral("cp exited with status %1").arg(result.exitCode)
                                          : result.error;
        *error = text;
    }
    return false;
}

} // namespace TreeCopy
