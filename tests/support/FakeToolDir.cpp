#include "FakeToolDir.h"

#include "KvTest.h"
#include "platform/NameCodec.h"

#include <QDir>
#include <QFile>
#include <sys/stat.h>

namespace {

// One shell word in single quotes.
QByteArray quoted(const QByteArray& word)
{
    QByteArray out = "'";
    for (char c : word) {
        if (c == '\'')
            out += "'\\''";
        else
            out += c;
    }
    return out + "'";
}

void writeFile(const QString& path, const QByteArray& data, QFileDevice::Permissions perms)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        qFatal("FakeToolDir: cannot write %s", qPrintable(path));
    f.write(data);
    f.close();
    f.setPermissions(perms);
}

} // namespace

FakeToolDir::FakeToolDir(bool prependToPath)
    : m_dir([]() -> QString {
        const QString base = KvTest::buildDir() + QStringLiteral("/tests/tmp");
        QDir().mkpath(base);
        return base + QStringLiteral("/faketools-XXXXXX");
    }())
{
    if (!m_dir.isValid())
        qFatal("FakeToolDir: cannot create a folder");
    // Other users (the test user, root through sudo) may run the tools and record their calls.
    ::chmod(QFile::encodeName(path()).constData(), 0755);
    QDir(path()).mkpath(QStringLiteral(".script"));
    QDir(path()).mkpath(QStringLiteral(".calls"));
    ::chmod(QFile::encodeName(path() + QStringLiteral("/.script")).constData(), 0755);
    ::chmod(QFile::encodeName(path() + QStringLiteral("/.calls")).constData(), 01777);
    if (prependToPath) {
        m_oldPath = qgetenv("PATH");
        qputenv("PATH", QFile::encodeName(path()) + ':' + m_oldPath);
        m_prepended = true;
    }
}

FakeToolDir::~FakeToolDir()
{
    if (m_prepended)
        qputenv("PATH", m_oldPath);
}

void FakeToolDir::addTool(const QString& name, const Script& script)
{
    const QByteArray dir = QFile::encodeName(path());
    const QByteArray n = QFile::encodeName(name);
    const QString base = path() + QStringLiteral("/.script/") + name;
    const auto readable
        = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther;
    writeFile(base + QStringLiteral(".out"), script.standardOutput, readable);
    writeFile(base + QStringLiteral(".err"), script.standardError, readable);

    QByteArray text = "#!/bin/sh\n";
    text += "d=" + quoted(dir) + "\n";
    text += "n=" + quoted(n) + "\n";
    // the first free sequence number, taken atomically (noclobber creates with O_EXCL)
    text += "i=0\n";
    text += "while ! (set -C; : > \"$d/.calls/$n.$i\") 2>/dev/null; do i=$((i+1)); done\n";
    text += "if [ $# -gt 0 ]; then printf '%s\\0' \"$@\" > \"$d/.calls/$n.$i\"; fi\n";
    text += "cat \"$d/.script/$n.out\"\n";
    text += "cat \"$d/.script/$n.err\" >&2\n";
    if (script.sleepMs > 0)
        text += "sleep " + QByteArray::number(script.sleepMs / 1000.0, 'f', 3) + "\n";
    text += "exit " + QByteArray::number(script.exitCode) + "\n";
    writeFile(toolPath(name), text,
        readable | QFileDevice::ExeOwner | QFileDevice::ExeGroup | QFileDevice::ExeOther);
}

void FakeToolDir::addTool(
    const QString& name, const QByteArray& out, const QByteArray& err, int exitCode, int sleepMs)
{
    addTool(name, Script { out, err, exitCode, sleepMs });
}

QList<QList<QByteArray>> FakeToolDir::invocations(const QString& name) const
{
    QList<QList<QByteArray>> result;
    for (int i = 0;; ++i) {
        QFile f(path() + QStringLiteral("/.calls/") + name + QLatin1Char('.') + QString::number(i));
        if (!f.open(QIODevice::ReadOnly))
            break;
        QByteArray data = f.readAll();
        QList<QByteArray> args;
        if (!data.isEmpty()) {
            if (data.endsWith('\0'))
                data.chop(1);
            args = data.split('\0');
        }
        result.append(args);
    }
    return result;
}

QList<QStringList> FakeToolDir::invocationStrings(const QString& name) const
{
    QList<QStringList> result;
    for (const QList<QByteArray>& call : invocations(name)) {
        QStringList args;
        for (const QByteArray& a : call)
            args.append(NameCodec::decode(a));
        result.append(args);
    }
    return result;
}
