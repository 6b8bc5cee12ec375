#pragma once

#include <string>
#include <sys/types.h>

// The snapshot tool. Snapshots of a volume are read-only btrfs snapshots of the subvolume mounted
// at the volume path, kept in "<volume root>/.qvsnapshots/<name>". The tool works only for the
// system's own programs: its parent process must be one of them.
//
//   QVSnap -c NAME VOLUME          create
//   QVSnap -d NAME VOLUME          delete
//   QVSnap -r NAME VOLUME          revert the volume to the snapshot
//   QVSnap -n OLD NEW VOLUME       rename
//   QVSnap -s NAME VOLUME FOLDER   mount read-only on FOLDER
//   QVSnap -l VOLUME               list, one name a line
class QVSnap
{
public:
    static int run(int argc, char** argv);

    // The parent's short command name (/proc/PID/comm), empty when it cannot be read.
    static std::string processName(pid_t pid);
    static bool isAllowedParent(const std::string& name);

    // A snapshot name is one path component: not empty, not "." or "..", no "/", at most 255 bytes.
    static bool isValidName(const std::string& name);

private:
    static int create(const std::string& name, const std::string& volume);
    static int remove(const std::string& name, const std::string& volume);
    static int revert(const std::string& name, const std::string& volume);
    static int rename(const std::string& oldName, const std::string& newName, const std::string& volume);
    static int mount(const std::string& name, const std::string& volume, const std::string& folder);
    static int list(const std::string& volume);
};
