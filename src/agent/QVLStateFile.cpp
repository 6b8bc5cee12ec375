#include "agent/QVLStateFile.h"

#include "platform/AppPaths.h"
#include "platform/PlistBridge.h"
#include "utilities/MainPreferences.h"

namespace {

const QString kNextDate = QStringLiteral("NextDateKey");
const QString kLaunchPath = QStringLiteral("LaunchPath");
const QString kVolumes = QStringLiteral("VolumeIDArray");
const QString kState = QStringLiteral("AgentState");
const QString kInterval = QStringLiteral("AgentStateModifyInterval");
const QString kResume = QStringLiteral("ScheduleResumeDate");

} // namespace

QVLAgentData::QVLAgentData()
{
    // A fresh state is word 0 stamped now; the agent's default is word 8 stamped 0, so that any
    // state the main application sends wins.
    agentState.set(QVAgentState::AgentNeeded, 0, QDateTime());
}

QString QVLStateFile::folderPath()
{
    return AppPaths::dataHome() + QStringLiteral("/QVP3Launcher");
}

QString QVLStateFile::filePath()
{
    return folderPath() + QStringLiteral("/QVP3Launcher.plist");
}

QVLAgentData QVLStateFile::load(QString* problem)
{
    QVLAgentData data;
    const PlistBridge::ReadResult read = PlistBridge::readFile(filePath());
    if (read.status == PlistBridge::ReadStatus::Missing)
        return data;
    if (!read.ok() || read.value.typeId() != QMetaType::QVariantMap) {
        if (problem)
            *problem = QStringLiteral("The state file %1 cannot be used (%2); the defaults apply.")
                           .arg(filePath(), read.ok() ? QStringLiteral("not a dictionary") : read.error);
        return data;
    }
    const QVariantMap m = read.map();
    data.date = PlistValue::date(m, kNextDate);
    data.launchPath = PlistValue::string(m, kLaunchPath);
    for (const QVariant& v : PlistValue::array(m, kVolumes)) {
        if (v.typeId() == QMetaType::QString && !v.toString().isEmpty())
            data.volumeIDArray << v.toString();
    }
    const QVariant word = m.value(kState);
    const int bits = PlistValue::isInteger(word) ? int(word.toLongLong()) : QVAgentState::AgentNeeded;
    data.agentState.set(bits, PlistValue::real(m, kInterval, 0), PlistValue::date(m, kResume));
    return data;
}

bool QVLStateFile::save(const QVLAgentData& data, QString* error)
{
    if (!MainPreferences::createAppSupportFolder(folderPath())) {
        if (error)
            *error = QStringLiteral("Cannot create the folder %1").arg(folderPath());
        return false;
    }
    const PlistBridge::ReadResult read = PlistBridge::readFile(filePath());
    QVariantMap m = read.ok() ? read.map() : QVariantMap();
    if (data.date.isValid())
        m.insert(kNextDate, data.date.toUTC());
    else
        m.remove(kNextDate);
    if (!data.launchPath.isEmpty())
        m.insert(kLaunchPath, data.launchPath);
    else
        m.remove(kLaunchPath);
    if (!data.volumeIDArray.isEmpty())
        m.insert(kVolumes, QVariant(data.volumeIDArray).toList());
    else
        m.remove(kVolumes);
    m.insert(kState, qint64(data.agentState.getInt()));
    m.insert(kInterval, data.agentState.modifyInterval());
    // An expired resume date must not come back at the next start.
    if (data.agentState.scheduleResumeDate().isValid())
        m.insert(kResume, data.agentState.scheduleResumeDate().toUTC());
    else
        m.remove(kResume);
    QString keptAside;
    const bool ok = PlistBridge::writeFileAtomically(filePath(), m, error, &keptAside);
    if (ok && !keptAside.isEmpty() && error)
        *error = QStringLiteral("The unreadable state file was kept aside as %1").arg(keptAside);
    return ok;
}
