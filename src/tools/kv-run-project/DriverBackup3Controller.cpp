#include "DriverBackup3Controller.h"

#include "DriverShellServices.h"
#include "DriverUiPrompts.h"

#include <QCoreApplication>

DriverBackup3Controller::DriverBackup3Controller(DriverShellServices* shell)
    : m_shell(shell)
{ }

void DriverBackup3Controller::eventProcessFinished(int code)
{
    if (m_finished)
        m_finished(code);
}

bool DriverBackup3Controller::chooseDestPathByUser(ILocation*)
{
    DriverUiPrompts::logPrompt(QCoreApplication::translate("Localizable", "Choose the destination folder"),
        QStringLiteral("Cancel"));
    return false;
}

void DriverBackup3Controller::sendTextInfo(const QString& text, qint32 type, quint8 target, QObject* sender)
{
    if (m_noSendTextInfo)
        return;
    m_shell->sendTextInfo(text, type, target, sender);
}

bool DriverBackup3Controller::getNewDICustomMaxSizeInGBByUserTo(double*, double)
{
    DriverUiPrompts::logPrompt(QCoreApplication::translate("Localizable", "Maximum size of the disk image"),
        QStringLiteral("Cancel"));
    return false;
}
