#include "utilities/IIconPack.h"

#include <QFile>

QString IIconPack::resourcePath(const QString& name)
{
    return QStringLiteral(":/icons/") + name + QStringLiteral(".svg");
}

QIcon IIconPack::loadWithName(const QString& name)
{
    const QString path = resourcePath(name);
    return QFile::exists(path) ? QIcon(path) : QIcon();
}

bool IIconPack::loadPhase(int phase, int mode, const QString& name)
{
    if (phase < 0 || phase > 2 || mode < 0 || mode > 1 || !QFile::exists(resourcePath(name)))
        return false;
    setPhase(phase, mode, loadWithName(name), name);
    return true;
}

void IIconPack::setPhase(int phase, int mode, const QIcon& icon, const QString& name)
{
    if (phase < 0 || phase > 2 || mode < 0 || mode > 1)
        return;
    m_icons[slot(phase, mode)] = icon;
    m_names[slot(phase, mode)] = name;
}

QIcon IIconPack::iconPhase(int phase, int mode) const
{
    if (phase < 0 || phase > 2 || mode < 0 || mode > 1)
        return QIcon();
    return m_icons[slot(phase, mode)];
}

QString IIconPack::namePhase(int phase, int mode) const
{
    if (phase < 0 || phase > 2 || mode < 0 || mode > 1)
        return QString();
    return m_names[slot(phase, mode)];
}
