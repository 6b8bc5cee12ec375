#pragma once

#include "utilities/IIconPack.h"

#include <QStringList>
#include <array>

// The toolbar and status icons by index (25 packs; index 25 stays empty), each in both
// appearances.
class IIconUtil
{
public:
    static constexpr int packCount = 26;
    static IIconUtil& shared();
    void load();
    void insertIconPack(const IIconPack& pack, int index);
    // The image of that index and phase, dark when the effective mode is dark.
    QIcon icon(int index, int phase) const;
    QString iconName(int index, int phase) const; // the resource name icon() answers with
    // Every resource name the table uses (for checks that the art exists).
    static QStringList allIconNames();

private:
    IIconUtil();
    std::array<IIconPack, packCount> m_packs;
};
