#include "panes/archive/IDetailedContentDrawerController.h"

#include "panes/archive/ArchiveContentModel.h"
#include "shell/dialogs/IDDOutlineView.h"

#include <QCoreApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

void IDetailedContentDrawerController::setupOutline(IDDOutlineView* view)
{
    view->setUniformRowHeights(true);
    view->setSelectionMode(QAbstractItemView::ExtendedSelection);
    QHeaderView* header = view->header();
    header->setSectionsClickable(true);
    header->setStretchLastSection(false);
    header->setSectionResizeMode(ArchiveContentModel::ColName, QHeaderView::Stretch);
    header->resizeSection(ArchiveContentModel::ColIncluded, 28);
    header->resizeSection(ArchiveContentModel::ColLocation, 70);
    header->resizeSection(ArchiveContentModel::ColDate, 140);
    header->resizeSection(ArchiveContentModel::ColSize, 80);
    view->setTreePosition(ArchiveContentModel::ColName);
}

IDetailedContentDrawerController::IDetailedContentDrawerController(QAbstractItemModel* content,
    IDDOutlineViewController* controller, const QString& projectName, QWidget* parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("DetailedContentWindow"));
    setWindowTitle(QCoreApplication::translate("Localizable", "Project Content"));
    setWindowModality(Qt::WindowModal);
    m_label = new QLabel(projectName, this);
    QFont bold = m_label->font();
    bold.setBold(true);
    m_label->setFont(bold);
    m_contentView = new IDDOutlineView(this);
    m_contentView->setController(controller);
    m_contentView->setModel(content);
    setupOutline(m_contentView);
    if (auto* model = qobject_cast<ArchiveContentModel*>(content))
        connect(m_contentView, &QTreeView::collapsed, model, &ArchiveContentModel::collapsed);
    m_close = new QPushButton(QCoreApplication::translate("Localizable", "Close"), this);
    m_close->setDefault(true);
    connect(m_close, &QPushButton::clicked, this, &QDialog::accept);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_close);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_label);
    layout->addWidget(m_contentView, 1);
    layout->addLayout(buttons);
    resize(760, 520);
}
