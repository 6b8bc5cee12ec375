#include "panes/backup/IB3RestoreController.h"

#include "panes/backup/Backup3PaneController.h"
#include "platform/MainThread.h"
#include "platform/NameCodec.h"
#include "projects/ILocation.h"
#include "projects/SourceOutlineModel.h"
#include "shell/dialogs/IDDOutlineView.h"
#include "snapshot/IBackup3.h"
#include "snapshot/IBackup3Container.h"
#include "snapshot/IDiskImage.h"
#include "utilities/ICommon.h"
#include "utilities/IShellServices.h"
#include "utilities/LogOptions.h"
#include "utilities/UiPrompts.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QCoreApplication>
#include <QHBoxLayout>
#include <QHeaderView>
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

int alert(UiPrompts::AlertStyle style, const QString& title, const QString& text, const QStringList& buttons)
{
    UiPrompts::Alert a;
    a.style = style;
    a.title = title;
    a.text = text;
    a.buttons = buttons;
    ModalDepthGuard modal;
    return UiPrompts::shared().showAlert(a);
}

QString parentFolder(const QString& path)
{
    const int slash = path.lastIndexOf(QLatin1Char('/'));
    return slash > 0 ? path.left(slash) : QStringLiteral("/");
}

} // namespace

IB3RestoreController::IB3RestoreController(Backup3PaneController* controller, QWidget* parent)
    : QDialog(parent)
    , m_controller(controller)
{
    setObjectName(QStringLiteral("RestoreDetailsDialog"));
    setWindowTitle(loc("Restore"));
    setWindowModality(Qt::WindowModal);
    m_model = std::make_unique<SourceOutlineModel>(&m_lister, &m_excludes);
    m_model->setReadOnly(true);

    m_prompt = new QLabel(loc("Choose an archive you want to restore"), this);
    m_versions = new QComboBox(this);
    m_versions->setToolTip(loc("Choose an archive you want to restore"));
    m_view = new QTreeView(this);
    m_view->setModel(m_model.get());
    m_view->setUniformRowHeights(true);
    m_view->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_view->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_view->setTreePosition(SourceOutlineModel::ColName);
    m_view->header()->setStretchLastSection(false);
    m_view->header()->setSectionResizeMode(SourceOutlineModel::ColName, QHeaderView::Stretch);
    m_view->header()->resizeSection(SourceOutlineModel::ColIncluded, 28);
    m_view->header()->resizeSection(SourceOutlineModel::ColKind, 90);
    m_view->header()->resizeSection(SourceOutlineModel::ColDate, dateColumnWidth(m_view, SourceOutlineModel::ColDate));

    m_original = new QRadioButton(loc("Restore to the original location"), this);
    m_folder = new QRadioButton(loc("Restore to a folder"), this);
    auto* targets = new QButtonGroup(this);
    targets->addButton(m_original, TargetOriginal);
    targets->addButton(m_folder, TargetFolder);
    m_cancel = new QPushButton(loc("Cancel"), this);
    m_selected = new QPushButton(loc("Restore Selected"), this);
    m_all = new QPushButton(loc("Restore All"), this);
    m_all->setDefault(true);

    auto* top = new QHBoxLayout;
    top->addWidget(m_prompt);
    top->addWidget(m_versions, 1);
    auto* targetRow = new QHBoxLayout;
    targetRow->addWidget(m_original);
    targetRow->addWidget(m_folder);
    targetRow->addStretch(1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_cancel);
    buttons->addWidget(m_selected);
    buttons->addWidget(m_all);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(m_view, 1);
    layout->addLayout(targetRow);
    layout->addLayout(buttons);
    resize(720, 480);

    connect(
        m_versions, qOverload<int>(&QComboBox::activated), this, &IB3RestoreController::changeBackupArchive);
    connect(m_view->selectionModel(), &QItemSelectionModel::selectionChanged, this,
        &IB3RestoreController::validateControls);
    connect(m_cancel, &QPushButton::clicked, this, [this] { restoreButton(TagCancel); });
    connect(m_all, &QPushButton::clicked, this, [this] { restoreButton(TagAll); });
    connect(m_selected, &QPushButton::clicked, this, [this] { restoreButton(TagSelected); });
    connect(this, &QDialog::finished, this, [this] { m_modal.reset(); });
}

IB3RestoreController::~IB3RestoreController()
{
    delete m_view;
}

bool IB3RestoreController::showForBackup(std::shared_ptr<IBackup3> project)
{
    m_backup = std::move(project);
    m_externalName.clear();
    m_originalBDILocation.reset();
    if (!m_backup || !m_backup->lastProcessDate().isValid())
        return false;
    m_excludes.setEntries(m_backup->excludePathList().value_or(QStringList()));
    if (!findAndPrepareRestoreData()) {
        restoreOriginalDestination();
        return false;
    }
    m_original->setChecked(true);
    m_modal = std::make_unique<ModalDepthGuard>();
    open();
    return true;
}

bool IB3RestoreController::showForFolder(const QString& projectFolder, const QString& projectName)
{
    m_backup.reset();
    m_externalName = projectName;
    m_originalBDILocation.reset();
    m_excludes.setEntries({});
    if (!fillBackupArchives(projectFolder)) {
        alert(
            UiPrompts::AlertStyle::Critical, loc("Files for restore not found"), QString(), { loc("Close") });
        return false;
    }
    m_original->setChecked(true);
    m_modal = std::make_unique<ModalDepthGuard>();
    open();
    return true;
}

bool IB3RestoreController::findAndPrepareRestoreData()
{
    IBackup3& P = *m_backup;
    bool locationChanged = false;
    for (int round = 0; round < 100; ++round) {
        if (P.useBDI()) {
            if ((P.BDI() && P.BDI()->isBDICurrentlyActivated()) || P.openBDI(true)) {
                const bool filled = fillBackupArchives(P.projectFolderPath());
                P.setBDILastWorkingState(10, 0);
                if (!filled) {
                    m_controller->sendTextInfo(
                        loc("Retrieval of information from disk image has failed"), 1, tpFullLog, &P);
                    if (P.BDI())
                        P.BDI()->deactivate();
                }
                return filled;
            }
            if (P.BDIlastWorkingState().code == 4)
                return false;
        }
        std::shared_ptr<ILocation> location = P.destLocation();
        bool chooseLocation = false;
        if (!location || !location->isActiveForce()) {
            const int answer = alert(UiPrompts::AlertStyle::Critical, loc("Restore warning"),
                loc("External device with your backup is not found.\nDevice: %1\n\nPlease mount the device "
                    "and "
                    "try again, or choose new location with your backup.")
                    .arg(location ? location->getDisplayName() : QString()),
                { loc("Cancel"), loc("Change location"), loc("Try again") });
            if (answer == 2)
                continue;
            if (answer != 1) {
                P.processMessage(loc("Terminated by user"), 0x4761, &P);
                return false;
            }
            chooseLocation = true;
        }
        QString shownPath;
        if (!chooseLocation) {
            if (!locationChanged && fillBackupArchives(QString()))
                return true;
            shownPath = P.useBDI() && P.BDI()
                ? location->getUnverifiedFullPath() + QLatin1Char('/') + P.BDI()->name()
                : P.projectFolderPath();
            const int answer = alert(UiPrompts::AlertStyle::Critical, loc("Restore warning"),
                QStringLiteral("%1\n\n%2")
                    .arg(P.useBDI()
                            ? loc("This project backup is not found, backup disk image name:")
                            : loc("This project backup is not found (see path to backup location below)."),
                        P.useBDI() && P.BDI() ? P.BDI()->name() : shownPath),
                { loc("Cancel"), loc("Change location") });
            if (answer != 1) {
                P.setBDILastWorkingState(4, 0);
                return false;
            }
        }
        UiPrompts::FolderChoiceRequest r;
        r.prompt = P.useBDI() && P.BDI()
            ? loc("Choose folder with backup disk image \"%1\"").arg(P.BDI()->name())
            : loc("Choose backup location");
        r.okButton = loc("Choose");
        r.startPath = location ? location->getUnverifiedFullPath() : QString();
        QString chosen;
        {
            ModalDepthGuard modal;
            chosen = UiPrompts::shared().chooseFolder(r);
        }
        if (chosen.isEmpty()) {
            P.setBDILastWorkingState(4, 0);
            return false;
        }
        if (P.useBDI()) {
            if (!m_originalBDILocation && P.destLocation())
                m_originalBDILocation.reset(ILocation::createCopy(*P.destLocation()));
            std::shared_ptr<ILocation> moved(ILocation::create());
            if (!moved->setupWithPath(chosen))
                return false;
            P.setDestLocation(moved);
            locationChanged = true;
            continue;
        }
        if (fillBackupArchives(chosen)
            || fillBackupArchives(chosen + QLatin1Char('/') + P.projectBackupFolder()))
            return true;
        const int answer = alert(UiPrompts::AlertStyle::Critical, loc("Restore warning"),
            QStringLiteral("%1\n\n%2")
                .arg(loc("This project backup is not found (see path to backup location below)."),
                    chosen + QLatin1Char('/') + P.projectBackupFolder()),
            { loc("Cancel"), loc("Change location") });
        if (answer != 1)
            return false;
    }
    return false;
}

bool IB3RestoreController::fillBackupArchives(const QString& folder)
{
    m_versions->clear();
    QString projectFolder = folder;
    if (projectFolder.isEmpty()) {
        const QString info = m_backup ? m_backup->QV3InfoPath() : QString();
        if (info.isEmpty())
            return false;
        projectFolder = parentFolder(info);
    }
    m_listing = B3RestoreRequest::listVersions(projectFolder);
    if (!m_listing.readable) {
        m_listing = {};
        return false;
    }
    m_projectFolderPath = projectFolder;
    auto* items = qobject_cast<QStandardItemModel*>(m_versions->model());
    for (int i = 0; i < m_listing.versions.size(); ++i) {
        const B3RestoreRequest::Version& v = m_listing.versions.at(i);
        m_versions->addItem(ICommon::generalStringFromDateTime(v.date), i);
        if (!v.enabled && items)
            items->item(m_versions->count() - 1)->setEnabled(false);
    }
    if (m_versions->count() == 0)
        m_versions->addItem(loc("Not found"), -1);
    m_versions->setCurrentIndex(m_listing.selected >= 0 ? m_listing.selected : 0);
    changeBackupArchive();
    return m_listing.selected >= 0;
}

void IB3RestoreController::changeBackupArchive()
{
    const int index = m_versions->currentData().toInt();
    m_rows.clear();
    QList<SourceOutlineModel::Source> sources;
    if (index >= 0 && index < m_listing.versions.size() && m_listing.versions.at(index).enabled) {
        m_rows = B3RestoreRequest::sourceRows(m_projectFolderPath, m_listing.versions.at(index));
        for (int i = 0; i < m_rows.size(); ++i)
            sources.append({ m_rows.at(i).path, qint64(i) });
    }
    m_model->setSources(sources);
    validateControls();
}

void IB3RestoreController::validateControls()
{
    const int index = m_versions->currentData().toInt();
    const bool version
        = index >= 0 && index < m_listing.versions.size() && m_listing.versions.at(index).enabled;
    m_all->setEnabled(version && m_model->rowCount() > 0);
    m_selected->setEnabled(version && !m_view->selectionModel()->selectedRows().isEmpty());
}

void IB3RestoreController::restoreButton(int tag)
{
    if (tag == TagCancel) {
        reject();
        if (m_backup) {
            m_backup->setInProcess(false, IBackup3::OpRestore);
            m_backup->processMessage(loc("Terminated by user"), 0x4761, m_backup.get());
            if (m_backup->BDI())
                m_backup->BDI()->deactivate();
        }
        restoreOriginalDestination();
        return;
    }
    const bool selection = tag == TagSelected;
    if (!m_backup) {
        // A folder from elsewhere: the temporary project is made now, with the user's rights.
        auto project = std::make_shared<IBackup3>();
        project->setName(
            m_externalName.isEmpty() ? B3RestoreRequest::defaultExternalRestoreName() : m_externalName);
        project->setExternalRestoreFlag();
        project->setUseAdminPrivileges(false);
        m_backup = project;
    }
    QString target;
    if (m_folder->isChecked()) {
        UiPrompts::ItemChoiceRequest r;
        r.prompt = loc("Choose folder to restore the backup to");
        r.okButton = loc("Choose");
        r.files = false;
        r.folders = true;
        r.canCreateFolder = true;
        r.recentFolderId = 1;
        QStringList chosen;
        {
            ModalDepthGuard modal;
            chosen = UiPrompts::shared().chooseItems(r);
        }
        if (chosen.isEmpty())
            return; // the sheet stays open
        target = chosen.first();
    }
    handOver(selection, target);
}

bool IB3RestoreController::handOver(bool selection, const QString& targetFolder)
{
    QString error;
    std::optional<QList<B3RestoreItem>> items;
    if (selection) {
        QList<B3RestoreRequest::Selected> chosen;
        for (const QModelIndex& i : m_view->selectionModel()->selectedRows(SourceOutlineModel::ColName)) {
            QModelIndex top = i;
            while (top.parent().isValid())
                top = top.parent();
            const QString topPath = top.data(SourceOutlineModel::PathRole).toString();
            const QString path = i.data(SourceOutlineModel::PathRole).toString();
            chosen.append(
                { qsizetype(top.row()), path == topPath ? QString("") : path.mid(topPath.size() + 1) });
        }
        std::sort(chosen.begin(), chosen.end(),
            [](const auto& a, const auto& b) { return a.row != b.row ? a.row < b.row : a.below < b.below; });
        items = B3RestoreRequest::rowsForSelection(m_rows, chosen, &error);
    } else {
        items = B3RestoreRequest::rowsForAll(m_rows, &error);
    }
    if (!items || items->isEmpty()) {
        m_controller->sendTextInfo(loc("Files for restore not found"), 3, 2, m_backup.get());
        return false;
    }
    if (targetFolder.isEmpty() && m_backup->isExternalRestoreFlag()) {
        // A folder from elsewhere names its own places: they are shown before anything is
        // written there.
        const QStringList targets = B3RestoreRequest::inPlaceTargets(*items);
        const int answer = alert(UiPrompts::AlertStyle::Warning,
            loc("Do you want to restore these items to their original places?"),
            targets.join(QLatin1Char('\n')), { loc("Cancel"), loc("Restore") });
        if (answer != 1)
            return false;
    }
    accept();
    m_backup->setRestoreData(*items);
    m_backup->setRestorePath(targetFolder.isEmpty() ? QString() : targetFolder);
    if (m_backup->isExternalRestoreFlag())
        Q_EMIT externalRestoreStarted(m_backup);
    if (IBackup3Container* c = m_controller->container())
        c->processBackup3(m_backup);
    return true;
}

void IB3RestoreController::restoreOriginalDestination()
{
    if (m_originalBDILocation && m_backup) {
        m_backup->setDestLocation(m_originalBDILocation);
        m_originalBDILocation.reset();
    }
}
