#pragma once

#include "PrivateBus.h"
#include "platform/Subprocess.h"

#include <QTemporaryDir>
#include <memory>

// A Secret Service of the test's own: gnome-keyring-daemon on a private session bus, with HOME,
// XDG_DATA_HOME and XDG_RUNTIME_DIR in a temporary folder, its login keyring made and unlocked
// with a throw-away password given as a line. The daemon ends with the bus.
class KeyringFixture
{
public:
    KeyringFixture();
    ~KeyringFixture();
    KeyringFixture(const KeyringFixture&) = delete;
    KeyringFixture& operator=(const KeyringFixture&) = delete;

    bool isValid() const { return m_error.isEmpty(); }
    QString errorString() const { return m_error; }
    QString home() const { return m_dir.path() + QStringLiteral("/home"); }

    // secret-tool on this keychain (store reads the secret from stdin).
    Subprocess::Result secretTool(const QStringList& arguments, const QByteArray& input = QByteArray());

private:
    QTemporaryDir m_dir;
    std::unique_ptr<PrivateBus> m_bus;
    QString m_error;
    QList<QPair<QByteArray, QByteArray>> m_savedEnv;
};
