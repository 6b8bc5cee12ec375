#pragma once

#include <QDBusAbstractAdaptor>
#include <QStringList>
#include <QVariantMap>

class MainWndController;

// The running application's org.freedesktop.Application at /com/brisoltica/KelvanePro3: a
// second start hands its arguments here and ends. Without "minimize" the running application
// comes to the front as when the user opens it from the agent's menu.
class AppActivation : public QDBusAbstractAdaptor
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Application")
public:
    static constexpr const char* objectPath = "/com/brisoltica/KelvanePro3";

    explicit AppActivation(MainWndController* hub);

    // How long a second start waits for a first one that is still starting.
    static constexpr int kStartingBoundMs = 30000;
    // The second start's side: calls Activate with the arguments under "arguments".
    static bool activateRunning(const QStringList& arguments);
    // What the running application does with a second start's arguments.
    static void activateWith(MainWndController& hub, const QStringList& arguments);

public Q_SLOTS:
    void Activate(const QVariantMap& platformData);
    void Open(const QStringList& uris, const QVariantMap& platformData);
    void ActivateAction(
        const QString& action, const QVariantList& parameter, const QVariantMap& platformData);

private:
    MainWndController* m_hub;
};
