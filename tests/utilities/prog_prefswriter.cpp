// Saves the main preferences over and over until it is killed; prints one line after the first
// save. Used to show that a save killed at any moment leaves a whole file.
#include "utilities/MainPreferences.h"

#include <QCoreApplication>
#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    MainPreferences& prefs = MainPreferences::shared();
    for (int i = 0;; ++i) {
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
