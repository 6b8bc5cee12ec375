#include "panes/archive/ArchiveRestoreView.h"

#include "archive/ArchiveNames.h"
#include "archive/ArchiveRestoreMembers.h"
#include "archive/CBackup.h"
#include "archive/CBackupContainer.h"
#include "archive/CBackupItem.h"
#include "archive/IBackup.h"
#include "panes/archive/ArchiveContentModel.h"
#include "platform/MainThread.h"
#include "utilities/HelpAnchor.h"
#include "utilities/UiPrompts.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QStandardItemModel>
#include <QTreeView>
#include <QVBoxLayout>

namespace {

QString loc(const char* text)
{
    return QCoreApplication::translate("Localizable", text);
}

} // namespace

ArchiveRestoreView::ArchiveRestoreView(
    CBackupContainer* container, CBackup* backup, QWidget* parent, const ArchivePopup::Environment& env)
    : QDialog(parent)
    , m_container(container)
    , m_backup(backup)
{
    setWindowTitle(loc("Restore"));
    setWindowModality(Qt::WindowModal);
    if (m_backup && m_backup->loadState() != 2) {
        m_backup->reload();
        m_backup->getIBackup()->registerExternalChange(5);
    }
    m_model = std::make_unique<ArchiveContentModel>(ArchiveContentModel::Mode::Restore);
    m_model->setReadOnly(true);

    auto* label = new QLabel(loc("Backup archive:"), this);
    m_archives = new QComboBox(this);
    m_archives->setToolTip(loc("Choose an archive you want to restore"));
    m_archives->setMinimumWidth(380);
    m_outline = new QTreeView(this);
    m_outline->setUniformRowHeights(true);
    m_outline->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_outline->setModel(m_model.get());
    m_outline->setColumnHidden(ArchiveContentModel::ColIncluded, true);
    m_outline->header()->setStretchLastSection(false);
    m_outline->header()->setSectionResizeMode(ArchiveContentModel::ColName, QHeaderView::Stretch);
    m_outline->header()->resizeSection(ArchiveContentModel::ColLocation, 70);
    m_outline->header()->resizeSection(ArchiveContentModel::ColDate, 140);
    m_outline->header()->resizeSection(ArchiveContentModel::ColSize, 80);
    m_outline->setTreePosition(ArchiveContentModel::ColName);
    connect(m_outline, &QTreeView::collapsed, m_model.get(), &ArchiveContentModel::collapsed);

    m_original = new QRadioButton(loc("Restore to original location"), this);
    m_folder = new QRadioButton(loc("Restore to another folder"), this);
    m_original->setChecked(true);
    m_fromSelected = new QCheckBox(loc("Restore from the selected archive only"), this);
    m_restoreSelected = new QPushButton(loc("Restore selected"), this);
    m_restoreAll = new QPushButton(loc("Restore all"), this);
    auto* cancel = new QPushButton(loc("Cancel"), this);
    auto* help = new QPushButton(QStringLiteral("?"), this);
    help->setFixedWidth(28);

    auto* top = new QHBoxLayout;
    top->addWidget(label);
    top->addWidget(m_archives, 1);
    auto* targets = new QVBoxLayout;
    targets->addWidget(m_original);
    targets->addWidget(m_folder);
    targets->addWidget(m_fromSelected);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(help);
    buttons->addStretch();
    buttons->addWidget(cancel);
    buttons->addWidget(m_restoreSelected);
    buttons->addWidget(m_restoreAll);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(m_outline, 1);
    layout->addLayout(targets);
    layout->addLayout(buttons);
    resize(720, 480);

    // The archive pop-up, newest first; an archive that cannot be reached stays choosable.
    if (m_backup) {
        for (const ArchivePopup::Item& item : ArchivePopup::fillBackupArchives(*m_backup, env))
            m_archives->addItem(item.title, item.tag);
    }
    m_model->setProject(m_backup);
    connect(m_archives, &QComboBox::currentIndexChanged, this, &ArchiveRestoreView::changeBackupArchive);
    connect(m_outline->selectionModel(), &QItemSelectionModel::selectionChanged, this,
        &ArchiveRestoreView::validateControls);
    connect(m_restoreSelected, &QPushButton::clicked, this, [this] { restoreButton(2); });
    connect(m_restoreAll, &QPushButton::clicked, this, [this] { restoreButton(1); });
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(help, &QPushButton::clicked, this, [] { MyGotoHelpAnchor(QStringLiteral("restore_qv_html")); });
    m_archives->setCurrentIndex(0);
    changeBackupArchive(0);
}

ArchiveRestoreView::~ArchiveRestoreView()
{
    delete m_outline;
}

void ArchiveRestoreView::changeBackupArchive(int popupIndex)
{
    if (!m_backup)
        return;
    const int tag = m_archives->itemData(popupIndex).toInt();
    if (tag >= 0 && tag < int(m_backup->archives().size())) {
        m_backup->setSelectedArchiveIndex(tag);
        m_backup->setSelectedArchive(m_backup->archives()[size_t(tag)].fileName);
    } else {
        m_backup->setSelectedArchive(QString());
    }
    m_outline->viewport()->update();
    validateControls();
}

void ArchiveRestoreView::validateControls()
{
    const int tag = m_archives->currentData().toInt();
    const bool archive = m_backup && tag >= 0;
    m_restoreAll->setEnabled(archive);
    m_restoreSelected->setEnabled(archive && m_outline->selectionModel()->hasSelection());
    const bool incremental = archive && isArchiveFileIncremental(m_backup->archives()[size_t(tag)].fileName);
    m_fromSelected->setVisible(incremental);
}

bool ArchiveRestoreView::restoreButton(int tag)
{
    if (!m_backup || m_archives->currentData().toInt() < 0 || (tag != 1 && tag != 2))
        return false;
    QString folder;
    if (m_folder->isChecked()) {
        UiPrompts::FolderChoiceRequest r;
        r.prompt = loc("Choose folder to restore the backup to");
        r.okButton = loc("Choose");
        r.startPath = m_lastTarget;
        {
            ModalDepthGuard modal;
            folder = UiPrompts::shared().chooseFolder(r);
        }
        if (folder.isEmpty())
            return false; // the sheet stays open
        m_lastTarget = folder;
    }
    RestoreMembers members; // none: everything
    if (tag == 2) {
        QList<const CBackupItem*> items;
        for (const QModelIndex& i : m_outline->selectionModel()->selectedRows(ArchiveContentModel::ColName))
            if (const CBackupItem* item = m_model->itemAt(i))
                items << item;
        if (items.isEmpty())
            return false;
        const QString name = m_backup->archives()[size_t(m_backup->selectedArchiveIndex())].fileName;
        members = ArchiveRestoreMembers::forItems(items, folder.isEmpty(), isArchiveFileLongPath(name));
    }
    m_container->makeSingleSelection(m_backup);
    const int before = int(m_container->queue().size()) + (m_backup->isInProcess() ? 1 : 0);
    m_container->restoreSelectedBackups(
        folder, members, m_fromSelected->isVisible() && m_fromSelected->isChecked());
    const bool queued = m_backup->isInProcess() || int(m_container->queue().size()) > before;
    if (queued)
        accept();
    return queued;
}
