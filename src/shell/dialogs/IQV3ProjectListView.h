#pragma once

#include <QMenu>
#include <QPointer>
#include <QTableView>
class ProjectListModel;

// What a pane answers to a double click in its project list; the list finds them on its
// delegate with dynamic_cast, so a pane implements only those it has.
class IProjectListAddAction
{
public:
    virtual ~IProjectListAddAction() = default;
    virtual void actAddProject(QObject* sender) = 0;
};

class IProjectListPropertiesAction
{
public:
    virtual ~IProjectListPropertiesAction() = default;
    virtual void actShowProjectProperties(QObject* sender) = 0;
};

// The colour chosen in the list's "Color label" submenu (tag 0..8 of ProjectColor's labels).
class IProjectListColorAction
{
public:
    virtual ~IProjectListColorAction() = default;
    virtual void menuColorLabelSelect(int tag) = 0;
};

// The project list of every function kit: rows of 54 pixels drawn by IQV3ProjectCell, the hint
// of the empty list, double click to add a project or show its properties, the row under the
// pointer selected before the context menu opens, and the "Color label" submenu.
class IQV3ProjectListView : public QTableView
{
    Q_OBJECT
public:
    explicit IQV3ProjectListView(QWidget* parent = nullptr);
    ~IQV3ProjectListView() override;

    void setModel(QAbstractItemModel* model) override;
    ProjectListModel* projectModel() const;

    // The pane that answers the small interfaces above (not owned).
    void setDelegate(QObject* delegate) { m_delegate = delegate; }
    QObject* delegate() const { return m_delegate; }

    // The table's context menu (not owned); upgradeMenu adds the colour submenu to it once.
    void setMenu(QMenu* menu) { m_menu = menu; }
    QMenu* menu() const { return m_menu; }
    void upgradeMenu();
    // The nine colour items, each telling the delegate its tag.
    void fillColorMenuItems(QMenu* menu);
    static constexpr int kColorMenuTag = 754;

    bool isLastClickMuvable() const { return m_lastClickIsMoveable; }

    // Selects one row (or none for -1) without the selection notices: a change made by code
    // must not look like the user's choice to the pane.
    void selectRowByCode(int row);

    // The hint of the empty list and where it is drawn.
    static QString emptyHint();
    QRect emptyHintRect() const;

    // Rows whose wheel turns; the view holds the shared wheel timer while there are any.
    const QList<int>& spinnerRows() const { return m_spinnerRows; }

    static constexpr int kColorColumnWidth = 8;
    static constexpr int kStateColumnWidth = 30;

Q_SIGNALS:
    // The double click, after the delegate was asked (row -1 below the rows).
    void doubleClickedRow(int row);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void refreshSpinnerRows();
    void onSpinnerStep();
    void layoutColumns();

    QPointer<QObject> m_delegate;
    QPointer<QMenu> m_menu;
    bool m_lastClickIsMoveable = false;
    QList<int> m_spinnerRows;
    QList<QMetaObject::Connection> m_modelConnections;
};
