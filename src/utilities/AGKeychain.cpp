#include "AGKeychain.h"

#include <QDebug>

namespace {
thread_local SecretKeychain::Status t_lastStatus = SecretKeychain::Status::Ok;
thread_local QString t_lastError;

SecretKeychain::Status remember(SecretKeychain::Status status, const QString& error)
{
    t_lastStatus = status;
    t_lastError = status == SecretKeychain::Status::Ok ? QString() : error;
    return status;
}
} // namespace

SecretKeychain::Status AGKeychain::lastStatus()
{
    return t_lastStatus;
}
QString AGKeychain::lastError()
{
    return t_lastError;
}

int AGKeychain::checkForExistanceOfKeychainItem(const QString&, const QString&, const QString& username)
{
    int n = 0;
    QString error;
    if (remember(SecretKeychain::shared().count(username, &n, &error), error)
        == SecretKeychain::Status::Unavailable)
        qWarning().noquote() << "status from the keychain search:" << error;
    return n;
}

QString AGKeychain::getPasswordFromKeychainItem(const QString&, const QString&, const QString& username)
{
    QString secret;
    QString error;
    const SecretKeychain::Status st
        = remember(SecretKeychain::shared().read(username, &secret, &error), error);
    if (st == SecretKeychain::Status::Unavailable)
        qWarning().noquote() << "Error =" << error;
    // the content as the callers know it: at most 1,023 bytes of UTF-8
    QByteArray bytes = secret.toUtf8();
    if (bytes.size() > 1023) {
        bytes.truncate(1023);
        while (!bytes.isEmpty() && (uchar(bytes.back()) & 0xC0) == 0x80)
            bytes.chop(1);
        if (!bytes.isEmpty() && uchar(bytes.back()) >= 0xC0)
            bytes.chop(1);
        secret = QString::fromUtf8(bytes);
    }
    return st == SecretKeychain::Status::Ok ? secret : QString(QLatin1String(""));
}

bool AGKeychain::addKeychainItem(
    const QString& itemName, const QString& itemKind, const QString& username, const QString& password)
{
    QString error;
    const SecretKeychain::Status st = remember(SecretKeychain::shared().add(QString::fromLatin1(Service),
                                                   username, itemKind, itemName, password, &error),
        error);
    if (st != SecretKeychain::Status::Ok)
        qWarning().noquote() << "Error creating new item:" << error;
    return st == SecretKeychain::Status::Ok;
}

bool AGKeychain::modifyKeychainItem(
    const QString&, const QString&, const QString& username, const QString& newPassword)
{
    QString error;
    const SecretKeychain::Status st
        = remember(SecretKeychain::shared().modify(username, newPassword, &error), error);
    if (st != SecretKeychain::Status::Ok)
        qWarning().noquote() << "Error modifying item:"
                             << (error.isEmpty() ? QStringLiteral("no such item") : error);
    return st == SecretKeychain::Status::Ok;
}

bool AGKeychain::deleteKeychainItem(const QString&, const QString&, const QString& username)
{
    QString error;
    const SecretKeychain::Status st = remember(SecretKeychain::shared().remove(username, &error), error);
    if (st == SecretKeychain::Status::Unavailable) {
        qWarning().noquote() << "Error deleting item:" << error;
        return false;
    }
    return true;
}
