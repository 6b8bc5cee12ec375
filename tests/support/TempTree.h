#pragma once

#include <QByteArray>
#include <QString>
#include <string>
#include <sys/types.h>
#include <vector>

// A temporary folder on the build's own file system (<build>/tests/tmp, never a tmpfs, which
// the volume table leaves out), removed with everything in it when the object goes.
// Relative names are bytes (std::string), so names that are not UTF-8 can be made; the QString
// overloads pass NameCodec. Everything is made with POSIX calls and std::filesystem, because
// QDir and QFile::decodeName mangle names that are not UTF-8.
class TempTree
{
public:
    explicit TempTree(const QString& label = QStringLiteral("tree"));
    ~TempTree();
    TempTree(const TempTree&) = delete;
    TempTree& operator=(const TempTree&) = delete;

    bool isValid() const { return !m_path.empty(); }
    QString path() const; // the root folder (through NameCodec)
    const std::string& pathStd() const { return m_path; }
    QString filePath(const std::string& relative) const; // root + "/" + relative
    QString filePath(const QString& relative) const;
    std::string filePathStd(const std::string& relative) const;

    // Builders; parents are made as needed. Relative paths use "/" between components.
    bool mkdir(const std::string& relative, mode_t mode = 0755);
    bool writeFile(const std::string& relative, const QByteArray& content = QByteArray(), mode_t mode = 0644);
    bool writeFile(const QString& relative, const QByteArray& content = QByteArray(), mode_t mode = 0644);
    bool symlink(const std::string& target, const std::string& relative);
    bool hardlink(const std::string& existingRelative, const std::string& relative);
    QByteArray readFile(const std::string& relative) const;
    bool exists(const std::string& relative) const; // lstat, so dangling links count
    // Names in a folder, sorted by bytes, without "." and "..".
    std::vector<std::string> list(const std::string& relative = std::string()) const;

    // Names that break careless code: blanks, quotes, "$( )", backquotes, a newline, a
    // leading "-", bytes that are not UTF-8, a 255-byte name, glob characters, a backslash.
    static std::vector<std::string> oddNames();
    // Makes one file per odd name inside the folder (made if needed), each holding its own
    // name as content; returns the names.
    std::vector<std::string> makeOddFiles(const std::string& folder = std::string());

    void keep() { m_keep = true; } // leave the tree on disk (for looking at a failure)
    static QString baseDir(); // <build>/tests/tmp

private:
    std::string m_path;
    bool m_keep = false;
};
