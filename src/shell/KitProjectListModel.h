#pragma once

#include "shell/dialogs/ProjectListModel.h"

#include <functional>

class IProject;

// A kit's project list over its container until the kit's pane brings its own: the projects as
// the container lists them, read anew for every row.
class KitProjectListModel : public ProjectListModel
{
    Q_OBJECT
public:
    using Source = std::function<QList<IProject*>()>;
    explicit KitProjectListModel(Source source, QObject* parent = nullptr);

    int projectCount() const override;
    ProjectListRow projectRow(int row) const override;

    static ProjectListRow rowFor(const IProject& project);

private:
    Source m_source;
};
