#pragma once

#include <QString>
#include <QStringList>
#include <functional>

// Runs one argument vector with administrator rights, for the workspace's ownership fixes and
// folders made as root. Every such call of this folder goes through here, so the way root is
// reached (the privilege backend) lives in one place. Arguments are never joined into a shell
// command.
namespace RootCommand {

// Runs argv as root and waits; false and *error (the tool's own message) on failure.
bool run(const QStringList& argv, QString* error = nullptr);

// Starts argv as root without waiting. The child is registered and reaped; done(ok, error) runs
// on the main thread when it has ended.
void start(const QStringList& argv, std::function<void(bool ok, const QString& error)> done);

} // namespace RootCommand
