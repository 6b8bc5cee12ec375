#include "ScopedMount.h"

#include "LoopImage.h"

#include <QDir>

ScopedMount::~ScopedMount()
{
    unmount();
    if (!m_dir.isEmpty())
        QDir().rmdir(m_dir);
}

bool ScopedMount::mount(const QStringList& args, const QString& dir)
{
    m_dir = dir;
    QDir().mkpath(dir);
    m_mounted = LoopImage::runTool(QStringLiteral("mount"), args + QStringList { dir }, &m_error);
    return m_mounted;
}

bool ScopedMount::unmount()
{
    if (m_mounted && LoopImage::runTool(QStringLiteral("umount"), { m_dir }, &m_error))
        m_mounted = false;
    return !m_mounted;
}
