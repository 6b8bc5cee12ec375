// Makes a private temporary file under the folder given as argument 1 and prints its path.
// Argument 2: "exit" ends normally (the private folder goes with the process), "hang" waits to
// be killed (the folder stays behind, as after a crash).
#include "utilities/TempFolder.h"

#include <cstdio>
#include <cstring>
#include <unistd.h>

int main(int argc, char** argv)
{
    if (argc < 3)
        return 2;
    const std::string file = TempFolder::createFile(argv[1]);
    if (file.empty())
        return 1;
    std::printf("%s\n", file.c_str());
    std::fflush(stdout);
    if (std::strcmp(argv[2], "hang") == 0) {
        for (;;)
            ::pause();
    }
    return 0;
}
