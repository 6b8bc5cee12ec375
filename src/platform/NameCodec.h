#pragma once

#include <QByteArray>
#include <QString>
#include <string>

// The one lossless conversion between names on disk (bytes) and QString.
// Valid UTF-8 decodes normally; every byte that is not part of a valid UTF-8
// sequence becomes the lone surrogate U+DC00+byte (U+DC80..U+DCFF), which
// encode() turns back into the same byte. So decode() followed by encode()
// gives back exactly the bytes read from disk.
namespace NameCodec {

QString decode(const QByteArray& bytes);
QString decode(const std::string& bytes);
QString decode(const char* bytes, qsizetype size);

QByteArray encode(const QString& name);
std::string encodeStd(const QString& name);

// True when the name holds a byte that is not valid UTF-8 (an escaped byte).
bool hasEscapedBytes(const QString& name);

} // namespace NameCodec
