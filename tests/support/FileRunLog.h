#pragma once

#include "utilities/IRunLog.h"

#include <QString>

// A run log over a file of the test's own. It takes no lock and, with splitWrites, writes each
// text in two write(2) calls, as an unlocked buffered writer would: whole lines in the file then
// prove that the callers serialise their writes.
class FileRunLog : public IRunLog
{
public:
    explicit FileRunLog(const QString& path, bool splitWrites = false);
    ~FileRunLog() override;
    FileRunLog(const FileRunLog&) = delete;
    FileRunLog& operator=(const FileRunLog&) = delete;

    bool isOpen() const { return m_fd >= 0; }
    QString path() const { return m_path; }

    void traceToLog(const QByteArray& text) override;
    QString tempFileName() override { return QString(); }

private:
    QString m_path;
    int m_fd = -1;
    bool m_splitWrites;
};
