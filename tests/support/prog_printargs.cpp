// Prints its arguments, each followed by a NUL byte, so tests can check that every argument
// arrived as exactly one literal word. With PRINTARGS_OUT set, writes them to that file instead.
// With PRINTARGS_STDERR set, also prints that text on stderr.

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv)
{
    const char* outPath = std::getenv("PRINTARGS_OUT");
    FILE* out = outPath && *outPath ? std::fopen(outPath, "wb") : stdout;
    if (!out)
        return 2;
    for (int i = 1; i < argc; ++i) {
        std::fwrite(argv[i], 1, std::strlen(argv[i]), out);
        std::fputc('\0', out);
    }
    if (const char* err = std::getenv("PRINTARGS_STDERR"))
        std::fputs(err, stderr);
    return std::fclose(out) == 0 ? 0 : 3;
}
