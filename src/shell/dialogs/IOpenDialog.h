#pragma once

#include "utilities/UiPrompts.h"

#include <QFileDialog>
#include <functional>

class QCheckBox;
class QLabel;

// The one chooser of existing files and folders: the Qt file dialog (never the native one: only
// this one takes the accessory rows and lets accept() refuse) with a prompt line and a "Show
// hidden files" box, a start in a remembered folder, and a check of the choice, either for an
// expected file or through the caller's validator, before the dialog may close.
//
// Names that are not valid UTF-8 are left out by QDir and QFileSystemModel, so such an item
// cannot be picked here (its parent folder can); drops take such names (DroppedData).
class IOpenDialog : public QFileDialog
{
    Q_OBJECT
public:
    explicit IOpenDialog(QWidget* parent = nullptr);
    ~IOpenDialog() override;

    // The hidden-files choice shared by every open dialog of this run of the program.
    static bool showHiddenFiles();
    static void setShowHiddenFiles(bool show);

    // Adds the caller's widgets as a row below the prompt line; hiddenFlag (when given, else the
    // process-wide one) is the flag the "Show hidden files" box shows and sets from now on.
    void setAccessory(QWidget* accessory, bool* hiddenFlag = nullptr);

    void setFileTypes(const QStringList& extensions) { m_fileTypes = extensions; }
    void setFileName(const QString& expectedFile) { m_fileName = expectedFile; }
    void setFileNotFoundMessage(const QString& text) { m_fileNotFoundMessage = text; }
    void setCanCreateFolder(bool can) { m_canCreateFolder = can; }
    void setRecentFolder(int id) { m_recentFolderId = id; }
    // The validator gets every chosen path and answers a null string to accept, a text to refuse.
    void setValidator(std::function<QString(const QStringList&)> validator)
    {
        m_validator = std::move(validator);
    }
    void clearValidator() { m_validator = nullptr; }
    void setSkipped(bool skipped) { m_skipped = skipped; }
    bool isSkipped() const { return m_skipped; }

    // Runs the dialog modally; true when the user confirmed a choice that passed the checks.
    bool executePrompt(const QString& prompt, const QString& okButtonName, const QString& defaultPath,
        bool directories, bool files, bool multiple);
    QString filename() const { return m_chosen.value(0); }
    QStringList filenames() const { return m_chosen; }

    // A request of UiPrompts run through a new dialog over parent: the chosen paths, or none.
    static QStringList run(const UiPrompts::ItemChoiceRequest& request, QWidget* parent);

    QLabel* promptLabel() const { return m_prompt; }
    QCheckBox* hiddenFilesBox() const { return m_hidden; }
    // True when files and folders are chosen together (the views take several rows).
    bool isFilesAndFolders() const { return m_filesAndFolders; }

public Q_SLOTS:
    void accept() override;

private:
    QStringList selectedPaths() const;
    // A null string accepts; otherwise the text to show.
    QString refusal(const QStringList& paths) const;
    void showRefusal(const QString& text, const QString& informative = QString());
    void applyHidden();

    QLabel* m_prompt = nullptr;
    QCheckBox* m_hidden = nullptr;
    bool* m_hiddenFlag = nullptr;
    QStringList m_fileTypes;
    QString m_fileName;
    QString m_fileNotFoundMessage;
    bool m_multiple = false;
    bool m_canCreateFolder = true;
    bool m_skipped = false;
    bool m_filesAndFolders = false;
    int m_recentFolderId = -1;
    std::function<QString(const QStringList&)> m_validator;
    QStringList m_chosen;
};
