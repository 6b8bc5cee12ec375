#pragma once

#include "utilities/UiPrompts.h"

#include <QFileDialog>

// The save chooser: the Qt file dialog in save mode over the registered window, the default
// name preselected; the path only when the user confirmed.
class ISaveDialog : public QFileDialog
{
    Q_OBJECT
public:
    explicit ISaveDialog(QWidget* parent = nullptr);

    void setDefaultFileName(const QString& name) { m_defaultFileName = name; }
    // The chosen path, or a null string on Cancel.
    QString executePrompt(const QString& prompt, const QString& okButtonName, const QString& defaultPath);

    static QString run(const UiPrompts::SavePathRequest& request, QWidget* parent);

private:
    QString m_defaultFileName;
    class QLabel* m_message = nullptr;
};
