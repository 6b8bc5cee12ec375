#include "platform/BurnDrives.h"

#include "platform/AppPaths.h"

#include <QDir>
#include <QMutex>
#include <QMutexLocker>
#include <algorithm>

namespace {

QMutex g_mutex;
QStringList g_runDrives;
bool g_runDrivesSet = false;
QString g_sysfsRoot = QStringLiteral("/sys");

// "sr12" -> 12; -1 for anything that is not "sr" followed by digits.
int driveNumber(const QString& name)
{
    if (!name.startsWith(QLatin1String("sr")) || name.size() < 3)
        return -1;
    bool ok = false;
    const int n = name.mid(2).toInt(&ok);
    return ok && n >= 0 ? n : -1;
}

} // namespace

namespace BurnDrives {

void setRunDrives(const QStringList& drives)
{
    QMutexLocker lock(&g_mutex);
    g_runDrives = drives;
    g_runDrivesSet = !drives.isEmpty();
}

void setSysfsRoot(const QString& root)
{
    QMutexLocker lock(&g_mutex);
    g_sysfsRoot = root.isEmpty() ? QStringLiteral("/sys") : root;
}

QStringList listFrom(const QStringList& configured, const QString& sysfsRoot)
{
    QStringList drives;
    for (const QString& entry : configured)
        if (!entry.trimmed().isEmpty())
            drives << entry.trimmed();
    if (!drives.isEmpty())
        return drives;
    const QDir block(sysfsRoot + QStringLiteral("/class/block"));
    std::vector<int> numbers;
    for (const QString& name : block.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)) {
        const int n = driveNumber(name);
        if (n >= 0)
            numbers.push_back(n);
    }
    std::sort(numbers.begin(), numbers.end());
    for (const int n : numbers)
        drives << QStringLiteral("/dev/sr%1").arg(n);
    return drives;
}

QStringList list()
{
    QString root;
    {
        QMutexLocker lock(&g_mutex);
        if (g_runDrivesSet)
            return g_runDrives;
        root = g_sysfsRoot;
    }
    return listFrom(AppPaths::appSettings()->value(QStringLiteral("BurnDrives")).toStringList(), root);
}

bool any()
{
    return !list().isEmpty();
}

} // namespace BurnDrives
