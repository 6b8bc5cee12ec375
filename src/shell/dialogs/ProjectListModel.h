#pragma once

#include <QAbstractTableModel>
#include <QColor>
#include <QIcon>
#include <QString>
#include <optional>

// What one row of a project list shows.
struct ProjectListRow
{
    QString name;
    QString status; // the line under the name; empty for none
    QIcon image;
    std::optional<QColor> color; // the colour label; none paints the window background
    bool scheduled = false; // has a schedule or starts on mount
    bool inProcess = false;
    bool inQueue = false; // in process, but waiting for its turn
};

// The base of the project lists of the function kits. A pane derives from it, answers the row
// count and each row from its container, and moves a project when a row is dragged to another
// place. Columns: the colour label, the name with its status line, and the state mark.
//
// Rows are dragged as "IQV3ProjectListDataType" with the process id, so a drop from another
// running copy of the application is refused; drops land only between rows (or below the last).
class ProjectListModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    enum Column
    {
        ColorColumn = 0,
        NameColumn = 1,
        StateColumn = 2,
        ColumnCount = 3
    };
    enum Role
    {
        StatusRole = Qt::UserRole + 1, // QString
        ColorRole, // QColor, invalid QVariant without a label
        ScheduledRole, // bool
        InProcessRole, // bool
        InQueueRole, // bool
        SpinnerRole, // bool: in process and not queued, the wheel turns
        CellModeRole // int: 0 colour label, 1 name, 2 state
    };

    static const QString kMimeType; // "IQV3ProjectListDataType"

    explicit ProjectListModel(QObject* parent = nullptr);

    // What the pane answers.
    virtual int projectCount() const = 0;
    virtual ProjectListRow projectRow(int row) const = 0;
    // Moves the project at from so that it stands before the project now at to (to may be the
    // count), in the container, and saves the order. Called between beginMoveRows and endMoveRows.
    virtual bool moveProject(int from, int to);
    // Renames the project of that row (in-place editing of the name); false refuses.
    virtual bool renameProject(int row, const QString& name);
    // Whether the name of that row may be edited in place.
    virtual bool isNameEditable(int row) const;

    // Changes made by code: the whole list, or one row's cells.
    void reloadProjects();
    void projectChanged(int row);
    // The rows whose wheel turns.
    QList<int> spinnerRows() const;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    QStringList mimeTypes() const override;
    QMimeData* mimeData(const QModelIndexList& indexes) const override;
    bool canDropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column,
        const QModelIndex& parent) const override;
    bool dropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column,
        const QModelIndex& parent) override;
    Qt::DropActions supportedDropActions() const override;
    Qt::DropActions supportedDragActions() const override;

    // The row a drop moves, or -1 when the data is not a row of this process's list.
    static int draggedRow(const QMimeData* data);
    // Moves one row as a drop does; false when nothing moved.
    bool moveRowTo(int from, int to);
};
