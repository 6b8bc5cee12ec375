#pragma once

#include <QByteArray>
#include <QString>
#include <array>
#include <optional>

// The digest kept for the password of an encrypted archive or disk image, so that a password
// typed later can be checked before a long restore or mount starts: the MD5 of the password's
// UTF-8 bytes. All 16 bytes zero means no password. Stored project files and image records hold
// these digests, so the scheme stays as it is.
class IPasswordMD5
{
public:
    static constexpr int kSize = 16;

    IPasswordMD5() = default;

    static IPasswordMD5 create() { return IPasswordMD5(); }
    // No digest for a null or empty password.
    static std::optional<IPasswordMD5> createWithPassword(const QString& password);
    // Data of any size other than 16 bytes gives an empty digest.
    static IPasswordMD5 createWithData(const QByteArray& data);
    // No digest for a null pointer.
    static std::optional<IPasswordMD5> createWithArray(const unsigned char* array);

    void setEmpty();
    bool isEmpty() const;
    // Copies the bytes when there are exactly 16 of them; otherwise nothing changes.
    void setFromData(const QByteArray& data);
    // Copies 16 bytes; a null pointer changes nothing.
    void setFromArray(const unsigned char* array);

    QByteArray data() const;
    const unsigned char* pmd5Array() const { return _pmd5.data(); }
    // Copies the 16 bytes out; a null pointer is ignored.
    void pmd5Array(unsigned char* out) const;

    bool correspondsToPassword(const QString& password) const;
    bool isEqualToMD5(const IPasswordMD5* other) const;

    // The MD5 of the bytes (RFC 1321).
    static std::array<unsigned char, kSize> md5(const QByteArray& bytes);

private:
    std::array<unsigned char, kSize> _pmd5 {};
};
