#pragma once

#include "projects/OutlineNode.h"

#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>
#include <functional>

// A project's list of excluded paths, as the outlines edit it. Paths compare on whole
// components: "/a/b" is below "/a", "/a/bc" is not below "/a/b".
class IExcludeList
{
public:
    virtual ~IExcludeList() = default;
    virtual bool contains(const QString& path) const = 0;
    virtual void addOnce(const QString& path) = 0;
    virtual void remove(const QString& path) = 0;
    // Removes every entry equal to the path or below it.
    virtual void removeAtOrBelow(const QString& path) = 0;
    // True when an entry lies strictly below the path.
    virtual bool hasBelow(const QString& path) const = 0;
};

// A list kept as plain strings (the order of insertion), with a hashed index of its entries and
// of every folder that has an entry below it, so that marking a folder of 100,000 entries asks
// the index, never the whole list.
class StringExcludeList : public IExcludeList
{
public:
    explicit StringExcludeList(QStringList entries = {});
    const QStringList& entries() const { return m_entries; }
    void setEntries(const QStringList& entries);

    bool contains(const QString& path) const override { return m_set.contains(path); }
    void addOnce(const QString& path) override;
    void remove(const QString& path) override;
    void removeAtOrBelow(const QString& path) override;
    bool hasBelow(const QString& path) const override { return m_ancestors.value(path) > 0; }
    // True when the path or one of its parent folders is listed.
    bool coversPath(const QString& path) const;

private:
    void index(const QString& path, int delta);
    QStringList m_entries;
    QSet<QString> m_set;
    QHash<QString, int> m_ancestors; // folder -> number of entries strictly below it
};

// The include check boxes of an outline: checking or unchecking a node edits the exclude list so
// that it stays minimal (a folder with every child excluded is listed itself, no entry lies below
// another) and refreshes the marks of the nodes already read.
class ExcludeToggler
{
public:
    explicit ExcludeToggler(IExcludeList& list)
        : m_list(list)
    { }

    // Includes (true) or excludes (false) the node and everything below it.
    void setIncluded(OutlineNode& node, bool include);
    // Check-all or uncheck-all over the top-level nodes, in one pass over the tree.
    void setAllIncluded(const std::vector<OutlineNode*>& topLevel, bool include);
    // The include bits of a freshly read node from the list (and its parent's state).
    void markFromList(OutlineNode& node) const;

    // -1 no parent, 2 every sibling fully included, 10 mixed, 0 none included.
    static int siblingState(const OutlineNode& node);

private:
    void refreshDescendants(OutlineNode& node, bool include);
    void refreshAncestors(OutlineNode& node);
    IExcludeList& m_list;
};
