#pragma once

#include "projects/ExcludeToggler.h"
#include "projects/OutlineLister.h"
#include "projects/OutlineNode.h"

#include <QAbstractItemModel>
#include <QStringList>
#include <memory>
#include <vector>

// The outline of a project's sources with include check boxes: the top level holds one node per
// source, folders are read when opened (fetchMore) and again on reload(), and the check boxes
// edit the project's exclude list through ExcludeToggler. Nothing is read inside rowCount(),
// hasChildren() or data(). A read-only model (restore trees) refuses every change.
class SourceOutlineModel : public QAbstractItemModel
{
    Q_OBJECT
public:
    enum Column
    {
        ColIncluded = 0,
        ColName = 1,
        ColKind = 2,
        ColDate = 3,
        ColumnCount = 4
    };
    enum Role
    {
        PathRole = Qt::UserRole + 1, // the node's full path
        AttrRole, // the attribute bits
        LevelRole, // steps up to the top-level node
    };
    struct Source
    {
        QString path; // full path
        qint64 index = -1; // the source's index in the project
    };

    SourceOutlineModel(IOutlineLister* lister, IExcludeList* excludes, QObject* parent = nullptr);
    ~SourceOutlineModel() override;

    // Replaces the top level (a reset) and reads it.
    void setSources(const QList<Source>& sources);
    // Entries whose full path matches one of these patterns are not shown (OutlineMatcher).
    void setHiddenList(const QStringList& patterns) { m_hidden = patterns; }
    void setReadOnly(bool readOnly) { m_readOnly = readOnly; }
    // Reads every folder read so far again and applies the differences row by row.
    void reload();
    // Check-all (true) or uncheck-all over every row.
    void setAllIncluded(bool include);

    OutlineNode* nodeAt(const QModelIndex& index) const;
    QModelIndex indexOfPath(const QString& path) const;
    const std::vector<std::unique_ptr<OutlineNode>>& topLevel() const { return m_top; }

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    bool hasChildren(const QModelIndex& parent = {}) const override;
    bool canFetchMore(const QModelIndex& parent) const override;
    void fetchMore(const QModelIndex& parent) override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

signals:
    // The exclude list was changed by a check box.
    void excludesEdited();

private:
    std::unique_ptr<OutlineNode> makeNode(
        const OutlineEntry& e, const QString& fullPath, OutlineNode* parent);
    QList<OutlineEntry> readFolder(const OutlineNode& folder);
    void reloadChildren(OutlineNode& folder);
    void remark(OutlineNode& node);
    QModelIndex indexOf(const OutlineNode* node, int column = 0) const;
    void emitSubtreeChanged(OutlineNode& node);

    IOutlineLister* m_lister;
    IExcludeList* m_excludes;
    ExcludeToggler m_toggler;
    QStringList m_hidden;
    bool m_readOnly = false;
    std::vector<std::unique_ptr<OutlineNode>> m_top;
};
