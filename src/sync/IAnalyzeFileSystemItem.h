#pragma once

#include <QHash>
#include <QIcon>
#include <QString>
#include <QStringList>
#include <memory>
#include <vector>

// One row of the comparison tree of an analysis: a name found on the left side, the right side or
// both, with the flags the analysis and the listing give it. The tree changes on the main thread
// only. A node owns its children; the root (named "root") is owned by the tree model and alone
// keeps the two compared folders.
class IAnalyzeFileSystemItem
{
public:
    // Flag bits.
    enum : qint64
    {
        Left = 1, // exists on the left side (first folder)
        Right = 2, // exists on the right side (second folder)
        CopyToRight = 4,
        CopyToLeft = 8,
        DeleteLeft = 16,
        DeleteRight = 32,
        Listed = 64, // seen in the latest listing
        ChildrenLoaded = 128,
        Named = 0x100, // named by the analysis
        ChangeLeft = 512,
        BelowChangesLeft = 1024,
        ChangeRight = 2048,
        BelowChangesRight = 4096,
        // The result bits, cleared before each analysis and when one fails.
        ResultMask = 4 | 8 | 16 | 32 | 1024 | 4096,
    };

    IAnalyzeFileSystemItem(const QString& name, bool folder);
    ~IAnalyzeFileSystemItem();
    IAnalyzeFileSystemItem(const IAnalyzeFileSystemItem&) = delete;
    IAnalyzeFileSystemItem& operator=(const IAnalyzeFileSystemItem&) = delete;

    const QString& name() const { return m_name; }
    bool isFolder() const { return m_folder; }
    bool isLink() const { return m_link; }
    void setLink(bool link) { m_link = link; }
    qint64 flags() const { return m_flags; }
    void setFlagOn(qint64 bits) { m_flags |= bits; }
    void setFlagOff(qint64 bits) { m_flags &= ~bits; }
    bool isFlagOn(qint64 bits) const { return (m_flags & bits) != 0; }
    // Clears bits on each direct child.
    void setChildrenFlagOff(qint64 bits);
    // 1 included, 0 excluded, -1 partly.
    int check() const { return m_check; }
    void setCheck(int check) { m_check = check; }

    // The path below the compared folders ("" for the root, "a/b" below it).
    QString localPath() const;
    QString leftPath() const;
    QString rightPath() const;
    // The root only; ignored on other nodes.
    void setLeftPath(const QString& path);
    void setRightPath(const QString& path);

    const QIcon& leftImage() const { return m_leftImage; }
    const QIcon& rightImage() const { return m_rightImage; }
    void setLeftImage(const QIcon& icon) { m_leftImage = icon; }
    void setRightImage(const QIcon& icon) { m_rightImage = icon; }

    IAnalyzeFileSystemItem* parent() const { return m_parent; }
    const std::vector<std::unique_ptr<IAnalyzeFileSystemItem>>& childrenArray() const { return m_children; }
    IAnalyzeFileSystemItem* children() const; // the first child or null
    int childCount() const { return int(m_children.size()); }
    IAnalyzeFileSystemItem* childAtIndex(int index) const; // null out of range
    int indexOfChild(const IAnalyzeFileSystemItem* child) const; // -1 when not a child
    // The items below this one that the analysis marked to copy or delete on either side.
    int resultCount() const;
    // Appends the child and becomes its parent; returns it (null is ignored).
    IAnalyzeFileSystemItem* addChild(std::unique_ptr<IAnalyzeFileSystemItem> child);
    void removeChild(IAnalyzeFileSystemItem* child);
    void removeChildren();
    // Drops the children for which drop() answers true; the others keep their order.
    template<typename Pred>
    void removeChildrenIf(Pred drop);
    // The first child of that name (names compare exactly, case included).
    IAnalyzeFileSystemItem* childWithNameEqualToString(const QString& name) const;
    // The first child of that name and kind (a file, a folder and a link of one name are three).
    IAnalyzeFileSystemItem* childWithName(const QString& name, bool folder, bool link) const;
    IAnalyzeFileSystemItem* prev() const;
    IAnalyzeFileSystemItem* next() const;
    // Case-insensitive comparison in the current locale; true for a null text or when the name
    // sorts first.
    bool isNameLessThenString(const QString& text) const;

    // The node of a path below this one ("a/b/c"), matched component by component: inner
    // components are folders, the last one is a folder when dir is set and a link when link is
    // set. Every matched node gets the side bits. From the first mismatch, with create, the rest
    // is created (with the side bits; the last one a link when link is set). Null when nothing
    // was found and create is off, or the path is empty.
    IAnalyzeFileSystemItem* treeItemWithPath(
        const QString& path, bool dir, bool link, qint64 leftRightFlag, bool create);
    IAnalyzeFileSystemItem* createItemWithPath(
        const QString& path, bool dir, bool link, qint64 leftRightFlag);
    IAnalyzeFileSystemItem* createItemWithPathArray(
        const QStringList& components, int firstElementIndex, bool dir, bool link, qint64 leftRightFlag);

private:
    // A folder of many children finds them by name through an index made on the first look-up
    // and kept up to date as children are added; removing children drops it.
    static constexpr int NameIndexFrom = 16;
    const QMultiHash<QString, IAnalyzeFileSystemItem*>* nameIndex() const;
    void renumberChildren();

    IAnalyzeFileSystemItem* m_parent = nullptr;
    std::vector<std::unique_ptr<IAnalyzeFileSystemItem>> m_children;
    mutable std::unique_ptr<QMultiHash<QString, IAnalyzeFileSystemItem*>> m_byName;
    int m_row = -1; // the index in the parent's children
    QString m_name;
    int m_check = 1;
    bool m_folder = false;
    bool m_link = false;
    qint64 m_flags = 0;
    QString m_leftPath;
    QString m_rightPath;
    QIcon m_leftImage;
    QIcon m_rightImage;
};

template<typename Pred>
void IAnalyzeFileSystemItem::removeChildrenIf(Pred drop)
{
    std::erase_if(m_children, [&](const std::unique_ptr<IAnalyzeFileSystemItem>& c) { return drop(*c); });
    renumberChildren();
}
