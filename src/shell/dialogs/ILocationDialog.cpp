#include "ILocationDialog.h"

#include "platform/MainThread.h"
#include "platform/MountWatcher.h"
#include "utilities/IIconPack.h"

#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace {
int g_tickMs = 1000;

} // namespace

ILocationDialog::ILocationDialog(QWidget* parent)
    : QDialog(parent)
{
    setModal(true);
    setWindowTitle(tr("Waiting for the volume"));
    auto* layout = new QHBoxLayout(this);
    m_icon = new QLabel(this);
    m_icon->setFixedSize(48, 48);
    layout->addWidget(m_icon, 0, Qt::AlignTop);
    auto* column = new QVBoxLayout;
    m_location = new QLabel(this);
    m_location->setTextFormat(Qt::PlainText);
    m_location->setWordWrap(true);
    QFont bold = m_location->font();
    bold.setBold(true);
    m_location->setFont(bold);
    column->addWidget(m_location);
    m_timerLabel = new QLabel(this);
    column->addWidget(m_timerLabel);
    m_progress = new QProgressBar(this);
    m_progress->setTextVisible(false);
    m_progress->setMinimumWidth(300);
    column->addWidget(m_progress);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText(tr("OK"));
    buttons->button(QDialogButtonBox::Cancel)->setText(tr("Cancel"));
    connect(buttons, &QDialogButtonBox::accepted, this, [this] { done(1); });
    connect(buttons, &QDialogButtonBox::rejected, this, [this] { done(0); });
    column->addWidget(buttons);
    layout->addLayout(column);
    connect(&m_timer, &QTimer::timeout, this, &ILocationDialog::tick);
}

ILocationDialog::~ILocationDialog() = default;

void ILocationDialog::setTickIntervalMs(int ms)
{
    g_tickMs = ms;
}

QString ILocationDialog::deviceIconName(int deviceType)
{
    if (deviceType == 3)
        return QStringLiteral("diskimagedoc");
    if (deviceType == 4 || deviceType == 6)
        return QStringLiteral("NETMntLocation");
    return QStringLiteral("LocalMountedLocation");
}

void ILocationDialog::showRemaining()
{
    m_timerLabel->setText(tr("Remaining: %1 s").arg(m_restTime, 2));
    m_progress->setRange(0, m_total);
    m_progress->setValue(m_total - m_restTime);
}

void ILocationDialog::checkActive()
{
    if (isVisible() && m_isActive && m_isActive())
        done(1);
}

void ILocationDialog::tick()
{
    if (m_restTime < 1) {
        done(-1);
        return;
    }
    --m_restTime;
    showRemaining();
    checkActive();
}

int ILocationDialog::executeLocation(const UiPrompts::VolumeWaitRequest& request)
{
    m_isActive = request.isActive;
    m_total = m_restTime = request.timeoutSeconds > 0 ? request.timeoutSeconds : 30;
    m_location->setText(request.volumeName);
    m_icon->setPixmap(IIconPack::loadWithName(deviceIconName(request.deviceType)).pixmap(48, 48));
    showRemaining();

    m_watcher = new MountWatcher(this);
    connect(m_watcher, &MountWatcher::mounted, this, &ILocationDialog::checkActive);
    m_timer.start(g_tickMs);
    // asked once the window shows: a mount just before it opened is never notified
    QTimer::singleShot(0, this, &ILocationDialog::checkActive);
    raise();
    activateWindow();
    int result = 0;
    {
        ModalDepthGuard modal;
        result = exec();
    }
    m_timer.stop();
    delete m_watcher;
    m_watcher = nullptr;
    m_isActive = nullptr;
    return result;
}
