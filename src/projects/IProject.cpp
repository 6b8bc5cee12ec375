#include "projects/IProject.h"

IProject::IProject(QObject* parent)
    : QObject(parent)
{ }

IProject::~IProject() = default;

QString IProject::name() const
{
    return QString();
}

QByteArray IProject::utf8Name() const
{
    return name().toUtf8();
}

QByteArray IProject::utf8StringCode() const
{
    return QByteArray();
}

void IProject::processMessage(const LogText&, quint64, QObject*) { }
