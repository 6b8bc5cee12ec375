#pragma once

#include "platform/SecretKeychain.h"

#include <QList>

// An in-memory keychain for unit tests; `unavailable` makes every call answer Unavailable (the
// Secret Service unreachable or locked). Installs itself as SecretKeychain::shared() while it lives.
class MemoryKeychain : public SecretKeychain
{
public:
    struct Item
    {
        QString service, account, kind, label, secret;
    };

    MemoryKeychain();
    ~MemoryKeychain() override;

    QList<Item> items;
    bool unavailable = false;

    Status count(const QString& account, int* count, QString* error = nullptr) override;
    Status read(const QString& account, QString* secret, QString* error = nullptr) override;
    Status add(const QString& service, const QString& account, const QString& kind, const QString& label,
        const QString& secret, QString* error = nullptr) override;
    Status modify(const QString& account, const QString& secret, QString* error = nullptr) override;
    Status remove(const QString& account, QString* error = nullptr) override;
};
