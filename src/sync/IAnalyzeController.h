#pragma once

#include "sync/IAnalyzeFileSystemItem.h"

#include <QIcon>
#include <QSet>
#include <QString>
#include <functional>
#include <memory>

class ISynchron;

// The comparison tree of the current synchronization as the analysis run reaches it: the tree
// root, its preparation before a run, the result bits and the final propagation. The outline of
// the pane implements it over the same model with a view; headless runs use AnalyzeTreeModel.
// Main thread only.
class IAnalyzeController
{
public:
    virtual ~IAnalyzeController() = default;

    // The controller in use: the one set, else a headless model of this process.
    static IAnalyzeController& shared();
    static void setShared(IAnalyzeController* controller);

    virtual IAnalyzeFileSystemItem* treeRoot() const = 0;
    // Builds the tree of the current project (or re-lists the root's children when the tree
    // shows the same two folders); without loadable content the tree is cleared.
    virtual void prepareFileTree() = 0;
    virtual void reloadData() = 0;
    // After a successful analysis: folders take the marks of what changes below them.
    virtual void finalAnalyze() = 0;
    virtual void setFileTreeFlagOn(qint64 mask) = 0;
    virtual void setFileTreeFlagOff(qint64 mask) = 0;
    virtual void clearTree() = 0;
};

// The tree model without a view: lists both folders lazily, one folder at a time, matches names
// of both sides into one row each (a file and a folder of the same name are two rows), keeps the
// include checks in step with the project's exclude path list and carries the analysis results.
class AnalyzeTreeModel : public IAnalyzeController
{
public:
    AnalyzeTreeModel();
    ~AnalyzeTreeModel() override;

    void setSynchron(const std::shared_ptr<ISynchron>& project);
    std::shared_ptr<ISynchron> synchron() const { return m_synchron; }
    int direct() const { return m_direct; }

    IAnalyzeFileSystemItem* treeRoot() const override { return m_root.get(); }
    bool isTreeEmpty() const { return !m_root; }
    void setTreeRootItem(std::unique_ptr<IAnalyzeFileSystemItem> root);
    void prepareFileTree() override;
    void reloadData() override { }
    void finalAnalyze() override;
    void setFileTreeFlagOn(qint64 mask) override;
    void setFileTreeFlagOff(qint64 mask) override;
    void clearTree() override;

    bool showArrowsAndColors() const { return m_showArrowsAndColors; }
    // Turning the results off drops a tree that showed them, so it is built anew.
    void setShowArrowsAndColors(bool show);

    // A folder's children from both sides, sorted case-insensitively, then its include checks.
    void loadChildrenForFileTreeItem(IAnalyzeFileSystemItem* item);
    // Re-lists a folder: kept names keep their nodes (result bits and checks), vanished ones go.
    void synchronizeChildrenForFileTreeItem(IAnalyzeFileSystemItem* item);
    // Re-lists the root's children when a tree exists and the content can be loaded.
    void synchronizeFileTree();
    void setIncludeCheckesToItem(IAnalyzeFileSystemItem* folder);
    static void setFlagOnToChildrenOf(qint64 mask, IAnalyzeFileSystemItem* item);
    static void setFlagOffToChildrenOf(qint64 mask, IAnalyzeFileSystemItem* item);

    // The item's type without following links: a link to a folder is a link, not a folder.
    // False when the path does not exist.
    static bool fileIsDirIsLink(const QString& path, bool* isDir, bool* isLink);

    // The icons of listed items, from the path and the kind the listing gave (the outline sets a
    // provider; none headless).
    using IconProvider = std::function<QIcon(const QString& path, bool folder, bool link)>;
    void setIconProvider(IconProvider provider) { m_iconProvider = std::move(provider); }

private:
    struct Entry
    {
        QString name;
        bool folder = false;
        bool link = false;
    };
    // The project's exclude path list as sets: the entries, and every folder an entry lies below.
    struct ExcludeIndex
    {
        explicit ExcludeIndex(const ISynchron* project);
        QSet<QString> entries;
        QSet<QString> folders;
    };
    void setIncludeCheckes(IAnalyzeFileSystemItem* folder, const ExcludeIndex& excludes);
    void markBothSides(IAnalyzeFileSystemItem* item, bool left, bool right, bool sorted);
    static QList<Entry> listFolder(const QString& path, bool sorted);
    void markSide(IAnalyzeFileSystemItem* item, const QList<Entry>& entries, bool left);
    static void propagate(IAnalyzeFileSystemItem* item);

    std::shared_ptr<ISynchron> m_synchron;
    std::unique_ptr<IAnalyzeFileSystemItem> m_root;
    int m_direct = 0;
    bool m_showArrowsAndColors = false;
    IconProvider m_iconProvider;
};
