// Saves the main preferences over and over until it is killed; prints one line after the first
// save. With the argument "perkey" it writes one key through the per-key functions instead. Used to show that
// a save killed at any moment leaves a whole file.
#include "utilities/ICommon.h"
#include "utilities/MainPreferences.h"

#include <QCoreApplication>
#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    MainPreferences& prefs = MainPreferences::shared();
    const bool perKey = argc > 1 && QByteArray(argv[1]) == "perkey";
    for (int i = 0;; ++i) {
        if (perKey) {
            if (!ICommon::saveMainPrefIntValue(i, QStringLiteral("Counter")))
                return 1;
            if (i == 0) {
                std::printf("saved\n");
                std::fflush(stdout);
            }
            continue;
        }
        prefs.setKeepLogFilesCount(i % 1000);
        prefs.setLastPrefCompactData(QByteArray(4096 + i % 4096, char('a' + i % 26)));
        if (!prefs.savePreferences())
            return 1;
        if (i == 0) {
            std::printf("saved\n");
            std::fflush(stdout);
        }
    }
}
