#pragma once

#include "projects/IProject.h"

#include <QStringList>

class CBackup;

// The face of an archive project that the interface and the run engine talk to. Each CBackup
// owns one from its construction; the run state and the message routing live here.
class IBackup : public IProject
{
    Q_OBJECT
public:
    explicit IBackup(CBackup* backup);
    ~IBackup() override;

    CBackup* backup() const { return m_backup; }
    void setBackup(CBackup* backup) { m_backup = backup; }

    QString name() const override;
    QByteArray utf8StringCode() const override { return m_processingCode; }
    QString processingCodeString() const override { return QString::fromUtf8(m_processingCode); }
    void setProcessingCodeString(const QByteArray& code) { m_processingCode = code; }

    void setInProcess(bool inProcess, int operation) override;
    bool isInProcess() const override { return m_inProcess; }
    int currentOperation() const override { return m_operation; }
    bool isReadyForInterface() const override { return !m_inProcess; }

    // Status-line texts (0x20) are kept here; window and run-log texts go on to the shell.
    void processMessage(const LogText& text, quint64 options, QObject* sender) override;
    QString lastStatusString() const override { return m_lastStatus; }

    // What changed outside the interface (5 items, 6 archive list, 7 loaded); the panes redraw.
    void registerExternalChange(int what);
    int lastExternalChange() const { return m_lastExternalChange; }
    int externalChangeCount() const { return m_externalChanges; }

    double indicatorPosition() const override { return m_indicator; }
    void setIndicatorPosition(double position) override { m_indicator = position; }
    void setIndicatorPosition(double position, bool showNow) override;

    // Folders the user keeps out of every build.
    QStringList excludePathList() const { return m_excludePathList; }
    void setExcludePathList(const QStringList& list) { m_excludePathList = list; }

    // The progress text of long tree walks, with one "%d" for the count; null when none.
    QString progressFormat() const { return m_progressFormat; }
    void setProgressFormat(const QString& format) { m_progressFormat = format; }

    // Queued tool commands of the run control; none until runs exist.
    int cmdVectorSize() const { return 0; }
    void stopTar() { }

private:
    CBackup* m_backup = nullptr;
    QByteArray m_processingCode;
    bool m_inProcess = false;
    int m_operation = 0;
    QString m_lastStatus;
    int m_lastExternalChange = 0;
    int m_externalChanges = 0;
    double m_indicator = 0;
    QStringList m_excludePathList;
    QString m_progressFormat;
};
