#include "KvTest.h"

#include <QDir>

namespace KvTest {

namespace {
QString fromEnv(const char* name, const QString& fallback)
{
    const QByteArray value = qgetenv(name);
    return value.isEmpty() ? fallback : QString::fromLocal8Bit(value);
}
} // namespace

QString buildDir() { return fromEnv("KV_BUILD_DIR", QDir::currentPath()); }
QString sourceDir() { return fromEnv("KV_SOURCE_DIR", QDir::currentPath()); }
QString testBinDir() { return fromEnv("KV_TEST_BIN_DIR", buildDir() + QStringLiteral("/tests/bin")); }
QString appContentsDir() { return buildDir() + QStringLiteral("/Kelvane Pro 3.app/Contents"); }

} // namespace KvTest
