#pragma once

#include "archive/CUDArch.h"

#include <QByteArray>
#include <QString>

// Project files as writers of earlier (and one later) versions made them, written field by
// field in each version's own layout. Every pair holds: project "Old" with a destination,
// an incremental method, a schedule on week day 3 (day numbers before 18), one archive, an
// unknown colour blob, a next date, and a folder "/data/old" with a file "keep" and an
// AppleDouble leftover "._x" known only from an archive.
namespace OldProjects {

inline constexpr const char* kUUID = "0A1B2C3D-0000-4000-8000-00000000ABCD";
inline constexpr const char* kArchive = "incr_Old_2020-05-06_07-08-09_lp.tgz";

inline void date(CUDArch& a, quint32 v, double secs, const char* text)
{
    if (v > 6)
        a.writeDouble(secs);
    else
        a << QString::fromLatin1(text);
}

inline void item(CUDArch& a, quint32 v, quint32 flags, quint64 size)
{
    a.BeginBlock(3);
    date(a, v, 1.5e9, "2017-07-14 02:40:00 +0000");
    a.writeU64(size);
    a.writeU32(flags);
    if (v >= 2 && !(flags & 1)) {
        a.writeU32(0x3F3F3F3F); // creator and type codes of an old file system
        a.writeU32(0x54455854);
    }
    if (v >= 12)
        date(a, v, 1.6e9, "2020-09-13 12:26:40 +0000");
    if (v >= 15) {
        a.writeU32(1);
        const quint16 h[2] = { 0, quint16(flags & 0x8000 ? 3 : 1) };
        a.Write2ByteArray(h, 2);
    }
    if (v >= 16)
        a.writeBool(false);
    if (v > 22)
        a.writeU32(0xFEEDFACE); // a field this reader does not know
    a.EndBlock();
}

inline void tree(CUDArch& a, quint32 v)
{
    a.BeginBlock(2);
    a.writeU32(1);
    a << QStringLiteral("/data/old");
    item(a, v, 0x9801, 0);
    a.BeginBlock(2);
    a.writeU32(2);
    a << QStringLiteral("._x");
    item(a, v, 0x4800, 4096);
    a << QStringLiteral("keep");
    item(a, v, 0x9800, 42);
    a.EndBlock();
    a.EndBlock();
}

inline void record(CUDArch& a, quint32 v, quint16 day)
{
    a << QStringLiteral("Old");
    if (v >= 18)
        a << QStringLiteral("Old_file");
    a.writeU32(1);
    a << QString(); // no device name: "Unknown device"
    a << QStringLiteral("/backups");
    if (v >= 3) {
        a << QStringLiteral("Backup Disk");
        a.writeU32(1);
        a << QStringLiteral("/backups");
        a << QStringLiteral("file:///media/u/Backup%20Disk/");
        a.writeBool(true);
    }
    if (v >= 8)
        a << QStringLiteral("/media/u/Backup Disk");
    if (v >= 19) {
        a << QStringLiteral("1111-2222");
        a.writeBool(true);
    }
    a.writeU32(1); // incremental
    a.writeBool(true);
    a.writeU64(650000000);
    a.writeU32(0x11);
    a << QStringLiteral("*.o|*.tmp");
    a.writeBool(true);
    a.writeU32(2);
    a.writeU16(21);
    a.writeU16(45);
    if (v >= 17)
        a.writeU16(90);
    a.writeU16(v >= 18 ? 0x15 : day);
    a.writeU16(9);
    if (v >= 19) {
        a.writeBool(true);
        a.writeBool(false);
    }
    if (v >= 20)
        a.writeBool(false);
    if (v >= 22)
        a.writeBool(true);
    date(a, v, 1.6e9, "2020-09-13 12:26:40 +0000");
    a << QString::fromLatin1(kArchive);
    a.writeU32(1);
    a << QString::fromLatin1(kArchive);
    if (v >= 15) {
        a.writeU32(1);
        a << QStringLiteral("/backups/Old_file") << QStringLiteral("file:///media/u/Backup%20Disk/");
    }
    if (v == 4) {
        a.writeU64(1);
        a.writeU64(2);
        a.writeU64(3);
    }
    if (v >= 5) {
        const QByteArray blob("\x04\x0bstreamtyped?unknown", 21); // not ours, not a colour we read
        a.writeU8(quint8(blob.size()));
        a.writeRaw(blob.constData(), blob.size());
    }
    if (v >= 6) {
        QByteArray d = QByteArray::fromHex("040B") + "streamtyped"
            + QByteArray::fromHex("81E80384014084848406") + "NSDate" + QByteArray::fromHex("00848408")
            + "NSObject" + QByteArray::fromHex("0085840164") + char(0x83);
        const double secs = 7.5e8; // 2024-10-07 ... since 2001
        d.append(reinterpret_cast<const char*>(&secs), 8);
        d += char(0x86);
        a.writeU8(quint8(d.size()));
        a.writeRaw(d.constData(), d.size());
    }
    if (v >= 9)
        a.writeU32(4);
    if (v >= 10) {
        const QByteArray digest = QByteArray::fromHex("00112233445566778899aabbccddeeff");
        a.writeRaw(digest.constData(), 16);
    }
    if (v >= 11)
        a.writeBool(true);
    if (v >= 13)
        a << QString::fromLatin1(kUUID);
    if (v >= 21)
        a.writeBool(false);
    if (v > 22)
        a << QStringLiteral("a field of a newer writer");
}

// The .bif (and for version 14 and later the .bih) of version v.
inline QByteArray bif(quint32 v, QByteArray* bih, quint16 day = 3)
{
    QByteArray tf;
    {
        CUDArch a(&tf, CUDArch::WriteTree);
        CBackupFileHeader(CBackupFileHeader::kMagic, CBackupFileHeader::kKindTree, v).save(a);
        a.BeginBlock(1);
        if (v <= 13)
            record(a, v, day);
        a.EndBlock();
        tree(a, v);
    }
    if (bih) {
        bih->clear();
        if (v >= 14) {
            CUDArch a(bih, CUDArch::WriteHeader);
            CBackupFileHeader(CBackupFileHeader::kMagic, CBackupFileHeader::kKindRecord, v).save(a);
            a.BeginBlock(1);
            record(a, v, day);
            a.EndBlock();
        }
    }
    return tf;
}

} // namespace OldProjects
