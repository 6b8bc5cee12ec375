#pragma once

#include <QString>
#include <QStringList>

// The file that receives each pass's argument vector: every element followed by a NUL byte, and
// one more NUL after the vector, so that readers can split vectors at the empty element. The
// file is opened for appending; each vector is written with one write call.
class ArgvOutFile
{
public:
    ArgvOutFile() = default;
    ~ArgvOutFile();
    ArgvOutFile(const ArgvOutFile&) = delete;
    ArgvOutFile& operator=(const ArgvOutFile&) = delete;

    // false and *error on failure
    bool open(const QString& path, QString* error);
    bool isOpen() const { return m_fd >= 0; }
    // false when the vector could not be written whole
    bool append(const QStringList& argv);

    // The bytes of one vector as the file holds them.
    static QByteArray encode(const QStringList& argv);

private:
    int m_fd = -1;
};
