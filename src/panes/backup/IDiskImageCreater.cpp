#include "panes/backup/IDiskImageCreater.h"

#include "platform/DiskImageTool.h"
#include "platform/MainThread.h"
#include "platform/NameCodec.h"
#include "platform/PlistBridge.h"
#include "projects/ILocation.h"
#include "shell/dialogs/Beep.h"
#include "shell/dialogs/IQVNumberField.h"
#include "snapshot/IDiskImage.h"
#include "utilities/FileOps.h"
#include "utilities/IShellServices.h"
#include "utilities/QVLog.h"
#include "utilities/UiPrompts.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QUrl>
#include <QVBoxLayout>
#include <cstring>

namespace {

QString loc(const char* text)
{
    return QCoreApplication::translate("Localizable", text);
}

int alert(const QString& title, const QString& text, const QStringList& buttons)
{
    UiPrompts::Alert a;
    a.style = UiPrompts::AlertStyle::Warning;
    a.title = title;
    a.text = text;
    a.buttons = buttons;
    ModalDepthGuard modal;
    return UiPrompts::shared().showAlert(a);
}

constexpr int fsBtrfs = 2;
constexpr int fsExt4 = 1;

} // namespace

// ---- password sheet ----------------------------------------------------------------------------

IDiskImagePasswordSheet::IDiskImagePasswordSheet(QWidget* parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("DiskImagePassword"));
    setWindowTitle(loc("Disk image password"));
    setWindowModality(Qt::WindowModal);
    m_password = new QLineEdit(this);
    m_password->setEchoMode(QLineEdit::Password);
    m_confirm = new QLineEdit(this);
    m_confirm->setEchoMode(QLineEdit::Password);
    m_error = new QLabel(this);
    m_error->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxCritical).pixmap(16, 16));
    m_error->setToolTip(loc("The passwords do not match"));
    m_error->hide();
    auto* cancel = new QPushButton(loc("Cancel"), this);
    m_ok = new QPushButton(loc("OK"), this);
    m_ok->setDefault(true);
    auto* form = new QFormLayout;
    form->addRow(loc("Password:"), m_password);
    auto* confirmRow = new QHBoxLayout;
    confirmRow->addWidget(m_confirm, 1);
    confirmRow->addWidget(m_error);
    form->addRow(loc("Verify:"), confirmRow);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(cancel);
    buttons->addWidget(m_ok);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(loc("Enter a password to encrypt the disk image"), this));
    layout->addLayout(form);
    layout->addLayout(buttons);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_ok, &QPushButton::clicked, this, [this] {
        if (m_password->text().isEmpty() || m_password->text() != m_confirm->text()) {
            m_error->show();
            return;
        }
        accept();
    });
    for (QLineEdit* f : { m_password, m_confirm })
        connect(f, &QLineEdit::textEdited, m_error, &QWidget::hide);
}

QString IDiskImagePasswordSheet::password() const
{
    return m_password->text();
}

// ---- progress sheet ----------------------------------------------------------------------------

IDiskImageProgressSheet::IDiskImageProgressSheet(QWidget* parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("DiskImageCreation"));
    setWindowTitle(loc("Create Disk Image"));
    setWindowModality(Qt::WindowModal);
    m_text = new QLabel(this);
    m_text->setMinimumWidth(360);
    m_text->setWordWrap(true);
    m_button = new QPushButton(loc("Close"), this);
    auto* row = new QHBoxLayout;
    row->addStretch(1);
    row->addWidget(m_button);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_text);
    layout->addLayout(row);
    connect(m_button, &QPushButton::clicked, this, &QDialog::accept);
}

// ---- the dialog --------------------------------------------------------------------------------

IDiskImageCreater::IDiskImageCreater(QWidget* parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("DiskImageCreater"));
    setWindowTitle(loc("Create Disk Image"));
    setWindowModality(Qt::WindowModal);
    m_path = new QLineEdit(QDir::homePath() + QStringLiteral("/Documents/Untitled"), this);
    m_choose = new QPushButton(loc("Choose..."), this);
    m_name = new QLineEdit(loc("Untitled"), this);
    m_type = new QComboBox(this);
    m_type->addItem(loc("btrfs (APFS)"), TypeApfs);
    m_type->addItem(loc("btrfs (APFS), encrypted"), TypeApfsEncrypted);
    m_type->addItem(loc("ext4 (Mac OS Extended)"), TypeExtended);
    m_type->addItem(loc("ext4 (Mac OS Extended), encrypted"), TypeExtendedEncrypted);
    m_size = new IQVNumberField(this);
    m_size->setIntModeMin(1, 1000000);
    m_size->setIntegerValue(1);
    m_size->setMaximumWidth(120);
    m_create = new QPushButton(loc("Create"), this);
    m_create->setDefault(true);
    auto* cancel = new QPushButton(loc("Cancel"), this);

    auto* pathRow = new QHBoxLayout;
    pathRow->addWidget(m_path, 1);
    pathRow->addWidget(m_choose);
    auto* sizeRow = new QHBoxLayout;
    sizeRow->addWidget(m_size);
    sizeRow->addWidget(new QLabel(loc("GB"), this));
    sizeRow->addStretch(1);
    auto* form = new QFormLayout;
    form->addRow(loc("Save as:"), pathRow);
    form->addRow(loc("Volume name:"), m_name);
    form->addRow(loc("Type:"), m_type);
    form->addRow(loc("Maximum size:"), sizeRow);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(cancel);
    buttons->addWidget(m_create);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addLayout(buttons);
    resize(560, 220);

    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_create, &QPushButton::clicked, this, &IDiskImageCreater::validateAndCreate);
    connect(m_choose, &QPushButton::clicked, this, [this] {
        UiPrompts::SavePathRequest r;
        r.prompt = loc("Create Disk Image");
        r.okButton = loc("Create");
        r.startPath = QFileInfo(m_path->text()).path();
        r.defaultName = QFileInfo(m_path->text()).fileName();
        QString chosen;
        {
            ModalDepthGuard modal;
            chosen = UiPrompts::shared().chooseSavePath(r);
        }
        if (!chosen.isEmpty())
            m_path->setText(chosen);
    });
    connect(m_size, &IQVNumberField::numberChanged, this, [this] {
        if ((m_size->state() == 0 || m_size->state() == IQVNumberField::NotANumber)
            && m_size->integerValue() < 1)
            m_size->setIntegerValue(1);
    });
}

IDiskImageCreater* IDiskImageCreater::showDialog(QWidget* windowModalFor)
{
    auto* creater = new IDiskImageCreater(windowModalFor);
    creater->setAttribute(Qt::WA_DeleteOnClose);
    creater->open();
    return creater;
}

int IDiskImageCreater::fsTypeForType(int type)
{
    switch (type) {
    case TypeApfs:
    case TypeApfsEncrypted:
        return fsBtrfs;
    case TypeExtended:
    case TypeExtendedEncrypted:
        return fsExt4;
    default:
        return 0;
    }
}

bool IDiskImageCreater::isEncryptedType(int type)
{
    return type == TypeApfsEncrypted || type == TypeExtendedEncrypted;
}

QString IDiskImageCreater::bundlePathFor(const QString& chosen)
{
    const QString suffix = QStringLiteral(".") + ILocation::cnsDiskImageFileNameExtension;
    if (chosen.endsWith(suffix))
        return chosen;
    const QString name = chosen.mid(chosen.lastIndexOf(QLatin1Char('/')) + 1);
    const int dot = name.lastIndexOf(QLatin1Char('.'));
    const QString base = dot > 0 ? chosen.left(chosen.size() - (name.size() - dot)) : chosen;
    return base + suffix;
}

bool IDiskImageCreater::validateAndCreate()
{
    const int state = m_size->isNumberOkInString(m_size->text());
    if (state != IQVNumberField::NumberOk) {
        Beep::beep();
        if (m_size->integerValue() < 1 || state == IQVNumberField::BelowMinimum)
            m_size->setIntegerValue(1);
        else
            m_size->changeNumberFieldData();
        return false;
    }
    m_size->changeNumberFieldData();
    const QString chosen = m_path->text().trimmed();
    if (chosen.isEmpty() || !chosen.startsWith(QLatin1Char('/'))) {
        Beep::beep();
        return false;
    }
    const QString bundle = bundlePathFor(chosen);
    const QString name = bundle.mid(bundle.lastIndexOf(QLatin1Char('/')) + 1);
    if (FileOps::exists(NameCodec::encode(bundle).toStdString())) {
        const int answer = alert(loc("\u201c%1\u201d already exists. Do you want to replace it?").arg(name),
            loc("A file or folder with the same name already exists in the folder %1. Replacing it will "
                "overwrite "
                "its current contents.")
                .arg(QFileInfo(QFileInfo(bundle).path()).fileName()),
            { loc("Replace"), loc("Cancel") });
        if (answer != 0)
            return false;
    }
    m_bundlePath = bundle;
    if (!diskCreate())
        return false;
    accept();
    return true;
}

void IDiskImageCreater::setProceesText(const QString& text)
{
    if (m_progress)
        m_progress->text()->setText(text);
    IShellServices::shared().processMessage(QStringLiteral("%1 %2").arg(m_code, text), 129, nullptr);
    if (m_progressHook)
        m_progressHook(text);
}

bool IDiskImageCreater::getPasswordByUser()
{
    IDiskImagePasswordSheet sheet(this);
    ModalDepthGuard modal;
    const bool ok = sheet.exec() == QDialog::Accepted;
    m_password = ok ? sheet.password() : QString();
    return ok;
}

bool IDiskImageCreater::endWithFailure()
{
    if (!m_result.isEmpty())
        setProceesText(loc("Disk image successfully created"));
    m_progress->button()->setEnabled(true);
    m_progress->button()->show();
    {
        ModalDepthGuard modal;
        if (m_progress->isVisible())
            m_progress->hide();
        m_progress->exec();
    }
    m_progress->deleteLater();
    m_progress = nullptr;
    return false;
}

bool IDiskImageCreater::diskCreate()
{
    m_code = QVProcessingCodeString();
    IShellServices& shell = IShellServices::shared();
    shell.processMessage(QStringLiteral("=== Disk Image Creating %1 ===").arg(m_code), 129, nullptr);
    shell.processMessage(
        QStringLiteral("%1 New disk image path: %2").arg(m_code, m_bundlePath), 129, nullptr);
    m_password.clear();
    m_result.clear();

    std::unique_ptr<ILocation> location(ILocation::create());
    if (!location->setupWithPath(m_bundlePath)) {
        alert(loc("Create Disk Image"),
            loc("Unable to create: %1").arg(loc("the folder is not on a mounted volume")), { loc("OK") });
        return false;
    }
    const std::shared_ptr<IDiskImage> image = IDiskImage::createWithLocation(location.get());
    const int type = m_type->currentData().toInt();
    if (const int fs = fsTypeForType(type))
        image->setFSType(fs);
    image->setInternalName(m_name->text());
    if (isEncryptedType(type) && !getPasswordByUser())
        return false;

    m_progress = new IDiskImageProgressSheet(this);
    m_progress->button()->setEnabled(false);
    m_progress->button()->hide();
    const QByteArray bundleBytes = NameCodec::encode(m_bundlePath);
    const bool existed = FileOps::exists(bundleBytes.toStdString());
    m_progress->show();
    if (existed) {
        setProceesText(loc("Deleting existing disk image..."));
        const QString mount = DiskImageTool::mountPointForImage(m_bundlePath);
        if (!mount.isEmpty()) {
            setProceesText(loc("Unmounting \"%1\"...").arg(mount));
            IDiskImage::detachDIWithMountPoint(mount, true);
        }
        std::string failed;
        int error = 0;
        if (!FileOps::removeTree(bundleBytes.toStdString(), &failed, &error)) {
            setProceesText(loc("Unable to delete: %1").arg(QString::fromLocal8Bit(std::strerror(error))));
            return endWithFailure();
        }
    }
    setProceesText(loc("Creating new disk image..."));
    QString comment;
    const QString made = image->makeDIWithPassword(m_password, double(m_size->integerValue()), &comment);
    if (made.isEmpty()) {
        setProceesText(loc("Unable to create: %1").arg(comment));
        return endWithFailure();
    }
    m_result = made;
    setProceesText(loc("Disk image mounting..."));
    const QString mount = image->attachDIWithPassword(m_password, &comment);
    if (mount.isEmpty()) {
        setProceesText(loc("Unable to create: %1").arg(comment));
        return endWithFailure();
    }
    m_result = mount;
    shell.processMessage(QStringLiteral("%1 Disk image successfully created").arg(m_code), 129, nullptr);
    m_progress->hide();
    m_progress->deleteLater();
    m_progress = nullptr;
    // The mark that tells the image was made by this application.
    const QString infoPath = m_bundlePath + QStringLiteral("/info.plist");
    const PlistBridge::ReadResult read = PlistBridge::readFile(infoPath);
    QVariantMap info = read.value.toMap();
    info.insert(QStringLiteral("made"), QStringLiteral("Kelvane"));
    PlistBridge::writeFileAtomically(infoPath, info);
    m_password.clear();
    return true;
}
