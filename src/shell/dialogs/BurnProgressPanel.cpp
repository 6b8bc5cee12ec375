#include "BurnProgressPanel.h"

#include "archive/DiscBurnFlow.h"

#include <QCoreApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

BurnProgressPanel::BurnProgressPanel(DiscBurnFlow* flow, QWidget* parent)
    : QDialog(parent)
    , m_flow(flow)
{
    setWindowTitle(tr("Burning"));
    setModal(true);
    auto* layout = new QVBoxLayout(this);
    m_text = new QLabel(tr("Burning..."), this);
    m_text->setTextFormat(Qt::PlainText);
    m_text->setWordWrap(true);
    m_text->setMinimumWidth(380);
    layout->addWidget(m_text);
    m_bar = new QProgressBar(this);
    m_bar->setRange(0, 1000);
    m_bar->setTextVisible(false);
    layout->addWidget(m_bar);
    auto* row = new QHBoxLayout;
    row->addStretch();
    m_cancel = new QPushButton(tr("Cancel"), this);
    row->addWidget(m_cancel);
    layout->addLayout(row);
    connect(m_cancel, &QPushButton::clicked, this, &BurnProgressPanel::reject);
    connect(flow, &DiscBurnFlow::discStarted, this, [this](int disc, const QString& drive, int files, qint64 bytes) {
        m_text->setText(tr("Burning disc %1 in \"%2\": %3 files, %4")
                            .arg(disc)
                            .arg(drive)
                            .arg(files)
                            .arg(QLocale().formattedDataSize(bytes)));
        m_bar->setValue(0);
        m_cancel->setEnabled(true);
        show();
    });
    connect(flow, &DiscBurnFlow::progressChanged, this, [this](double percent) {
        m_bar->setValue(int(percent * 10));
    });
    connect(flow, &DiscBurnFlow::discFinished, this, [this](int, bool, const QString& text) {
        m_text->setText(text);
        hide();
    });
}

void BurnProgressPanel::reject()
{
    m_cancel->setEnabled(false);
    m_text->setText(tr("Stopping the burn..."));
    m_flow->cancel();
}
