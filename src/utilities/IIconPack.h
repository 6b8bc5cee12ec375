#pragma once

#include <QIcon>
#include <QString>
#include <array>

// Six images of one interface element: phase (0 normal, 1 active or pressed, 2 disabled) by
// mode (0 light, 1 dark); slot = mode * 3 + phase. Images are the application's resources
// ":/icons/<name>.svg".
class IIconPack
{
public:
    static IIconPack create() { return IIconPack(); }
    static QString resourcePath(const QString& name); // ":/icons/<name>.svg"
    static QIcon loadWithName(const QString& name); // a null icon when the resource is missing
    bool loadPhase(int phase, int mode, const QString& name); // YES when found
    void setPhase(int phase, int mode, const QIcon& icon, const QString& name = QString());
    QIcon iconPhase(int phase, int mode) const;
    QString namePhase(int phase, int mode) const; // the resource name stored there

private:
    static int slot(int phase, int mode) { return mode * 3 + phase; }
    std::array<QIcon, 6> m_icons;
    std::array<QString, 6> m_names;
};
