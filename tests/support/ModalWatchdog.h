#pragma once

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QTimer>
#include <QWidget>

// Fails a test whose modal dialog would wait for a person: a modal window that no whenOpen<>()
// of the test announced and that stays open for the limit (5 s) is rejected (closed) and the
// running test fails with its class and title. One watchdog per test program, started on first use.
class ModalWatchdog : public QObject
{
    Q_OBJECT
public:
    static ModalWatchdog& instance();

    // Dialogs of that class (or a subclass) are expected while the count is above 0.
    void announce(const char* className);
    void withdraw(const char* className);
    void setLimitMs(int ms) { m_limitMs = ms; }

    // The dialogs it had to close, as "Class \"title\"".
    QStringList closed;

private:
    ModalWatchdog();
    void check();
    bool isAnnounced(QWidget* w) const;

    QTimer m_timer;
    int m_limitMs = 5000;
    QHash<QByteArray, int> m_announced;
    QHash<QWidget*, qint64> m_firstSeen;
};
