#include "ModalWatchdog.h"

#include <QApplication>
#include <QDateTime>
#include <QDialog>
#include <QtTest>

ModalWatchdog& ModalWatchdog::instance()
{
    static ModalWatchdog* watchdog = new ModalWatchdog; // lives as long as the application
    return *watchdog;
}

ModalWatchdog::ModalWatchdog()
{
    m_timer.setInterval(200);
    connect(&m_timer, &QTimer::timeout, this, &ModalWatchdog::check);
    m_timer.start();
}

void ModalWatchdog::announce(const char* className)
{
    ++m_announced[QByteArray(className)];
}

void ModalWatchdog::withdraw(const char* className)
{
    auto it = m_announced.find(QByteArray(className));
    if (it != m_announced.end() && --it.value() <= 0)
        m_announced.erase(it);
}

bool ModalWatchdog::isAnnounced(QWidget* w) const
{
    for (auto it = m_announced.begin(); it != m_announced.end(); ++it)
        if (w->inherits(it.key().constData()))
            return true;
    return false;
}

void ModalWatchdog::check()
{
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    QHash<QWidget*, qint64> seen;
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (!w->isVisible() || !w->isModal())
            continue;
        if (isAnnounced(w))
            continue;
        const qint64 first = m_firstSeen.value(w, now);
        seen.insert(w, first);
        if (now - first < m_limitMs)
            continue;
        const QString what
            = QStringLiteral("%1 \"%2\"").arg(QLatin1String(w->metaObject()->className()), w->windowTitle());
        closed.append(what);
        seen.remove(w);
        if (auto* d = qobject_cast<QDialog*>(w))
            d->reject();
        else
            w->close();
        QTest::qFail(qPrintable(QStringLiteral("a dialog waited for a person: ") + what), __FILE__, __LINE__);
    }
    m_firstSeen = seen;
}
