#include "panes/archive/ArchiveCoordinator.h"

#include "archive/ArchiveProjectCreate.h"
#include "archive/CBackup.h"
#include "archive/CBackupContainer.h"
#include "archive/IBackup.h"
#include "panes/archive/ArchiveProjectList.h"
#include "panes/archive/ISettingsDrawerController.h"
#include "platform/MainThread.h"
#include "platform/NameCodec.h"
#include "projects/ILocation.h"
#include "projects/IProcessIndicator.h"
#include "projects/ProjectColor.h"
#include "projects/ProjectNames.h"
#include "snapshot/IBackup3Controller.h"
#include "sync/ISynchronizeController.h"
#include "utilities/IPrivacyAppender.h"
#include "utilities/IShellServices.h"
#include "utilities/UiPrompts.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <sys/stat.h>

namespace {

QString loc(const char* text)
{
    return QCoreApplication::translate("Localizable", text);
}

} // namespace

ArchiveCoordinator::ArchiveCoordinator(CBackupContainer* container)
    : m_container(container)
{ }

ArchiveCoordinator::~ArchiveCoordinator()
{
    if (m_settingsDrawer)
        m_settingsDrawer->forgetCoordinator();
    if (&ICoordinator::shared() == this)
        ICoordinator::setShared(nullptr);
}

CBackup* ArchiveCoordinator::current() const
{
    if (m_closing || !m_container)
        return nullptr;
    for (int i = 0; i < m_container->backupCount(); ++i)
        if (m_container->backupAt(i)->isSelected())
            return m_container->backupAt(i);
    return nullptr;
}

bool ArchiveCoordinator::isUniqueName(const QString& name, const CBackup* excluded)
{
    if (!m_container)
        return true;
    for (int i = 0; i < m_container->backupCount(); ++i) {
        const CBackup* b = m_container->backupAt(i);
        if (b != excluded && b->name() == name)
            return false;
    }
    return true;
}

void ArchiveCoordinator::fullReloadBackupData()
{
    if (!m_views)
        return;
    CBackup* b = current();
    m_views->reloadContent(b ? b->getIBackup() : nullptr, true);
    m_views->validateControls();
}

bool ArchiveCoordinator::chooseDestPathByUser(ILocation* location)
{
    // One folder chooser for every pane: the snapshot pane's.
    return IBackup3Controller::shared().chooseDestPathByUser(location);
}

bool ArchiveCoordinator::isSettingsDrawerOpened() const
{
    if (!m_settingsDrawer)
        return false;
    const ISettingsDrawerController::DrawerState state = m_settingsDrawer->drawerState();
    return state == ISettingsDrawerController::Opening || state == ISettingsDrawerController::Open;
}

IProcessIndicator* ArchiveCoordinator::processIndicator()
{
    return m_views ? m_views->indicator() : nullptr;
}

int ArchiveCoordinator::backupCount() const
{
    return m_container && !m_closing ? m_container->backupCount() : 0;
}

int ArchiveCoordinator::currentBackupIndex() const
{
    CBackup* b = current();
    return b ? m_container->getIndexBackup(b) : -1;
}

bool ArchiveCoordinator::setCurrentBackupIndex(int index)
{
    return m_container && m_container->makeSingleSelection(index);
}

bool ArchiveCoordinator::isBackupRunning() const
{
    CBackup* b = current();
    return b && b->isInProcess();
}

QColor ArchiveCoordinator::backupColorAt(int index) const
{
    const CBackup* b = m_container ? m_container->backupAt(index) : nullptr;
    if (!b || !b->color().isValid())
        return ProjectColor::defaultColor();
    return b->color();
}

void ArchiveCoordinator::setCurrentBackupColor(const QColor& color)
{
    if (CBackup* b = current())
        b->setColor(color);
}

int ArchiveCoordinator::nextBPLItemIndex(int index) const
{
    const int count = backupCount();
    return count > 0 ? (index + 1) % count : 0;
}

int ArchiveCoordinator::prevBPLItemIndex(int index) const
{
    const int count = backupCount();
    return count > 0 ? (index + count - 1) % count : 0;
}

void ArchiveCoordinator::nextBackup()
{
    setCurrentBackupIndex(nextBPLItemIndex(currentBackupIndex()));
}

void ArchiveCoordinator::prevBackup()
{
    setCurrentBackupIndex(prevBPLItemIndex(currentBackupIndex()));
}

void ArchiveCoordinator::initFirstBackup()
{
    if (!current() && backupCount() > 0)
        m_container->makeSingleSelection(0);
    if (m_views)
        m_views->redrawProjectList();
}

bool ArchiveCoordinator::renameBackupByUser(CBackup* backup)
{
    if (!backup || !m_container || m_closing)
        return false;
    const bool listed = m_container->getIndexBackup(backup) >= 0;
    QString proposal = backup->name();
    if (!listed) {
        proposal = QStringLiteral("Untitled");
        if (m_views && m_views->contentRowCount() > 0)
            proposal = QFileInfo(m_views->firstContentRowName()).completeBaseName();
        if (proposal.isEmpty())
            proposal = loc("Untitled");
    }
    UiPrompts::TextRequest r;
    r.title = loc("Create project");
    r.comment = loc("Input name for new project");
    r.defaultText = proposal;
    QString answer;
    {
        ModalDepthGuard modal;
        answer = UiPrompts::shared().askText(r);
    }
    if (answer.isEmpty())
        return false;
    // The name becomes the archive folder's name under the destination: "." or ".." would put
    // the archives into the destination or its parent.
    const QString base = ProjectNames::fromInput(answer);
    if (base.isEmpty())
        return false;
    QString name = base;
    for (int n = 1; !m_container->renameBackup(backup, name) || !isUniqueName(name, backup); ++n)
        name = base + QString::number(n);
    if (m_list && m_list->indexOf(backup) < 0)
        m_list->append(backup);
    return true;
}

bool ArchiveCoordinator::closeCurrentBackup()
{
    CBackup* b = current();
    if (m_views)
        m_views->reloadContent(nullptr, false);
    if (!b)
        return false;
    CBackup* next = m_list ? m_list->deleteBackupAndGetCurrent(b) : nullptr;
    if (!m_container->removeBackup(b) && m_container->getIndexBackup(b) >= 0) {
        // Refused (it runs): it stays listed.
        if (m_list)
            m_list->syncWithContainer();
        return false;
    }
    if (next)
        m_container->makeSingleSelection(next);
    return true;
}

int ArchiveCoordinator::checkBackupButtonState()
{
    int state = 1;
    if (!m_views || m_views->contentRowCount() == 0)
        state = 0;
    else if (CBackup::m_nTarRunning > 0)
        state = 2;
    if (IProcessIndicator* i = processIndicator())
        i->setButtonState(state);
    if (state != 2 && m_views)
        m_views->validateControls();
    return state;
}

void ArchiveCoordinator::mainButtonClickedOn(IProcessIndicator* indicator)
{
    const int state = indicator ? indicator->buttonState() : checkBackupButtonState();
    if (state == 1)
        IPrivacyAppender::appendQVToPrivacyByUser(); // its answer changes nothing here
    clickOnBB(state);
}

void ArchiveCoordinator::clickOnBB(int state)
{
    if (m_closing || state == 0)
        return;
    if (state == 2) {
        // The user's stop: the queue empties and the running job's whole pipeline ends.
        if (m_container)
            m_container->stopTar();
    } else if (state == 1) {
        if (m_views)
            m_views->build();
    } else {
        return;
    }
    if (m_views)
        m_views->validateControls();
}

void ArchiveCoordinator::changedCurrentBackupContent()
{
    CBackup* b = current();
    if (b && m_views)
        m_views->reloadContent(b->getIBackup(), false);
}

void ArchiveCoordinator::addFilesToContent(const QStringList& paths)
{
    if (m_views && !m_closing)
        m_views->addFilesToContent(paths);
}

ISynchronizeController* ArchiveCoordinator::synchronizeController()
{
    if (m_closing)
        return nullptr;
    if (!m_sync)
        m_sync = &ISynchronizeController::shared();
    return m_sync;
}

void ArchiveCoordinator::appClosing()
{
    m_closing = true;
    if (m_sync) {
        m_sync->eventAppClosing(9);
        m_sync = nullptr;
    }
}
