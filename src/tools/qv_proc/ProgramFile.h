#pragma once

#include <cjson/cJSON.h>
#include <string>
#include <sys/types.h>

// The engine's program: a JSON file that names the commands it runs (as root, in clones). It is
// taken only from a place nobody else could have written: a regular file, opened without following
// a link, owned by root or the invoking user, writable by neither group nor others, in a folder
// that others cannot write either. The checks are made on the opened file, so a swap after the
// check changes nothing.
class ProgramFile
{
public:
    ProgramFile() = default;
    ~ProgramFile();
    ProgramFile(const ProgramFile&) = delete;
    ProgramFile& operator=(const ProgramFile&) = delete;

    // The user who started the engine: SUDO_UID or PKEXEC_UID when it runs as root through them,
    // else the real user.
    static uid_t invokingUid();

    // Opens, checks and parses the file; false with a reason in *error.
    bool load(const std::string& path, std::string* error);
    cJSON* root() const { return m_root; }

    // The largest program accepted.
    static constexpr off_t MaxSize = 4 * 1024 * 1024;

private:
    cJSON* m_root = nullptr;
};
