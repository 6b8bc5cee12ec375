#pragma once

#include "KvTest.h"
#include "platform/Subprocess.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

// The users of the kv_testuser fixture (tests/support/testuser_fixture.sh): kvtest (group sudo),
// kvtestout (no sudo rights) and kvtestnp (NOPASSWD). Tests that use them carry
// "fixtures=kv_testuser lock=kvtest" and start with KV_REQUIRE_TEST_USERS().
namespace TestUsers {

QString stateDir();
bool available();
QByteArray password(const QString& user);
// A copy of the helper program NAME (from the test programs folder) in a 0755 folder that the
// test users can reach; the folder goes when the test process ends.
QString reachableProgram(const QString& name);
// runuser -u USER -- PROGRAM ARGS..., with the environment variables given passed through.
Subprocess::Options runAs(const QString& user, const QString& program, const QStringList& arguments,
    const QMap<QString, QString>& environment = {});

} // namespace TestUsers

#define KV_REQUIRE_TEST_USERS()                                                                              \
    do {                                                                                                     \
        KV_REQUIRE_ROOT();                                                                                   \
        if (!TestUsers::available())                                                                         \
            QSKIP("the test users are missing (run through ctest: fixture kv_testuser)");                    \
    } while (false)
