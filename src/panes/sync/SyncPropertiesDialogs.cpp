#include "panes/sync/SyncPropertiesDialogs.h"

#include "panes/sync/SynchronizePaneController.h"
#include "platform/MainThread.h"
#include "projects/IAgentTool.h"
#include "projects/ILocation.h"
#include "projects/IPlaceMounter.h"
#include "projects/ProjectNames.h"
#include "projects/QVAgentStatePrefs.h"
#include "sync/ISynchron.h"
#include "sync/ISynchronContainer.h"
#include "utilities/CommonFunctions.h"
#include "utilities/HelpAnchor.h"
#include "utilities/LogOptions.h"
#include "utilities/MainPreferences.h"
#include "utilities/UiPrompts.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

QString loc(const char* text)
{
    return QCoreApplication::translate("Localizable", text);
}

QCheckBox* box(const char* title, const char* tip, QWidget* parent)
{
    auto* b = new QCheckBox(loc(title), parent);
    if (tip)
        b->setToolTip(loc(tip));
    return b;
}

std::function<bool(const QString&)> uniqueIn(SynchronizePaneController* pane, const ISynchron* self)
{
    return [pane, self](const QString& n) {
        return !pane || !pane->container() || pane->container()->isUniqueName(n, self);
    };
}

QHBoxLayout* buttonRow(QDialog* d, QPushButton** ok, QPushButton** help, const QString& anchor)
{
    *help = new QPushButton(QStringLiteral("?"), d);
    *ok = new QPushButton(loc("OK"), d);
    (*ok)->setDefault(true);
    auto* cancel = new QPushButton(loc("Cancel"), d);
    QObject::connect(*ok, &QPushButton::clicked, d, &QDialog::accept);
    QObject::connect(cancel, &QPushButton::clicked, d, &QDialog::reject);
    QObject::connect(*help, &QPushButton::clicked, d, [anchor] { MyGotoHelpAnchor(anchor); });
    auto* row = new QHBoxLayout;
    row->addWidget(*help);
    row->addStretch(1);
    row->addWidget(cancel);
    row->addWidget(*ok);
    return row;
}

} // namespace

// ---- Synchronization sheet ---------------------------------------------------------------------

SyncPropertiesDialog::SyncPropertiesDialog(
    SynchronizePaneController* pane, std::shared_ptr<ISynchron> project, QWidget* parent)
    : QDialog(parent)
    , m_pane(pane)
    , m_project(std::move(project))
{
    setWindowTitle(loc("Synchronization Settings"));
    m_name = new QLineEdit(this);
    m_name->setToolTip(loc("Choose project name"));
    m_noDelete = box("No files will be deleted during synchronization",
        "No files will be deleted during synchronization", this);
    m_modDate = box("Don't replace newer files",
        "Don't replace files in the destination if their modification date is later than the one in the source.", this);
    m_exInvisible = box("Exclude invisible files", "Exclude invisible files from synchronization", this);
    m_exFinder = box("Exclude auxiliary files", "Exclude Finder auxiliary files from synchronization", this);
    m_exApps = box("Exclude applications", "Exclude applications from synchronization", this);
    m_exAliases = box("Exclude aliases", "Exclude aliases from synchronization", this);
    m_useePattern = box("Exclude by pattern:", "Use pattern to exclude files from synchronization", this);
    m_pattern = new QLineEdit(this);
    m_pattern->setToolTip(loc("Enter exclusion pattern"));
    m_capture = new QPushButton(loc("Capture..."), this);
    m_capture->setToolTip(loc("Capture exclusion pattern through the extended file dialog"));
    m_xattrs = new QComboBox(this);
    m_xattrs->setToolTip(loc("Exclude extended attributes from synchronization"));
    m_xattrs->addItem(loc("Copy extended attributes"), 0);
    m_xattrs->addItem(loc("Exclude extended attributes"), 1);
    m_onMount = box("Run when the destination is mounted", "Run the scheduled task when an external storage is mounted", this);
    m_admin = box("Run with administrator rights", nullptr, this);
    m_automount = box("Mount network volumes and disk images before the run",
        "Mount network volume(s) automatically before backup", this);
    m_mount = new QPushButton(loc("Mount Now"), this);
    m_mount->setToolTip(loc("Mount remote device(s)"));
    m_startIfLate = box("Start a missed scheduled run", nullptr, this);

    auto* pattern = new QHBoxLayout;
    pattern->addWidget(m_useePattern);
    pattern->addWidget(m_pattern, 1);
    pattern->addWidget(m_capture);
    auto* mount = new QHBoxLayout;
    mount->addWidget(m_automount, 1);
    mount->addWidget(m_mount);
    auto* form = new QFormLayout;
    form->addRow(loc("Name:"), m_name);
    auto* all = new QVBoxLayout(this);
    all->addLayout(form);
    for (QWidget* w : { static_cast<QWidget*>(m_noDelete), static_cast<QWidget*>(m_modDate),
             static_cast<QWidget*>(m_exInvisible), static_cast<QWidget*>(m_exFinder), static_cast<QWidget*>(m_exApps),
             static_cast<QWidget*>(m_exAliases) })
        all->addWidget(w);
    all->addLayout(pattern);
    all->addWidget(m_xattrs);
    all->addWidget(m_onMount);
    all->addWidget(m_admin);
    all->addLayout(mount);
    all->addWidget(m_startIfLate);
    all->addStretch(1);
    all->addLayout(buttonRow(this, &m_ok, &m_help, QStringLiteral("synchro_settings_html")));

    connect(m_name, &QLineEdit::editingFinished, this, &SyncPropertiesDialog::changeProjectName);
    connect(m_useePattern, &QCheckBox::toggled, this, [this](bool on) {
        m_pattern->setEnabled(on);
        m_capture->setEnabled(on);
    });
    connect(m_capture, &QPushButton::clicked, this, &SyncPropertiesDialog::captureExcludePattern);
    connect(m_mount, &QPushButton::clicked, this, [this] {
        if (m_project)
            mountNow(*m_project);
        updateAutoMountControls();
    });

    m_loaded = m_project ? SyncPropertiesForm::fromSynchron(*m_project) : SyncPropertiesForm::SyncForm();
    apply(m_loaded);
}

void SyncPropertiesDialog::apply(const SyncPropertiesForm::SyncForm& f)
{
    m_name->setText(f.name);
    m_noDelete->setChecked(f.noDelete);
    m_modDate->setChecked(f.considerModDate);
    m_noDelete->setEnabled(f.deleteAndDateEnabled);
    m_modDate->setEnabled(f.deleteAndDateEnabled);
    m_exInvisible->setChecked(f.excludeInvisible);
    m_exFinder->setChecked(f.excludeFinderData);
    m_exApps->setChecked(f.excludeApplications);
    m_exAliases->setChecked(f.excludeAliases);
    m_useePattern->setChecked(f.excludeByPattern);
    m_pattern->setText(f.pattern);
    m_pattern->setEnabled(f.excludeByPattern);
    m_capture->setEnabled(f.excludeByPattern);
    m_xattrs->setCurrentIndex(qMax(0, m_xattrs->findData(f.extendedAttrs)));
    m_onMount->setChecked(f.processOnMount);
    m_onMount->setEnabled(f.processOnMountEnabled);
    m_admin->setChecked(f.admin);
    m_automount->setEnabled(f.automountEnabled);
    m_automount->setChecked(f.automount);
    m_mount->setEnabled(f.mountButtonEnabled);
    const auto late = SyncPropertiesForm::startIfLateBox(f.schedule.scheduled, f.schedule.type, f.schedule.startIfLate);
    m_startIfLate->setEnabled(late.enabled);
    m_startIfLate->setChecked(late.checked);
}

SyncPropertiesForm::SyncForm SyncPropertiesDialog::form() const
{
    SyncPropertiesForm::SyncForm f = m_loaded;
    f.name = m_name->text();
    f.noDelete = m_noDelete->isChecked();
    f.considerModDate = m_modDate->isChecked();
    f.excludeInvisible = m_exInvisible->isChecked();
    f.excludeFinderData = m_exFinder->isChecked();
    f.excludeApplications = m_exApps->isChecked();
    f.excludeAliases = m_exAliases->isChecked();
    f.excludeByPattern = m_useePattern->isChecked();
    f.pattern = m_pattern->text();
    f.extendedAttrs = m_xattrs->currentData().toInt();
    f.processOnMount = m_onMount->isChecked();
    f.admin = m_admin->isChecked();
    f.automount = m_automount->isChecked();
    f.schedule.startIfLate = m_startIfLate->isChecked();
    return f;
}

void SyncPropertiesDialog::changeProjectName()
{
    if (!m_project)
        return;
    const QString text = m_name->text();
    if (text.trimmed().isEmpty()) {
        m_name->setText(m_project->name());
        return;
    }
    const QString name = ProjectNames::fromInput(text);
    if (name.isNull()) {
        m_name->setText(m_project->name());
        return;
    }
    if (name != m_project->name())
        m_name->setText(ProjectNames::makeUnique(name, uniqueIn(m_pane, m_project.get())));
}

void SyncPropertiesDialog::captureExcludePattern()
{
    UiPrompts::ItemChoiceRequest r;
    r.prompt = loc("Capture");
    r.okButton = loc("Capture");
    r.files = true;
    r.folders = true;
    r.multiple = false;
    QStringList paths;
    {
        ModalDepthGuard modal;
        paths = UiPrompts::shared().chooseItems(r);
    }
    if (paths.isEmpty())
        return;
    m_pattern->setText(SyncPropertiesForm::capturePattern(m_pattern->text(), m_captureRule, paths.first(), true));
}

void SyncPropertiesDialog::updateAutoMountControls()
{
    if (!m_project)
        return;
    const SyncPropertiesForm::SyncForm f = SyncPropertiesForm::fromSynchron(*m_project);
    m_automount->setEnabled(f.automountEnabled);
    if (!f.automountEnabled)
        m_automount->setChecked(false);
    m_mount->setEnabled(f.mountButtonEnabled);
}

void SyncPropertiesDialog::mountNow(ISynchron& P)
{
    auto failed = [&P](const QString& text, bool withStatus) {
        P.processMessage(LogText(text), LogWord::WindowPrefixedNow, nullptr);
        if (withStatus)
            P.processMessage(LogText(QVFuncStatus(QStringLiteral("CVolumeMounter::mountLocation"))),
                LogWord::RunLogPrefixedNow, nullptr);
    };
    bool firstFailed = false;
    if (const auto L = P.firstLocation()) {
        if (L->getDeviceType() == 6 && !L->isActive()) {
            if (!IPlaceMounter::shared().mountLocation(L.get(), 0)) {
                failed(loc("Left Target automount error"), true);
                firstFailed = true;
            }
        } else if (L->isBDI() && !L->isBDIActive() && !L->mountBDI()) {
            failed(loc("Left Target (Disk Image) automount error"), false);
            firstFailed = true;
        }
    }
    if (const auto L = P.secondLocation()) {
        if (L->getDeviceType() == 6 && !L->isActive()) {
            if (!IPlaceMounter::shared().mountLocation(L.get(), 0))
                failed(loc("Right Target automount error"), true);
        } else if (L->isBDI() && !L->isBDIActive() && !firstFailed && !L->mountBDI()) {
            failed(loc("Right Target (Disk Image) automount error"), false);
        }
    }
}

void SyncPropertiesDialog::accept()
{
    if (m_project) {
        changeProjectName();
        SyncPropertiesForm::store(form(), *m_project, uniqueIn(m_pane, m_project.get()), QDateTime::currentDateTime());
        if (m_pane) {
            m_pane->stopAnalyze(m_project.get());
            m_pane->clearAnalyzeView();
        }
    }
    QDialog::accept();
}

// ---- Clone sheet -------------------------------------------------------------------------------

ClonePropertiesDialog::ClonePropertiesDialog(
    SynchronizePaneController* pane, std::shared_ptr<ISynchron> project, QWidget* parent)
    : QDialog(parent)
    , m_pane(pane)
    , m_project(std::move(project))
{
    setWindowTitle(loc("Clone Settings"));
    m_name = new QLineEdit(this);
    m_name->setToolTip(loc("Choose project name"));
    m_noDelete = box("Don't delete files missing on the source", nullptr, this);
    m_onMount = box("Run when the destination is mounted", "Run the scheduled task when an external storage is mounted", this);
    m_usb = box("Mount the USB destination automatically", "Mount USB volume(s) automatically before cloning", this);
    m_warning = box("Warn before a clone starts", nullptr, this);
    m_startIfLate = box("Start a missed scheduled run", nullptr, this);
    auto* form = new QFormLayout;
    form->addRow(loc("Name:"), m_name);
    auto* all = new QVBoxLayout(this);
    all->addLayout(form);
    for (QCheckBox* b : { m_noDelete, m_onMount, m_usb, m_warning, m_startIfLate })
        all->addWidget(b);
    all->addStretch(1);
    all->addLayout(buttonRow(this, &m_ok, &m_help, QStringLiteral("cloning_settings_html")));

    m_loaded = m_project ? SyncPropertiesForm::fromClone(*m_project) : SyncPropertiesForm::CloneForm();
    m_name->setText(m_loaded.name);
    m_noDelete->setChecked(m_loaded.noDelete);
    m_onMount->setChecked(m_loaded.processOnMount);
    m_usb->setChecked(m_loaded.usbAutomount);
    m_onMount->setEnabled(m_loaded.usbRemovableDestination);
    m_usb->setEnabled(m_loaded.usbRemovableDestination);
    m_warning->setChecked(m_loaded.startWarning);
    const auto late = SyncPropertiesForm::startIfLateBox(
        m_loaded.schedule.scheduled, m_loaded.schedule.type, m_loaded.schedule.startIfLate);
    m_startIfLate->setEnabled(late.enabled);
    m_startIfLate->setChecked(late.checked);
}

SyncPropertiesForm::CloneForm ClonePropertiesDialog::form() const
{
    SyncPropertiesForm::CloneForm f = m_loaded;
    f.name = m_name->text();
    f.noDelete = m_noDelete->isChecked();
    f.processOnMount = m_onMount->isChecked();
    f.usbAutomount = m_usb->isChecked();
    f.startWarning = m_warning->isChecked();
    f.schedule.startIfLate = m_startIfLate->isChecked();
    return f;
}

void ClonePropertiesDialog::accept()
{
    if (m_project)
        SyncPropertiesForm::store(form(), *m_project, uniqueIn(m_pane, m_project.get()), QDateTime::currentDateTime());
    QDialog::accept();
}

// ---- Opening and ending ------------------------------------------------------------------------

void endSynchronProperties(SynchronizePaneController* pane, bool ok, ISynchron& P, bool wasScheduled)
{
    if (ok) {
        if (!P.isScheduled())
            P.setNextProcessDate(QDateTime());
        if (pane) {
            pane->eventProjectPropertyChanged(6);
            if (pane->container())
                pane->container()->save();
        }
    }
    if (!ok)
        return;
    PrefsAgentState& state = MainPreferences::shared().agentState();
    AgentBitsInput in;
    in.bits = state.getInt();
    in.wasScheduled = wasScheduled;
    in.isScheduled = P.isScheduled();
    in.processOnMount = P.isProcessOnMount();
    in.userWantsAgent = true;
    in.agentAutostart = true;
    AgentBitsResult r = agentBitsAfterProperties(in);
    // The agent must start at login: when that cannot be set up, scheduled starts stay off.
    if (r.setAutostart && !IAgentTool::shared().setAgentAutostart(true)) {
        in.agentAutostart = false;
        r = agentBitsAfterProperties(in);
    }
    if (r.bits != in.bits) {
        state.setOff(0xf & ~r.bits);
        state.setOn(r.bits);
    }
}

void showSynchronProperties(SynchronizePaneController* pane, const std::shared_ptr<ISynchron>& P, QWidget* parent)
{
    if (!P || P->isInProcess())
        return;
    const bool wasScheduled = P->isScheduled() || P->isProcessOnMount();
    std::unique_ptr<QDialog> sheet;
    if (P->isClone())
        sheet = std::make_unique<ClonePropertiesDialog>(pane, P, parent);
    else
        sheet = std::make_unique<SyncPropertiesDialog>(pane, P, parent);
    sheet->setWindowModality(parent ? Qt::WindowModal : Qt::ApplicationModal);
    int answer = QDialog::Rejected;
    {
        ModalDepthGuard modal;
        answer = sheet->exec();
    }
    endSynchronProperties(pane, answer == QDialog::Accepted, *P, wasScheduled);
}
