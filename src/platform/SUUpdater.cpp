#include "SUUpdater.h"

#include "platform/AppPaths.h"

#include <QSettings>

namespace {
const QString kAutomatic = QStringLiteral("SUEnableAutomaticChecks");
const QString kInterval = QStringLiteral("SUScheduledCheckInterval");

bool isYes(const QVariant& value)
{
    if (value.typeId() == QMetaType::Bool)
        return value.toBool();
    if (value.typeId() == QMetaType::QString)
        return value.toString().compare(QLatin1String("YES"), Qt::CaseInsensitive) == 0
            || value.toString() == QLatin1String("true");
    return false;
}
} // namespace

SUUpdater& SUUpdater::sharedUpdater()
{
    static SUUpdater updater;
    return updater;
}

bool SUUpdater::automaticallyChecksForUpdates() const
{
    return isYes(AppPaths::appSettings()->value(kAutomatic));
}

void SUUpdater::setAutomaticallyChecksForUpdates(bool on)
{
    QSettings* settings = AppPaths::appSettings();
    settings->setValue(kAutomatic, on);
    settings->sync();
}

double SUUpdater::updateCheckInterval() const
{
    bool ok = false;
    const double seconds = AppPaths::appSettings()->value(kInterval).toDouble(&ok);
    return ok && seconds > 0 ? seconds : kDefaultInterval;
}

void SUUpdater::setUpdateCheckInterval(double seconds)
{
    if (!(seconds > 0))
        return;
    QSettings* settings = AppPaths::appSettings();
    settings->setValue(kInterval, seconds);
    settings->sync();
}

bool SUUpdater::checkAtStartupRequested()
{
    return isYes(AppPaths::appSettings()->value(QStringLiteral("SUCheckAtStartup")));
}

QString SUUpdater::checkForUpdatesText()
{
    return QStringLiteral("Updates: this build is updated by the system's package manager");
}
