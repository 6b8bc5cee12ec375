#pragma once

#include <QLabel>
#include <QTreeView>

class IDDOutlineViewController;
class QMimeData;

// Dropped data of the content outlines: file URLs turned into byte-exact paths, and the private
// types of template items and of the outline's own rows.
namespace DroppedData {
// The MIME type of a template item: its description (UTF-8) and small image (PNG).
inline constexpr const char* kContentType = "application/x-qv-content";
// The outline's own rows; a drop of them on the outline does nothing.
inline constexpr const char* kOwnRowsType = "application/x-qv-outline-rows";

// The local path of a dropped URL: only file: URLs on this host (no host, or "localhost"); the
// bytes of the path as they were, names that are not UTF-8 included. Null otherwise.
QString localPath(const QUrl& url);
QStringList localPaths(const QMimeData* mime);

QByteArray encodeContent(const QString& description, const QImage& icon);
bool decodeContent(const QByteArray& data, QString* description, QImage* icon);
} // namespace DroppedData

// The width a column of modification dates needs in the view's font: the widest short date and
// time of the current locale (two-digit fields, an afternoon hour) with the cell's margins, and
// never less than the header's own title needs.
int dateColumnWidth(const QTreeView* view, int column);

// A content outline that takes dropped files and template items for its controller. The empty
// outline shows the controller's text; an accepted drag over it draws a yellow frame.
class IDDOutlineView : public QTreeView
{
    Q_OBJECT
public:
    explicit IDDOutlineView(QWidget* parent = nullptr);

    void setController(IDDOutlineViewController* controller) { m_controller = controller; }
    IDDOutlineViewController* controller() const { return m_controller; }
    bool isDragOver() const { return m_dragOver; }
    // Scrolls to the rectangle's origin; a rectangle without width leaves the view alone.
    void setScrollRect(const QRect& rect);

    static constexpr int kFrameWidth = 5;

Q_SIGNALS:
    void contextMenuRequestedAt(const QModelIndex& index, const QPoint& globalPos);

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void startDrag(Qt::DropActions supportedActions) override;

private:
    bool accepts(const QMimeData* mime) const;

    IDDOutlineViewController* m_controller = nullptr;
    bool m_dragOver = false;
};

// A template item's image: a click (release without movement) is its action, a drag past the
// drag distance hands the item out as application/x-qv-content.
class IDDImageView : public QLabel
{
    Q_OBJECT
public:
    explicit IDDImageView(QWidget* parent = nullptr);
    void setContent(const QString& description, const QImage& icon);

Q_SIGNALS:
    void clicked();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    // Starts the drag (QDrag::exec needs a real pointer; tests replace it).
    virtual void startContentDrag();

private:
    QString m_description;
    QImage m_icon;
    QPoint m_pressPos;
    bool m_pressed = false;
    bool m_dragging = false;
};
