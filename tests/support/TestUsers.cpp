#include "TestUsers.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <memory>
#include <pwd.h>

namespace TestUsers {

QString stateDir()
{
    return QStringLiteral("/tmp/kvtest-state");
}

bool available()
{
    return ::getpwnam("kvtest") && ::getpwnam("kvtestout") && ::getpwnam("kvtestnp")
        && QFile::exists(stateDir() + QStringLiteral("/kvtest.password"));
}

QByteArray password(const QString& user)
{
    QFile f(stateDir() + QLatin1Char('/') + user + QStringLiteral(".password"));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll().trimmed();
}

QString reachableProgram(const QString& name)
{
    static std::unique_ptr<QTemporaryDir> dir;
    if (!dir) {
        dir = std::make_unique<QTemporaryDir>(QStringLiteral("/tmp/kvtest-progs-XXXXXX"));
        QFile::setPermissions(dir->path(),
            QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner | QFileDevice::ReadGroup
                | QFileDevice::ExeGroup | QFileDevice::ReadOther | QFileDevice::ExeOther);
    }
    const QString target = dir->path() + QLatin1Char('/') + name;
    if (!QFile::exists(target)) {
        QFile::copy(KvTest::testBinDir() + QLatin1Char('/') + name, target);
        QFile::setPermissions(target,
            QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner | QFileDevice::ReadGroup
                | QFileDevice::ExeGroup | QFileDevice::ReadOther | QFileDevice::ExeOther);
    }
    return target;
}

Subprocess::Options runAs(const QString& user, const QString& program, const QStringList& arguments,
    const QMap<QString, QString>& environment)
{
    Subprocess::Options o;
    o.program = QStringLiteral("/usr/sbin/runuser");
    QStringList args { QStringLiteral("-u"), user };
    if (!environment.isEmpty())
        args << QStringLiteral("-w") << QStringList(environment.keys()).join(QLatin1Char(','));
    args << QStringLiteral("--") << program;
    o.arguments = args + arguments;
    o.environment = environment;
    return o;
}

} // namespace TestUsers
