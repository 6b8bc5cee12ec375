#include "panes/backup/IExternalRestoreWindow.h"

#include "panes/backup/Backup3PaneController.h"
#include "platform/DesktopServices.h"
#include "platform/MainThread.h"
#include "platform/NameCodec.h"
#include "projects/ILocation.h"
#include "snapshot/IBackup3.h"
#include "snapshot/IBackup3Container.h"
#include "utilities/IShellServices.h"
#include "utilities/UiPrompts.h"

#include <QCoreApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <sys/stat.h>

namespace {

QString loc(const char* text)
{
    return QCoreApplication::translate("Localizable", text);
}

} // namespace

IExternalRestoreWindow::IExternalRestoreWindow(Backup3PaneController* controller, QWidget* parent)
    : QDialog(parent)
    , m_controller(controller)
{
    setObjectName(QStringLiteral("ExternalRestoreWindow"));
    setWindowTitle(loc("Restore"));
    setWindowModality(Qt::WindowModal);
    m_prompt = new QLabel(this);
    QFont bold = m_prompt->font();
    bold.setBold(true);
    m_prompt->setFont(bold);
    m_status = new QLabel(this);
    m_status->setWordWrap(true);
    m_status->setMinimumWidth(380);
    m_log = new QPushButton(loc("Log"), this);
    m_show = new QPushButton(loc("Show in File Manager"), this);
    m_ok = new QPushButton(loc("Stop"), this);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_log);
    buttons->addStretch(1);
    buttons->addWidget(m_show);
    buttons->addWidget(m_ok);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_prompt);
    layout->addWidget(m_status);
    layout->addLayout(buttons);
    connect(m_ok, &QPushButton::clicked, this, &IExternalRestoreWindow::actOk);
    connect(m_show, &QPushButton::clicked, this, &IExternalRestoreWindow::actShowInFinder);
    connect(m_log, &QPushButton::clicked, this, [] { IShellServices::shared().showLog(); });
    connect(controller, &Backup3PaneController::projectStatusChanged, this,
        &IExternalRestoreWindow::projectStatusChanged);
    // The end of the run also arrives as a finished process.
    connect(controller, &Backup3PaneController::buttonsChanged, this, [this] {
        if (m_project)
            projectStatusChanged(m_project.get());
    });
}

void IExternalRestoreWindow::start(std::shared_ptr<IBackup3> project)
{
    m_project = std::move(project);
    m_resultPath.clear();
    m_prompt->setText(loc("%1...").arg(loc("Restoring")));
    m_status->setText(QString());
    m_ok->setText(loc("Stop"));
    m_log->hide();
    m_show->hide();
    open();
}

void IExternalRestoreWindow::projectStatusChanged(IBackup3* project)
{
    if (!m_project || project != m_project.get() || !isVisible())
        return;
    m_status->setText(project->lastStatusString());
    if (!project->isInProcess() && (!project->restoreData().isEmpty() || !project->restorePath().isNull()))
        validateERWButtons();
}

void IExternalRestoreWindow::validateERWButtons()
{
    m_log->show();
    m_ok->setText(loc("Close"));
    if (!m_project->restorePath().isEmpty()) {
        m_resultPath = m_project->restorePath();
    } else if (!m_project->restoreData().isEmpty() && m_project->restoreData().first().SrcLocation) {
        m_resultPath = m_project->restoreData().first().SrcLocation->getUnverifiedFullPath();
    }
    if (!m_resultPath.isEmpty())
        m_show->show();
    m_project->setRestoreData({});
    m_project->setRestorePath(QString());
}

void IExternalRestoreWindow::actOk()
{
    if (m_project && m_project->isInProcess()) {
        if (IBackup3Container* c = m_controller->container()) {
            c->removeBackup3FromProcessingList(m_project);
            c->terminateProcess();
        }
    }
    accept();
}

void IExternalRestoreWindow::actShowInFinder()
{
    struct stat st = {};
    if (!m_resultPath.isEmpty() && ::lstat(NameCodec::encode(m_resultPath).constData(), &st) == 0) {
        DesktopServices::reveal(m_resultPath);
    } else {
        UiPrompts::Alert a;
        a.style = UiPrompts::AlertStyle::Critical;
        a.title = loc("File or folder not found");
        a.buttons = { loc("OK") };
        ModalDepthGuard modal;
        UiPrompts::shared().showAlert(a);
    }
    accept();
}
