#pragma once

#include <QByteArray>
#include <QString>
#include <vector>

// Small pieces every kit of the driver prints or reads with.
namespace DriverText {

// "kv-run-project: <text>" on standard error, the text's bytes as they are.
void printToStderr(const QString& text);
// One machine-read line ("pgid: N", "indicator: N") on standard error, without the prefix.
void printLineToStderr(const QString& line);
// The text on one line, for the driver's last line.
QString oneLine(QString text);
// A name on one field of a tab-separated line: tab, line feed and backslash written as escapes.
QString escapedField(const QString& text);
// Everything on standard input, up to its end.
QByteArray readAllStandardInput();
// The project files (*.bif) of a Backups folder, raw names in byte order.
std::vector<QByteArray> bifFiles(const QString& backups);

} // namespace DriverText
