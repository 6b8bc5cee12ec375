#include "IQV3ProjectListView.h"

#include "ATColorButton.h"
#include "IQV3ProjectCell.h"
#include "ProjectListModel.h"
#include "QV3ProcessIndicator.h"
#include "projects/ProjectColor.h"
#include "utilities/IColorUtil.h"
#include "utilities/ICommon.h"
#include "utilities/IShellServices.h"

#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QHeaderView>
#include <QMenu>
#include <QPainter>
#include <QSignalBlocker>

IQV3ProjectListView::IQV3ProjectListView(QWidget* parent)
    : QTableView(parent)
{
    setItemDelegate(new IQV3ProjectCell(this));
    setShowGrid(false);
    horizontalHeader()->hide();
    verticalHeader()->hide();
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(ICommon::projectcListRowHeight());
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::EditKeyPressed | QAbstractItemView::SelectedClicked);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setWordWrap(false);
    setDragEnabled(true);
    setAcceptDrops(true);
    setDragDropMode(QAbstractItemView::DragDrop);
    setDefaultDropAction(Qt::MoveAction);
    setDragDropOverwriteMode(false);
    setDropIndicatorShown(true);
    setFrameShape(QFrame::NoFrame);
    connect(&QV3ProcessIndicator::shared(), &QV3ProcessIndicator::advanced, this,
        &IQV3ProjectListView::onSpinnerStep);
}

IQV3ProjectListView::~IQV3ProjectListView()
{
    QV3ProcessIndicator::shared().release(this);
}

void IQV3ProjectListView::setModel(QAbstractItemModel* model)
{
    for (const QMetaObject::Connection& c : m_modelConnections)
        disconnect(c);
    m_modelConnections.clear();
    QTableView::setModel(model);
    if (model) {
        const auto refresh = [this] { refreshSpinnerRows(); };
        m_modelConnections << connect(model, &QAbstractItemModel::modelReset, this, refresh)
                           << connect(model, &QAbstractItemModel::rowsInserted, this, refresh)
                           << connect(model, &QAbstractItemModel::rowsRemoved, this, refresh)
                           << connect(model, &QAbstractItemModel::rowsMoved, this, refresh)
                           << connect(model, &QAbstractItemModel::dataChanged, this, refresh);
    }
    layoutColumns();
    refreshSpinnerRows();
}

ProjectListModel* IQV3ProjectListView::projectModel() const
{
    return qobject_cast<ProjectListModel*>(model());
}

void IQV3ProjectListView::layoutColumns()
{
    if (!model() || model()->columnCount() < ProjectListModel::ColumnCount)
        return;
    QHeaderView* h = horizontalHeader();
    h->setMinimumSectionSize(1);
    h->setSectionResizeMode(ProjectListModel::ColorColumn, QHeaderView::Fixed);
    h->setSectionResizeMode(ProjectListModel::NameColumn, QHeaderView::Stretch);
    h->setSectionResizeMode(ProjectListModel::StateColumn, QHeaderView::Fixed);
    h->resizeSection(ProjectListModel::ColorColumn, kColorColumnWidth);
    h->resizeSection(ProjectListModel::StateColumn, kStateColumnWidth);
}

void IQV3ProjectListView::resizeEvent(QResizeEvent* event)
{
    QTableView::resizeEvent(event);
    layoutColumns();
}

void IQV3ProjectListView::refreshSpinnerRows()
{
    ProjectListModel* m = projectModel();
    m_spinnerRows = m ? m->spinnerRows() : QList<int>();
    if (m_spinnerRows.isEmpty())
        QV3ProcessIndicator::shared().release(this);
    else
        QV3ProcessIndicator::shared().acquire(this);
}

void IQV3ProjectListView::onSpinnerStep()
{
    // Only the state cells of the turning rows are redrawn.
    if (!model())
        return;
    for (int row : std::as_const(m_spinnerRows))
        viewport()->update(visualRect(model()->index(row, ProjectListModel::StateColumn)));
}

void IQV3ProjectListView::selectRowByCode(int row)
{
    if (!selectionModel())
        return;
    {
        const QSignalBlocker blocker(selectionModel());
        if (row < 0 || !model() || row >= model()->rowCount())
            selectionModel()->clear();
        else
            selectionModel()->setCurrentIndex(model()->index(row, ProjectListModel::NameColumn),
                QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    }
    viewport()->update();
}

QString IQV3ProjectListView::emptyHint()
{
    return QCoreApplication::translate(
        "Localizable", "To add a project, double click here or click the \"+\" button below.");
}

QRect IQV3ProjectListView::emptyHintRect() const
{
    const QRect r = viewport()->rect();
    return QRect(r.x() + 10, r.height() / 2 - 55, r.width() - 20, r.height());
}

void IQV3ProjectListView::paintEvent(QPaintEvent* event)
{
    // While the application closes the containers may already be gone.
    if (IShellServices::shared().isWindowClosing())
        return;
    {
        QPainter p(viewport());
        p.fillRect(event->rect(), IColorUtil::colorForTarget(1).value_or(palette().color(QPalette::Base)));
    }
    QTableView::paintEvent(event);
    if (!model() || model()->rowCount() == 0) {
        QPainter p(viewport());
        QFont font = this->font();
        font.setPixelSize(18);
        p.setFont(font);
        p.setPen(IColorUtil::colorForTarget(4).value_or(QColor(Qt::gray)));
        p.drawText(emptyHintRect(), Qt::AlignHCenter | Qt::AlignTop | Qt::TextWordWrap, emptyHint());
    }
}

void IQV3ProjectListView::mousePressEvent(QMouseEvent* event)
{
    QTableView::mousePressEvent(event);
    m_lastClickIsMoveable = true;
}

void IQV3ProjectListView::mouseDoubleClickEvent(QMouseEvent* event)
{
    const QModelIndex index = indexAt(event->position().toPoint());
    if (!index.isValid()) {
        if (auto* add = dynamic_cast<IProjectListAddAction*>(m_delegate.data()))
            add->actAddProject(this);
    } else if (auto* properties = dynamic_cast<IProjectListPropertiesAction*>(m_delegate.data())) {
        properties->actShowProjectProperties(this);
    }
    Q_EMIT doubleClickedRow(index.isValid() ? index.row() : -1);
    event->accept();
}

void IQV3ProjectListView::contextMenuEvent(QContextMenuEvent* event)
{
    const QModelIndex index = indexAt(event->pos());
    if (index.isValid() && selectionModel()) {
        selectionModel()->setCurrentIndex(
            index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        viewport()->update();
    }
    if (m_menu) {
        upgradeMenu();
        m_menu->popup(event->globalPos());
    }
    event->accept();
}

void IQV3ProjectListView::upgradeMenu()
{
    if (!m_menu)
        return;
    for (QAction* a : m_menu->actions())
        if (a->data().toInt() == kColorMenuTag && a->data().isValid())
            return;
    auto* sub = new QMenu(QCoreApplication::translate("Localizable", "Color label"), m_menu);
    fillColorMenuItems(sub);
    QAction* item = sub->menuAction();
    item->setData(kColorMenuTag);
    QAction* first = m_menu->actions().value(0);
    m_menu->insertAction(first, item);
}

void IQV3ProjectListView::fillColorMenuItems(QMenu* menu)
{
    if (!menu)
        return;
    for (int tag = 0; tag < ProjectColor::kLabelCount; ++tag) {
        const ProjectColor::Label& label = ProjectColor::kLabels[tag];
        QAction* action
            = menu->addAction(ATColorButton::swatch(label.color()), QString::fromLatin1(label.title));
        action->setData(tag);
        connect(action, &QAction::triggered, this, [this, tag] {
            if (auto* color = dynamic_cast<IProjectListColorAction*>(m_delegate.data()))
                color->menuColorLabelSelect(tag);
        });
    }
}
