#include "CCWellcomeWindowController.h"

#include "platform/AppPaths.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QHBoxLayout>
#include <QPushButton>
#include <QSettings>
#include <QShortcut>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

namespace {
QString appName()
{
    const QString name = AppPaths::infoPlistValue(QStringLiteral("NSHumanReadableCompleteName")).toString();
    return name.isEmpty() ? QStringLiteral("Kelvane Pro 3") : name;
}
} // namespace

CCWellcomeWindowController::CCWellcomeWindowController(QWidget* parent)
    : QDialog(parent)
{
    setWindowTitle(tr("%1 Video Tutorials").arg(appName()));
    resize(720, 520);
    auto* layout = new QVBoxLayout(this);
    m_browser = new QTextBrowser(this);
    m_browser->setOpenExternalLinks(true);
    layout->addWidget(m_browser, 1);
    auto* bottom = new QHBoxLayout;
    m_showAtStart = new QCheckBox(tr("Show this window when %1 opens").arg(appName()), this);
    m_showAtStart->setChecked(isNeedShowWellcomeWindow());
    connect(m_showAtStart, &QCheckBox::toggled, this, &CCWellcomeWindowController::setNeedShowWellcomeWindow);
    auto* close = new QPushButton(tr("Close"), this);
    connect(close, &QPushButton::clicked, this, &QDialog::accept);
    bottom->addWidget(m_showAtStart);
    bottom->addStretch(1);
    bottom->addWidget(close);
    layout->addLayout(bottom);
    auto* reload = new QShortcut(QKeySequence(QStringLiteral("Ctrl+R")), this);
    connect(reload, &QShortcut::activated, this, &CCWellcomeWindowController::refreshPage);
    refreshPage();
}

void CCWellcomeWindowController::setNeedShowWellcomeWindow(bool show)
{
    AppPaths::appSettings()->setValue(QStringLiteral("FTNeedShowWellcomeWindow"), show);
    AppPaths::appSettings()->sync();
}

void CCWellcomeWindowController::refreshPage()
{
    // no online address: the page of the resources
    m_browser->setSource(
        QUrl::fromLocalFile(AppPaths::resourcePath(QStringLiteral("error_tutorial_page.html"))));
    m_browser->reload();
}
