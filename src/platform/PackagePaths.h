#pragma once

#include <QString>
#include <QStringList>

// Folders the outlines show as one item that cannot be opened: a folder whose name ends in one of
// the configured extensions. "/dev" and everything below it is never a package.
namespace PackagePaths {

// ".app", ".bundle", ".sparsebundle", ".photoslibrary".
const QStringList& extensions();
bool isPackage(const QString& path, bool isFolder);

} // namespace PackagePaths
