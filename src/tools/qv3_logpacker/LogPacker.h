#pragma once

#include <string>

// Packs the run logs of a folder ("log_*.txt") one by one into gzip-compressed tar files beside
// them ("log_*.tgz") with the given tar program, and removes each log only once its archive is
// complete. Reports on standard output; one file's failure never stops the others.
class LogPacker
{
public:
    LogPacker(std::string tarPath, std::string folder);

    // Exit status of the tool: 0 whatever happened to single files.
    int run();

    // A run log: "log_" at the start and ".txt" at the end.
    static bool isLogName(const std::string& name);

private:
    bool packFile(const std::string& name);

    std::string m_tarPath;
    std::string m_folder;
};
