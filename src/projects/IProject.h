#pragma once

#include "utilities/LogText.h"

#include <QByteArray>
#include <QObject>
#include <QString>

// Base of the three project kinds (archive backups, snapshot backups, synchronizations and
// clones). The kinds give their name and the run tag that marks their log lines, and route run
// texts to the shell's log sink through processMessage.
class IProject : public QObject
{
    Q_OBJECT
public:
    explicit IProject(QObject* parent = nullptr);
    ~IProject() override;

    // The project's name; null in the base.
    virtual QString name() const;
    // The name as UTF-8 bytes, for log lines.
    virtual QByteArray utf8Name() const;
    // The run tag of the current run ("( n ) "), empty in the base.
    virtual QByteArray utf8StringCode() const;

    // Routes a run text (LogOption bits) to the log sink; does nothing in the base.
    virtual void processMessage(const LogText& text, quint64 options, QObject* sender);
};
