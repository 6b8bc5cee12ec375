#pragma once

#include <QString>
#include <QtTest>

#include <unistd.h>

// Paths and conditions every test needs, from the environment that ctest sets.
namespace KvTest {

QString buildDir();     // the build folder (KV_BUILD_DIR)
QString sourceDir();    // the checkout (KV_SOURCE_DIR)
QString testBinDir();   // helper programs of tests/**/prog_*.cpp (KV_TEST_BIN_DIR)
QString appContentsDir(); // "<build>/Kelvane Pro 3.app/Contents"

inline bool isRoot() { return ::geteuid() == 0; }

} // namespace KvTest

// Skips the current test function when not running as root.
#define KV_REQUIRE_ROOT()                                                                          \
    do {                                                                                           \
        if (!KvTest::isRoot())                                                                     \
            QSKIP("needs root (loop devices, mounts or other users)");                             \
    } while (false)
