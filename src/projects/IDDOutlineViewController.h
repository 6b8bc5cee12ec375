#pragma once

#include <QImage>
#include <QString>
#include <QStringList>

// What a content outline that accepts drops asks its pane: whether drops are taken now, what
// to do with dropped files or template items, and the text shown while it is empty.
class IDDOutlineViewController
{
public:
    virtual ~IDDOutlineViewController() = default;

    virtual bool isDragAndDrop() = 0;
    // A template item dragged from the template list: its description and small image.
    virtual void addTemplateToContent(const QString& description, const QImage& icon) = 0;
    // Dropped files and folders, as byte-exact paths.
    virtual void addFilesToContent(const QStringList& paths) = 0;
    virtual void reloadViewData() = 0;
    // True when the content is empty; *text is what the empty outline shows (may be empty).
    virtual bool isEmptyContentAndString(QString* text) = 0;
};
