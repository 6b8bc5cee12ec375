#include "IPasswordMD5.h"

// libmd's <md5.h> and OpenSSL's <openssl/md5.h> declare conflicting MD5_CTX types: libmd stays
// inside this file.
#include <algorithm>
#include <cstring>
#include <md5.h>

std::array<unsigned char, IPasswordMD5::kSize> IPasswordMD5::md5(const QByteArray& bytes)
{
    MD5_CTX context;
    MD5Init(&context);
    MD5Update(
        &context, reinterpret_cast<const uint8_t*>(bytes.constData()), static_cast<size_t>(bytes.size()));
    std::array<unsigned char, kSize> digest {};
    MD5Final(digest.data(), &context);
    return digest;
}

std::optional<IPasswordMD5> IPasswordMD5::createWithPassword(const QString& password)
{
    if (password.isEmpty())
        return std::nullopt;
    IPasswordMD5 digest;
    digest._pmd5 = md5(password.toUtf8());
    return digest;
}

IPasswordMD5 IPasswordMD5::createWithData(const QByteArray& data)
{
    IPasswordMD5 digest;
    digest.setFromData(data);
    return digest;
}

std::optional<IPasswordMD5> IPasswordMD5::createWithArray(const unsigned char* array)
{
    if (!array)
        return std::nullopt;
    IPasswordMD5 digest;
    digest.setFromArray(array);
    return digest;
}

void IPasswordMD5::setEmpty()
{
    _pmd5.fill(0);
}

bool IPasswordMD5::isEmpty() const
{
    return std::all_of(_pmd5.begin(), _pmd5.end(), [](unsigned char b) { return b == 0; });
}

void IPasswordMD5::setFromData(const QByteArray& data)
{
    if (data.size() == kSize)
        std::memcpy(_pmd5.data(), data.constData(), kSize);
}

void IPasswordMD5::setFromArray(const unsigned char* array)
{
    if (array)
        std::memcpy(_pmd5.data(), array, kSize);
}

QByteArray IPasswordMD5::data() const
{
    return QByteArray(reinterpret_cast<const char*>(_pmd5.data()), kSize);
}

void IPasswordMD5::pmd5Array(unsigned char* out) const
{
    if (out)
        std::memcpy(out, _pmd5.data(), kSize);
}

bool IPasswordMD5::correspondsToPassword(const QString& password) const
{
    if (password.isNull())
        return false;
    return md5(password.toUtf8()) == _pmd5;
}

bool IPasswordMD5::isEqualToMD5(const IPasswordMD5* other) const
{
    return other && other->_pmd5 == _pmd5;
}
