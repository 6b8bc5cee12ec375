#pragma once

#include <QByteArrayList>
#include <QString>

// The outside burning application's tool object. Linux has no such application: the stand-in
// collects the files it is handed, reports "burning application not found" (status 6), and
// never burns, so projects of that destination kind always take the failure path.
class CToastTool
{
public:
    static constexpr int kStatusNotFound = 6;

    int status() const { return kStatusNotFound; }
    QString statusText() const;
    void addBackupFile(const QByteArray& path) { m_files << path; }
    const QByteArrayList& files() const { return m_files; }
    // Starts the burn: always NO here.
    bool execute() { return false; }

private:
    QByteArrayList m_files;
};
