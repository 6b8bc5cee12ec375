#pragma once

#include <QByteArray>

// Byte-exact tree files (.bif) of the current writer, written out by hand.
namespace ArchiveFixtures {

// One top-level file "/a": modified at 1e9 s, 5 bytes, flags 0x9800, no history. 112 bytes.
inline QByteArray oneFileTree()
{
    return QByteArray::fromHex("42545220"
                               "42494E20"
                               "00000001"
                               "00000016"
                               "00000000" // header
                               "01"
                               "00000021"
                               "FFFFFFFF"
                               "00000021" // block 1 at 20, empty, next sibling 33
                               "02"
                               "00000070"
                               "0000003A"
                               "FFFFFFFF" // root container at 33, first child 58
                               "00000001"
                               "00000002"
                               "2F006100" // one child, "/a"
                               "03"
                               "00000070"
                               "FFFFFFFF"
                               "FFFFFFFF" // its item at 58
                               "41CDCD6500000000"
                               "0000000000000005"
                               "00009800"
                               "00000000"
                               "00000000" // date, size, flags, creator, type
                               "0000000000000000"
                               "00000000"
                               "00" // last backup date, no history, not in the list
    );
}

// Top-level folder "/d" (flags 0x9801, history (0, 3)) holding file "f" (1e9, 5 bytes, flags
// 0x9800, history (0, 3)). 189 bytes.
inline QByteArray folderTree()
{
    return QByteArray::fromHex("42545220"
                               "42494E20"
                               "00000001"
                               "00000016"
                               "00000000"
                               "01"
                               "00000021"
                               "FFFFFFFF"
                               "00000021"
                               "02"
                               "000000BD"
                               "0000003A"
                               "FFFFFFFF" // root container at 33
                               "00000001"
                               "00000002"
                               "2F006400" // "/d"
                               "03"
                               "0000006C"
                               "FFFFFFFF"
                               "0000006C" // item "/d" at 58, its container follows as sibling
                               "0000000000000000"
                               "0000000000000000"
                               "00009801" // no date, size 0, folder flags
                               "0000000000000000"
                               "00000001"
                               "00000300"
                               "00" // history (0, 3)
                               "02"
                               "000000BD"
                               "00000083"
                               "FFFFFFFF" // its container at 108
                               "00000001"
                               "00000001"
                               "6600" // "f"
                               "03"
                               "000000BD"
                               "FFFFFFFF"
                               "FFFFFFFF" // item "f" at 131
                               "41CDCD6500000000"
                               "0000000000000005"
                               "00009800"
                               "00000000"
                               "00000000"
                               "0000000000000000"
                               "00000001"
                               "00000300"
                               "00");
}

} // namespace ArchiveFixtures
