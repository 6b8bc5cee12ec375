#include "IOpenDialog.h"
#include "ICapturePatternController.h"

#include "platform/MainThread.h"
#include "utilities/IPathUtil.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QCoreApplication>
#include <QDebug>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QGridLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

namespace {
bool g_showHidden = false;

QString lastComponent(const QString& path)
{
    return QFileInfo(path).fileName();
}
} // namespace

IOpenDialog::IOpenDialog(QWidget* parent)
    : QFileDialog(parent)
{
    m_hiddenFlag = &g_showHidden;
    setOption(QFileDialog::DontUseNativeDialog, true);
    setWindowModality(Qt::ApplicationModal);
    resize(860, 540);
    m_prompt = new QLabel(this);
    m_prompt->setTextFormat(Qt::PlainText);
    m_prompt->setWordWrap(true);
    m_hidden = new QCheckBox(tr("Show hidden files"), this);
    connect(m_hidden, &QCheckBox::toggled, this, [this](bool on) {
        *m_hiddenFlag = on;
        applyHidden();
    });
    if (auto* grid = qobject_cast<QGridLayout*>(layout())) {
        const int row = grid->rowCount();
        grid->addWidget(m_prompt, row, 0, 1, grid->columnCount());
        grid->addWidget(m_hidden, row + 1, 0, 1, grid->columnCount());
    } else {
        qWarning() << "The open dialog has no grid layout: it runs without its prompt line";
        m_prompt->hide();
        m_hidden->hide();
    }
}

IOpenDialog::~IOpenDialog() = default;

void IOpenDialog::setAccessory(QWidget* accessory, bool* hiddenFlag)
{
    m_hiddenFlag = hiddenFlag ? hiddenFlag : &g_showHidden;
    m_hidden->setChecked(*m_hiddenFlag);
    applyHidden();
    if (!accessory)
        return;
    if (auto* grid = qobject_cast<QGridLayout*>(layout()))
        grid->addWidget(accessory, grid->rowCount(), 0, 1, grid->columnCount());
    else
        accessory->hide();
}

bool IOpenDialog::showHiddenFiles()
{
    return g_showHidden;
}

void IOpenDialog::setShowHiddenFiles(bool show)
{
    g_showHidden = show;
}

void IOpenDialog::applyHidden()
{
    setFilter(*m_hiddenFlag ? filter() | QDir::Hidden : filter() & ~QDir::Hidden);
}

bool IOpenDialog::executePrompt(const QString& prompt, const QString& okButtonName,
    const QString& defaultPath, bool directories, bool files, bool multiple)
{
    m_skipped = false;
    m_multiple = multiple;
    m_chosen.clear();

    QString start = defaultPath;
    if (m_recentFolderId != -1) {
        const QString remembered = IPathUtil::shared().recentFolder(m_recentFolderId);
        if (!remembered.isEmpty())
            start = remembered;
    }
    if (!start.isEmpty()) {
        const QFileInfo info(start);
        if (info.isDir()) {
            setDirectory(start);
        } else {
            setDirectory(info.absolutePath());
            selectFile(info.fileName());
        }
    }

    setOption(QFileDialog::ReadOnly, !m_canCreateFolder);
    m_filesAndFolders = false;
    if (directories && (files || multiple)) {
        // Files and folders together: the folder mode shows files too, and the views take
        // several rows, read back in accept().
        setFileMode(QFileDialog::Directory);
        setOption(QFileDialog::ShowDirsOnly, !files);
        auto* list = findChild<QAbstractItemView*>(QStringLiteral("listView"));
        auto* tree = findChild<QAbstractItemView*>(QStringLiteral("treeView"));
        if (list && tree) {
            m_filesAndFolders = true;
            const auto mode
                = multiple ? QAbstractItemView::ExtendedSelection : QAbstractItemView::SingleSelection;
            list->setSelectionMode(mode);
            tree->setSelectionMode(mode);
            // the folder mode's type filter says "Directories", which is not what is shown
            for (const char* name : { "fileTypeCombo", "fileTypeLabel" })
                if (QWidget* w = findChild<QWidget*>(QLatin1String(name)))
                    w->hide();
            setLabelText(QFileDialog::FileName, tr("Name:"));
            // the folder mode greys its button out while a file is selected
            auto enable = [this] {
                QTimer::singleShot(0, this, [this] {
                    if (auto* box = findChild<QDialogButtonBox*>(QStringLiteral("buttonBox")))
                        if (QPushButton* b = box->button(QDialogButtonBox::Open))
                            b->setEnabled(!selectedPaths().isEmpty());
                });
            };
            connect(list->selectionModel(), &QItemSelectionModel::selectionChanged, this, enable);
            connect(tree->selectionModel(), &QItemSelectionModel::selectionChanged, this, enable);
        } else {
            qWarning() << "The open dialog's views were not found: only folders can be chosen";
            setOption(QFileDialog::ShowDirsOnly, true);
        }
    } else if (directories) {
        setFileMode(QFileDialog::Directory);
        setOption(QFileDialog::ShowDirsOnly, true);
    } else {
        setFileMode(multiple ? QFileDialog::ExistingFiles : QFileDialog::ExistingFile);
        if (!m_fileTypes.isEmpty()) {
            QStringList patterns;
            for (const QString& e : m_fileTypes)
                patterns.append(QStringLiteral("*.") + e);
            setNameFilter(patterns.join(QLatin1Char(' ')));
        }
    }
    applyHidden();
    if (!okButtonName.isEmpty())
        setLabelText(QFileDialog::Accept, okButtonName);
    m_hidden->setChecked(*m_hiddenFlag);
    m_prompt->setText(prompt.isEmpty() ? tr("Select file/folder") : prompt);

    bool result = false;
    {
        ModalDepthGuard modal;
        result = exec() == QDialog::Accepted && !m_chosen.isEmpty();
    }
    if (result && m_recentFolderId != -1) {
        const QFileInfo chosen(m_chosen.first());
        if (chosen.exists())
            IPathUtil::shared().setRecentFolder(
                m_recentFolderId, chosen.isDir() ? chosen.absoluteFilePath() : chosen.absolutePath());
    }
    m_fileTypes.clear();
    m_fileName.clear();
    m_fileNotFoundMessage.clear();
    if (!result)
        m_chosen.clear();
    return result;
}

QStringList IOpenDialog::selectedPaths() const
{
    if (!m_filesAndFolders)
        return selectedFiles();
    QStringList paths;
    for (const char* name : { "listView", "treeView" }) {
        auto* view = findChild<QAbstractItemView*>(QLatin1String(name));
        if (!view || !view->isVisible() || !view->selectionModel())
            continue;
        for (const QModelIndex& index : view->selectionModel()->selectedRows()) {
            const QString path = index.data(QFileSystemModel::FilePathRole).toString();
            if (!path.isEmpty() && !paths.contains(path))
                paths.append(path);
        }
    }
    if (paths.isEmpty())
        paths = selectedFiles(); // the folder the dialog shows, or a typed name
    return paths;
}

QString IOpenDialog::refusal(const QStringList& paths) const
{
    if (m_validator)
        return m_validator(paths);
    if (m_multiple || m_fileName.isEmpty())
        return QString();
    const QString expected = lastComponent(m_fileName);
    const QString chosen = paths.value(0);
    if (QFileInfo::exists(chosen) && lastComponent(chosen) == expected)
        return QString(); // the file itself
    if (QFileInfo::exists(chosen + QLatin1Char('/') + expected))
        return QString(); // the folder that holds it
    return m_fileNotFoundMessage.isEmpty() ? tr("File \"%1\" has not found.").arg(expected)
                                           : m_fileNotFoundMessage;
}

void IOpenDialog::showRefusal(const QString& text, const QString& informative)
{
    QMessageBox box(QMessageBox::Critical, windowTitle(), text, QMessageBox::Ok, this);
    box.setTextFormat(Qt::PlainText);
    box.button(QMessageBox::Ok)->setText(tr("OK"));
    if (!informative.isEmpty())
        box.setInformativeText(informative);
    ModalDepthGuard modal;
    box.exec();
}

void IOpenDialog::accept()
{
    const QStringList paths = selectedPaths();
    if (paths.isEmpty())
        return;
    for (const QString& p : paths) {
        if (lastComponent(p) == QLatin1String("text.txt")) {
            showRefusal(tr("Cannot save a file name titled \"text\"."), tr("Please pick a new name."));
            return;
        }
    }
    bool exist = true;
    for (const QString& p : paths)
        exist = exist && QFileInfo::exists(p);
    if (!exist && !m_filesAndFolders) {
        QFileDialog::accept(); // Qt says itself what is wrong with a typed name
        return;
    }
    const QString text = refusal(paths);
    if (!text.isNull()) {
        showRefusal(text);
        return; // the dialog stays open
    }
    m_chosen = paths;
    if (m_filesAndFolders)
        QDialog::accept();
    else
        QFileDialog::accept();
}

QStringList IOpenDialog::run(const UiPrompts::ItemChoiceRequest& request, QWidget* parent)
{
    IOpenDialog dialog(parent);
    dialog.setFileTypes(request.fileTypes);
    dialog.setFileName(request.expectedFile);
    dialog.setFileNotFoundMessage(request.fileNotFoundMessage);
    dialog.setCanCreateFolder(request.canCreateFolder);
    dialog.setRecentFolder(request.recentFolderId);
    if (request.validator)
        dialog.setValidator(request.validator);
    if (request.capturePatternRows)
        ICapturePatternController::shared().setPanel(&dialog);
    if (!dialog.executePrompt(request.prompt, request.okButton, request.startPath, request.folders,
            request.files, request.multiple))
        return {};
    return dialog.filenames();
}
