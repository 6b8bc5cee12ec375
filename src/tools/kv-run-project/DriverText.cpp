#include "DriverText.h"

#include "platform/NameCodec.h"

#include <algorithm>
#include <cstdio>
#include <cerrno>
#include <dirent.h>
#include <unistd.h>

namespace DriverText {

void printToStderr(const QString& text)
{
    printLineToStderr(QStringLiteral("kv-run-project: ") + text);
}

void printLineToStderr(const QString& line)
{
    const QByteArray bytes = NameCodec::encode(line) + '\n';
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    std::fflush(stderr);
}

QByteArray readAllStandardInput()
{
    QByteArray input;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        input.append(buffer, n);
    }
    return input;
}

QString oneLine(QString text)
{
    text.replace(QLatin1Char('\r'), QLatin1Char(' '));
    text.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return text.trimmed();
}

std::vector<QByteArray> bifFiles(const QString& backups)
{
    std::vector<QByteArray> files;
    if (DIR* dir = ::opendir(NameCodec::encode(backups).constData())) {
        while (struct dirent* e = ::readdir(dir)) {
            const QByteArray name(e->d_name);
            if (name.endsWith(".bif") && name.size() > 4)
                files.push_back(name);
        }
        ::closedir(dir);
    }
    std::sort(files.begin(), files.end());
    return files;
}

QString escapedField(const QString& text)
{
    QString out;
    for (const QChar c : text) {
        if (c == QLatin1Char('\\'))
            out += QStringLiteral("\\\\");
        else if (c == QLatin1Char('\t'))
            out += QStringLiteral("\\t");
        else if (c == QLatin1Char('\n'))
            out += QStringLiteral("\\n");
        else
            out += c;
    }
    return out;
}

} // namespace DriverText
