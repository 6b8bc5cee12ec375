#include "shell/dialogs/IScheduleSuspendDialog.h"

#include "platform/Clock.h"
#include "projects/QVAgentState.h"
#include "utilities/ICommon.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QCursor>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

bool isNoDate(const QDateTime& date)
{
    return !date.isValid() || date.toMSecsSinceEpoch() == 0;
}

} // namespace

IScheduleSuspendDialog& IScheduleSuspendDialog::shared()
{
    static IScheduleSuspendDialog* dialog = new IScheduleSuspendDialog;
    return *dialog;
}

IScheduleSuspendDialog::IScheduleSuspendDialog(QWidget* parent)
    : QDialog(parent, Qt::Tool | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint | Qt::WindowTitleHint)
{
    createStopScheduleDialog();
}

IScheduleSuspendDialog::~IScheduleSuspendDialog() = default;

void IScheduleSuspendDialog::createStopScheduleDialog()
{
    setWindowTitle(tr("Suspend all processes"));
    setModal(false);

    _iconOnView = new QLabel(this);
    _suspendSchedulingPopup = new QComboBox(this);
    // Title and minutes; 0 suspends without an end.
    static const struct
    {
        const char* title;
        int minutes;
    } choices[] = {
        { "30 minutes", 30 },
        { "1 hour", 60 },
        { "3 hours", 180 },
        { "6 hours", 360 },
        { "12 hours", 720 },
        { "1 day", 1440 },
        { "3 days", 4320 },
        { "unlimited time", 0 },
    };
    for (const auto& choice : choices)
        _suspendSchedulingPopup->addItem(tr(choice.title), choice.minutes);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &IScheduleSuspendDialog::okButton);
    connect(buttons, &QDialogButtonBox::rejected, this, &IScheduleSuspendDialog::cancelButton);

    auto* row = new QHBoxLayout;
    row->addWidget(_iconOnView);
    row->addWidget(_suspendSchedulingPopup, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(row);
    layout->addWidget(buttons);
    _scheduleEnabled = false;
}

QString IScheduleSuspendDialog::localStringFromDateTime(const QDateTime& date)
{
    if (isNoDate(date))
        return QString();
    return ICommon::localShortlStringFromDateTime(date);
}

QString IScheduleSuspendDialog::generalStringFromDateTime(const QDateTime& date)
{
    if (isNoDate(date))
        return QString();
    return ICommon::generalStringFromDateTime(date);
}

QString IScheduleSuspendDialog::scheduleEnabledToggleItemTitle(const QVAgentState& state)
{
    return scheduleEnabledToggleItemTag(state) == 2 ? tr("Resume Scheduler") : tr("Suspend Scheduler...");
}

int IScheduleSuspendDialog::scheduleEnabledToggleItemTag(const QVAgentState& state)
{
    return (!state.isOn(QVAgentState::ScheduleOn) || state.isOn(QVAgentState::Suspended)) ? 2 : 1;
}

QString IScheduleSuspendDialog::scheduleEnabledCommentItemTitle(const QVAgentState& state)
{
    if (!state.isOn(QVAgentState::ScheduleOn))
        return tr("Scheduler is not active");
    if (!state.isOn(QVAgentState::Suspended))
        return tr("Scheduler is active");
    return QStringLiteral("%1 %2").arg(
        tr("Scheduler was suspended until"), generalStringFromDateTime(state.scheduleResumeDate()));
}

void IScheduleSuspendDialog::showWithController(QObject* controller, bool down)
{
    _controller = controller;
    _scheduleEnabled = true;
    showStopScheduleDialogDown(down);
}

void IScheduleSuspendDialog::showStopScheduleDialogDown(bool down)
{
    // The panel's top edge sits at the pointer (below it when opened from a menu), centred on it.
    // The window system alone activates it; no input events are synthesised.
    adjustSize();
    const QPoint mouse = QCursor::pos();
    const QSize size = sizeHint().expandedTo(minimumSizeHint());
    resize(size);
    move(mouse.x() - size.width() / 2, mouse.y() + (down ? size.height() : 0));
    show();
    raise();
    activateWindow();
}

void IScheduleSuspendDialog::okButton()
{
    hide();
    _scheduleEnabled = false;
    const int minutes = _suspendSchedulingPopup->currentData().toInt();
    _scheduleResumeDate = minutes > 0 ? dateByAddingMinuteInterval(minutes) : QDateTime();
    if (auto* controller = dynamic_cast<IScheduleSuspendController*>(_controller.data()))
        controller->SSD_OkButton(*this);
}

void IScheduleSuspendDialog::cancelButton()
{
    hide();
}

void IScheduleSuspendDialog::reject()
{
    cancelButton();
}

void IScheduleSuspendDialog::setIcon(const QPixmap& image)
{
    _iconOnView->setPixmap(image);
}

QDateTime IScheduleSuspendDialog::dateByAddingMinuteInterval(int minutes)
{
    return Clock::current().now().addSecs(qint64(minutes) * 60);
}
