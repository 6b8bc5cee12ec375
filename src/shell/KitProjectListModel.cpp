#include "KitProjectListModel.h"

#include "projects/IProject.h"
#include "utilities/ICommon.h"

#include <QCoreApplication>

KitProjectListModel::KitProjectListModel(Source source, QObject* parent)
    : ProjectListModel(parent)
    , m_source(std::move(source))
{ }

int KitProjectListModel::projectCount() const
{
    return m_source ? int(m_source().size()) : 0;
}

ProjectListRow KitProjectListModel::projectRow(int row) const
{
    const QList<IProject*> projects = m_source ? m_source() : QList<IProject*>();
    if (row < 0 || row >= projects.size() || !projects.at(row))
        return ProjectListRow();
    return rowFor(*projects.at(row));
}

ProjectListRow KitProjectListModel::rowFor(const IProject& project)
{
    ProjectListRow r;
    r.name = project.name();
    const QDateTime last = project.lastProcessDate();
    r.status = project.isInProcess() && !project.lastStatusString().isEmpty() ? project.lastStatusString()
        : last.isValid() ? ICommon::generalStringFromDateTime(last)
                         : QCoreApplication::translate("Localizable", "Never done");
    r.image = QIcon(QStringLiteral(":/icons/diskimagedoc.svg"));
    const QColor color = project.color();
    if (color.isValid() && color.alpha() > 0)
        r.color = color;
    r.scheduled = project.isScheduled() || project.isProcessOnMount();
    r.inProcess = project.isInProcess();
    r.inQueue = r.inProcess && project.currentOperation() == 6;
    return r;
}
