#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

class QEventLoop;

// Writes the pieces of a split archive one after the other to standard output. It asks for each
// next piece with the notification "QV_CONNECT_MESSAGE" / "qv3_cat::input_file_name"; the main
// application answers with "QV3_CAT" and the piece's path, or "-" when there is no further piece.
class QV3Cat : public QObject
{
    Q_OBJECT
public:
    explicit QV3Cat(QObject* parent = nullptr);

    // The whole run on the session bus: 0 after the answer "-", 1 when a piece cannot be read,
    // the bus cannot be reached or the main application leaves the bus.
    int exec();

    // Longest path the tool accepts (the path buffer held 2000 bytes with its terminator).
    static constexpr int maxPathBytes = 1999;

private:
    enum class Wait
    {
        Answer,
        OwnerLost
    };

    Wait waitForAnswer();
    bool copyFile(const QByteArray& path);
    void reportUnopenable(const QString& path);
    void flushBus();

    QEventLoop* m_loop = nullptr;
    bool m_haveAnswer = false;
    bool m_ownerLost = false;
    QString m_answer;
};
