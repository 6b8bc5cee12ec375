#pragma once

#include <QIcon>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantMap>
#include <functional>
#include <memory>
#include <optional>

// Backup templates: named sets of source paths ("TemplateContent.plist" in the resources) that
// the user adds to a backup in one step. A template lists fixed paths ("path", "~" being the
// home folder) and paths found at run time ("pathSource": a value of another program's
// property list, or a fixed folder, optionally cut by components or searched for one data file).
class ITemplateTool
{
public:
    // What the data-file chooser is asked: a file with the extension, starting in the folder.
    struct FileRequest
    {
        QString extension;
        QString folder;
        QString prompt;
        QString buttonTitle;
    };
    // The chosen file's path, or a null text when the user cancelled.
    using FileChooser = std::function<QString(const FileRequest& request)>;

    // The list at listPath, the home folder for "~" and the running system's version number
    // (major * 10000 + minor * 100 + patch): from 10.15 on the "iTunes" template is left out.
    ITemplateTool(const QString& listPath, const QString& homeDir, qint64 systemVersion);

    // The instance the menus use; null until createShared().
    static ITemplateTool* shared();
    // Loads the shipped list with the home folder, for the running system's version.
    static ITemplateTool* createShared(qint64 systemVersion);
    // Tests: replace (the tool is owned by the caller) or drop it with nullptr.
    static void setShared(ITemplateTool* tool);

    // The open dialog of the shell; without one every data-file question counts as cancelled.
    void setFileChooser(FileChooser chooser) { m_chooser = std::move(chooser); }

    int count() const;
    QString templateName(int index) const; // null outside the list
    int templateContentCount(const QString& name) const;
    QString templateContent(const QString& name, int contentIndex) const;
    QIcon templateIcon(const QString& name) const;
    // Every resolved path of the template; nullopt for a name that is not in the list.
    std::optional<QStringList> templateContent(const QString& name);

    // The value of key in the property list at path; only "~/..." paths are read, from the
    // home folder. Null when the file or the key is missing.
    QVariant objectFromPlistFileName(const QString& path, const QString& key) const;
    // The one file in folder named "*.<extension>"; null when there are none or several.
    static QString singleFileWithExt(const QString& extension, const QString& folder);
    void resetBackupItemList() { }

    // "~" and "~/..." on the home folder; anything else unchanged.
    QString expandTilde(const QString& path) const;
    // "file:///a%20b" and "file://localhost/a%20b" → "/a b" (bytes that are not UTF-8 kept);
    // anything else unchanged.
    static QString pathFromFileURL(const QString& text);

private:
    QVariantMap templateDict(const QString& name) const;
    std::optional<QString> resolveSource(const QString& name, const QVariantMap& source);

    QVariantMap m_backupItemList;
    std::optional<QVariantMap> m_templateContent;
    QStringList m_names;
    QString m_homeDir;
    FileChooser m_chooser;
};
