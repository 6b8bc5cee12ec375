#pragma once

#include <QString>
#include <memory>
#include <vector>

// One row of the content outlines (the sources of a snapshot backup, the content of a restored
// version, the clone and archive trees): a top-level node holds the full path of its source,
// a deeper node only its own name.
struct OutlineNode
{
    enum Attr : quint32
    {
        Folder = 1,
        Included = 2,
        Package = 4, // a folder shown as one item
        Partly = 8, // included, with some descendant excluded
        Expanded = 16,
        Present = 32, // restore trees: the item exists in the version folder
    };

    QString name; // full path (top level) or own name
    QString displayName; // optional
    quint32 attr = 0;
    double size = 0;
    double modified = 0; // seconds since 1970
    qint64 sourceIndex = -1; // top level: the source's index in the project
    qint64 locationTag = -1; // restore trees: the source's tag
    OutlineNode* parent = nullptr;
    std::vector<std::unique_ptr<OutlineNode>> children;
    bool childrenRead = false;

    bool has(quint32 bits) const { return (attr & bits) == bits; }
    bool isExpandable() const { return (attr & Folder) && !(attr & Package); }
    bool isFullyIncluded() const { return (attr & Included) && !(attr & Partly); }
    // The full path: a top-level node's own, else the parent's joined with the name.
    QString path() const;
    // The path below the top-level node's folder, starting with that folder's own name.
    QString localPath() const;
    // The top-level ancestor (the node itself at the top), and the number of steps up to it.
    const OutlineNode* topLevel(int* level = nullptr) const;
    // The node's index among its parent's children; -1 at the top level.
    int indexInParent() const;
};
