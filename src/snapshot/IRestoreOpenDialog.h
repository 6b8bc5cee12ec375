#pragma once

#include <QString>
#include <QStringList>

class QWindow;

// The archive restore's file prompt: the open dialog's calls plus a skip button, so that one
// missing archive can be skipped without cancelling the whole restore. The pane registers its
// implementation; the headless default cancels every prompt.
class IRestoreOpenDialog
{
public:
    virtual ~IRestoreOpenDialog() = default;

    static IRestoreOpenDialog& sharedRestoreOpenDialog();
    // nullptr restores the headless default; the caller keeps ownership
    static void setShared(IRestoreOpenDialog* dialog);

    virtual void setParentWindow(QWindow* window) = 0;
    virtual void setFileName(const QString& name) = 0;
    virtual void setFileNotFoundMessage(const QString& message) = 0;
    // True when the user chose; filenames() then holds the choice.
    virtual bool executePrompt(const QString& prompt, const QString& okButtonName, const QString& defaultPath,
        bool directories, bool files, bool multiple)
        = 0;
    virtual QStringList filenames() const = 0;
    // True when the last prompt was closed with the skip button rather than cancelled.
    virtual bool isSkipped() const = 0;
};

class HeadlessRestoreOpenDialog : public IRestoreOpenDialog
{
public:
    void setParentWindow(QWindow*) override { }
    void setFileName(const QString&) override { }
    void setFileNotFoundMessage(const QString&) override { }
    bool executePrompt(const QString&, const QString&, const QString&, bool, bool, bool) override
    {
        return false;
    }
    QStringList filenames() const override { return QStringList(); }
    bool isSkipped() const override { return false; }
};
