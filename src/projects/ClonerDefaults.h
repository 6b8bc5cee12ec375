#pragma once

#include <QStringList>

// The default excluded and hidden path entries of the application's Info.plist, which the
// snapshot-backup and the synchronization lists offer: "ClonerDefaultExcludes", and the hidden list
// "ClonerDefaultHiddens" with the excludes appended, each entry stripped of a trailing "/*" or "/".
struct ClonerDefaults
{
    QStringList excludes;
    QStringList hiddens;

    // Read from the application's Info.plist; entries that are not texts are skipped.
    static ClonerDefaults fromApplication();
    static QStringList normalizedHiddens(const QStringList& hiddens, const QStringList& excludes);
};
