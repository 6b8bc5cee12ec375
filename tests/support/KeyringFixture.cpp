#include "KeyringFixture.h"

#include "KvTest.h"
#include "platform/SecretKeychain.h"

#include <QDir>

namespace {
const char* const kVariables[] = { "HOME", "XDG_DATA_HOME", "XDG_RUNTIME_DIR" };

QString folderTemplate()
{
    const QString base = KvTest::buildDir() + QStringLiteral("/tests/tmp");
    QDir().mkpath(base);
    return base + QStringLiteral("/keyring-XXXXXX");
}
} // namespace

KeyringFixture::KeyringFixture()
    : m_dir(folderTemplate())
{
    if (!m_dir.isValid()) {
        m_error = QStringLiteral("no temporary folder");
        return;
    }
    for (const char* name : kVariables)
        m_savedEnv.append({ name, qEnvironmentVariableIsSet(name) ? qgetenv(name) : QByteArray() });
    const QString base = m_dir.path();
    for (const char* sub : { "home", "data", "run" })
        QDir().mkpath(base + QLatin1Char('/') + QLatin1String(sub));
    QFile::setPermissions(base + QStringLiteral("/run"),
        QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    qputenv("HOME", QFile::encodeName(base + QStringLiteral("/home")));
    qputenv("XDG_DATA_HOME", QFile::encodeName(base + QStringLiteral("/data")));
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(base + QStringLiteral("/run")));

    m_bus = std::make_unique<PrivateBus>();
    if (!m_bus->isValid()) {
        m_error = QStringLiteral("no private bus: ") + m_bus->errorString();
        return;
    }
    // a new bus: libsecret must not keep a connection to an earlier one
    SecretKeychain::disconnect();
    Subprocess::Options o;
    o.program = QStringLiteral("gnome-keyring-daemon");
    o.arguments = { QStringLiteral("--unlock"), QStringLiteral("--components=secrets") };
    o.standardInput = "kv-test\n";
    const Subprocess::Result r = Subprocess::run(o, 20000);
    if (!r.succeeded())
        m_error = QStringLiteral("gnome-keyring-daemon did not start: ") + r.error
            + QString::fromLocal8Bit(r.err);
}

KeyringFixture::~KeyringFixture()
{
    SecretKeychain::disconnect();
    m_bus.reset(); // the keyring daemon ends with its bus
    for (const auto& [name, value] : m_savedEnv) {
        if (value.isNull())
            qunsetenv(name.constData());
        else
            qputenv(name.constData(), value);
    }
}

Subprocess::Result KeyringFixture::secretTool(const QStringList& arguments, const QByteArray& input)
{
    Subprocess::Options o;
    o.program = QStringLiteral("secret-tool");
    o.arguments = arguments;
    o.standardInput = input;
    return Subprocess::run(o, 20000);
}
