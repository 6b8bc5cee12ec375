#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QTemporaryDir>

// A folder of scripted fake tools, put first on PATH for as long as the object lives. Each tool
// prints the given stdout and stderr, optionally sleeps, and exits with the given code; every
// invocation's arguments are recorded (one NUL-terminated entry per argument) so tests can check
// exactly what a tool received.
class FakeToolDir
{
public:
    struct Script
    {
        QByteArray standardOutput;
        QByteArray standardError;
        int exitCode = 0;
        int sleepMs = 0; // after printing, before exiting
    };

    explicit FakeToolDir(bool prependToPath = true);
    ~FakeToolDir();
    FakeToolDir(const FakeToolDir&) = delete;
    FakeToolDir& operator=(const FakeToolDir&) = delete;

    bool isValid() const { return m_dir.isValid(); }
    QString path() const { return m_dir.path(); }
    QString toolPath(const QString& name) const { return path() + QLatin1Char('/') + name; }

    // Writes (or rewrites) the fake tool NAME.
    void addTool(const QString& name, const Script& script);
    void addTool(const QString& name, const QByteArray& out, const QByteArray& err = {}, int exitCode = 0,
        int sleepMs = 0);

    // The arguments (without argv[0]) of each invocation of NAME so far, in order.
    QList<QList<QByteArray>> invocations(const QString& name) const;
    // The same, through the lossless name conversion.
    QList<QStringList> invocationStrings(const QString& name) const;
    int invocationCount(const QString& name) const { return int(invocations(name).size()); }

private:
    QTemporaryDir m_dir;
    QByteArray m_oldPath;
    bool m_prepended = false;
};
