#include "ProjectListModel.h"

#include <QCoreApplication>
#include <QDataStream>
#include <QIODevice>
#include <QMimeData>

const QString ProjectListModel::kMimeType = QStringLiteral("IQV3ProjectListDataType");

ProjectListModel::ProjectListModel(QObject* parent)
    : QAbstractTableModel(parent)
{ }

bool ProjectListModel::moveProject(int, int)
{
    return false;
}

bool ProjectListModel::renameProject(int, const QString&)
{
    return false;
}

bool ProjectListModel::isNameEditable(int) const
{
    return false;
}

void ProjectListModel::reloadProjects()
{
    beginResetModel();
    endResetModel();
}

void ProjectListModel::projectChanged(int row)
{
    if (row < 0 || row >= rowCount())
        return;
    Q_EMIT dataChanged(index(row, 0), index(row, ColumnCount - 1));
}

QList<int> ProjectListModel::spinnerRows() const
{
    QList<int> rows;
    const int count = rowCount();
    for (int r = 0; r < count; ++r) {
        const ProjectListRow row = projectRow(r);
        if (row.inProcess && !row.inQueue)
            rows.append(r);
    }
    return rows;
}

int ProjectListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : qMax(0, projectCount());
}

int ProjectListModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant ProjectListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount() || index.column() >= ColumnCount)
        return QVariant();
    if (role == CellModeRole)
        return index.column() == ColorColumn ? 0 : index.column() == StateColumn ? 2 : 1;
    const ProjectListRow row = projectRow(index.row());
    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
        return index.column() == NameColumn ? QVariant(row.name) : QVariant();
    case Qt::DecorationRole:
        return index.column() == NameColumn && !row.image.isNull() ? QVariant(row.image) : QVariant();
    case StatusRole:
        return row.status;
    case ColorRole:
        return row.color ? QVariant(*row.color) : QVariant();
    case ScheduledRole:
        return row.scheduled;
    case InProcessRole:
        return row.inProcess;
    case InQueueRole:
        return row.inQueue;
    case SpinnerRole:
        return row.inProcess && !row.inQueue;
    default:
        return QVariant();
    }
}

bool ProjectListModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    if (role != Qt::EditRole || !index.isValid() || index.column() != NameColumn
        || !isNameEditable(index.row()))
        return false;
    const QString name = value.toString();
    if (name.isEmpty() || !renameProject(index.row(), name))
        return false;
    projectChanged(index.row());
    return true;
}

Qt::ItemFlags ProjectListModel::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::ItemIsDropEnabled; // between rows and below the last
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled;
    // No editor in the state column, and only where the pane allows renaming.
    if (index.column() == NameColumn && isNameEditable(index.row()))
        f |= Qt::ItemIsEditable;
    return f;
}

QStringList ProjectListModel::mimeTypes() const
{
    return { kMimeType };
}

QMimeData* ProjectListModel::mimeData(const QModelIndexList& indexes) const
{
    int row = -1;
    for (const QModelIndex& i : indexes)
        if (i.isValid() && (row < 0 || i.row() < row))
            row = i.row();
    if (row < 0)
        return nullptr;
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out << qint64(QCoreApplication::applicationPid()) << qint32(row);
    auto* mime = new QMimeData();
    mime->setData(kMimeType, bytes);
    return mime;
}

int ProjectListModel::draggedRow(const QMimeData* data)
{
    if (!data || !data->hasFormat(kMimeType))
        return -1;
    QDataStream in(data->data(kMimeType));
    qint64 pid = 0;
    qint32 row = -1;
    in >> pid >> row;
    if (in.status() != QDataStream::Ok || pid != QCoreApplication::applicationPid())
        return -1;
    return row;
}

bool ProjectListModel::canDropMimeData(
    const QMimeData* data, Qt::DropAction action, int row, int, const QModelIndex& parent) const
{
    // A drop onto a row (parent valid) is refused: rows only move between rows.
    if (action != Qt::MoveAction || parent.isValid() || row > rowCount())
        return false;
    const int from = draggedRow(data);
    return from >= 0 && from < rowCount();
}

bool ProjectListModel::dropMimeData(
    const QMimeData* data, Qt::DropAction action, int row, int column, const QModelIndex& parent)
{
    if (!canDropMimeData(data, action, row, column, parent))
        return false;
    moveRowTo(draggedRow(data), row < 0 ? rowCount() : row);
    // The view must not remove the source row itself: the move is done.
    return false;
}

bool ProjectListModel::moveRowTo(int from, int to)
{
    const int count = rowCount();
    if (from < 0 || from >= count || to < 0 || to > count || to == from || to == from + 1)
        return false;
    if (!beginMoveRows(QModelIndex(), from, from, QModelIndex(), to))
        return false;
    const bool moved = moveProject(from, to);
    endMoveRows();
    if (!moved) {
        // The container refused: show it as it is.
        reloadProjects();
    }
    return moved;
}

Qt::DropActions ProjectListModel::supportedDropActions() const
{
    return Qt::MoveAction;
}

Qt::DropActions ProjectListModel::supportedDragActions() const
{
    return Qt::MoveAction;
}
