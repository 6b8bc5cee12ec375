#pragma once

#include <QWidget>
#include <functional>

class QMenu;
class QAction;

// The strip across the top of the synchronization pane: the first folder in the left box, the
// second in the right box, and the direction control between them. A click on a box asks for a
// folder, a dropped folder sets the box's folder, the control's menu chooses the direction. The
// panel only draws and tracks the pointer; the pane controller owns the project and decides.
class IQVSynchronizerTopPanel : public QWidget
{
    Q_OBJECT
public:
    explicit IQVSynchronizerTopPanel(QWidget* parent = nullptr);

    void setFirstFolder(const QString& path);
    void setSecondFolder(const QString& path);
    QString firstFolder() const { return m_firstFolder; }
    QString secondFolder() const { return m_secondFolder; }
    void setFirstFolderActivity(bool active) { m_firstFolderActivity = active; }
    void setSecondFolderActivity(bool active) { m_secondFolderActivity = active; }
    // Recomputes both activity flags (the path exists as a folder) and redraws.
    void verifyFolders();
    static bool isFolderActive(const QString& path);
    void setEnable(bool enable) { m_enable = enable; }
    bool isEnable() const { return m_enable; }

    // 0 left to right, 1 right to left, 2 both ways; -1 until a project sets one.
    qint64 direction() const { return m_direction; }
    // Takes an enabled index (else 0); nothing when that is already the direction.
    void setDirection(int index);
    void setDirectionChangeEnabled(bool enabled);
    void setDirectionItemEnabled(int index, bool enabled);
    QMenu* directionMenu() const { return m_directMenu; }
    // A choice in the direction menu: the direction changes and directionChosen is sent, or
    // nothing happens when it is the current one.
    void selectMenuItem(int index);

    // The half a drag hovers: -1 none, 0 left, 1 right.
    int highlightPanelIndex() const { return m_highlight; }
    // 0 outside the boxes, 1 over the left box, 2 over the right box.
    int getMousePlace() const { return m_mousePos; }
    QRect leftBoxRect() const;
    QRect rightBoxRect() const;
    QRect getDirArrowRect() const;
    // The text shown in a box (the path, or the drop hint).
    QString boxText(int side) const;

    // Whether a dropped path may become the folder of a side; null answer = accepted, else why not.
    using DropCheck = std::function<QString(int side, const QString& path)>;
    void setDropCheck(DropCheck check) { m_dropCheck = std::move(check); }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    void chooseFolderRequested(int side);
    void revealRequested(int side);
    void folderDropped(int side, const QString& path);
    void dropRefused(const QString& why);
    void directionChosen(int direction);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    bool event(QEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    int placeAt(const QPoint& p) const;
    // The dragged folder and the side it would land on; null path when the drag carries none.
    QString draggedPath(const class QMimeData* mime) const;
    void drawBox(class QPainter& p, const QRect& box, bool highlighted);
    void drawFolderText(class QPainter& p, const QRect& box, int side);

    bool m_enable = true;
    qint64 m_direction = -1;
    QString m_firstFolder;
    QString m_secondFolder;
    bool m_firstFolderActivity = false;
    bool m_secondFolderActivity = false;
    int m_highlight = -1;
    int m_mousePos = 0;
    QMenu* m_directMenu = nullptr;
    QAction* m_items[3] = { nullptr, nullptr, nullptr };
    bool m_directionChangeEnabled = true;
    DropCheck m_dropCheck;
};
