#include "MemoryKeychain.h"

MemoryKeychain::MemoryKeychain()
{
    SecretKeychain::setShared(this);
}

MemoryKeychain::~MemoryKeychain()
{
    SecretKeychain::setShared(nullptr);
}

#define KV_KEYCHAIN_AVAILABLE()                                                                              \
    if (unavailable) {                                                                                       \
        if (error)                                                                                           \
            *error = QStringLiteral("The keychain is locked.");                                              \
        return Status::Unavailable;                                                                          \
    }

SecretKeychain::Status MemoryKeychain::count(const QString& account, int* count, QString* error)
{
    if (count)
        *count = 0;
    KV_KEYCHAIN_AVAILABLE()
    int n = 0;
    for (const Item& i : items)
        n += i.account == account;
    if (count)
        *count = n;
    return n ? Status::Ok : Status::NotFound;
}

SecretKeychain::Status MemoryKeychain::read(const QString& account, QString* secret, QString* error)
{
    KV_KEYCHAIN_AVAILABLE()
    for (const Item& i : items) {
        if (i.account == account) {
            *secret = i.secret;
            return Status::Ok;
        }
    }
    return Status::NotFound;
}

SecretKeychain::Status MemoryKeychain::add(const QString& service, const QString& account,
    const QString& kind, const QString& label, const QString& secret, QString* error)
{
    KV_KEYCHAIN_AVAILABLE()
    items.append({ service, account, kind, label, secret });
    return Status::Ok;
}

SecretKeychain::Status MemoryKeychain::modify(const QString& account, const QString& secret, QString* error)
{
    KV_KEYCHAIN_AVAILABLE()
    for (Item& i : items) {
        if (i.account == account) {
            i.secret = secret;
            return Status::Ok;
        }
    }
    return Status::NotFound;
}

SecretKeychain::Status MemoryKeychain::remove(const QString& account, QString* error)
{
    KV_KEYCHAIN_AVAILABLE()
    for (qsizetype k = items.size() - 1; k >= 0; --k) {
        if (items[k].account == account) {
            items.removeAt(k);
            return Status::Ok;
        }
    }
    return Status::NotFound;
}
