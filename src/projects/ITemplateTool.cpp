#include "projects/ITemplateTool.h"

#include "platform/AppPaths.h"
#include "platform/NameCodec.h"
#include "platform/PlistBridge.h"
#include "utilities/IShellServices.h"
#include "utilities/LogOptions.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <dirent.h>

namespace {

ITemplateTool* g_shared = nullptr;
std::unique_ptr<ITemplateTool> g_owned;

const QString kPath = QStringLiteral("path");
const QString kPathSource = QStringLiteral("pathSource");
const QString kIcon = QStringLiteral("icon");

// Removes the last path component (a final "/" does not count as one).
QString deleteLastPathComponent(QString path)
{
    while (path.size() > 1 && path.endsWith(QLatin1Char('/')))
        path.chop(1);
    const int slash = path.lastIndexOf(QLatin1Char('/'));
    if (slash < 0)
        return QString();
    return slash == 0 ? QStringLiteral("/") : path.left(slash);
}

QString joinPath(const QString& folder, const QString& name)
{
    if (folder.endsWith(QLatin1Char('/')))
        return folder + name;
    return folder + QLatin1Char('/') + name;
}

bool isNumber(const QVariant& v)
{
    switch (v.typeId()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Double:
    case QMetaType::Bool:
        return true;
    default:
        return false;
    }
}

} // namespace

ITemplateTool::ITemplateTool(const QString& listPath, const QString& homeDir, qint64 systemVersion)
    : m_homeDir(homeDir)
{
    const PlistBridge::ReadResult read = PlistBridge::readFile(listPath);
    if (read.status != PlistBridge::ReadStatus::Ok || read.value.typeId() != QMetaType::QVariantMap)
        return;
    QVariantMap list = read.value.toMap();
    if (systemVersion >= 101500)
        list.remove(QStringLiteral("iTunes"));
    // Entries that are no template dictionary are left out, so every name has a template.
    for (auto it = list.begin(); it != list.end();) {
        if (it.value().typeId() != QMetaType::QVariantMap)
            it = list.erase(it);
        else
            ++it;
    }
    m_names = list.keys();
    m_templateContent = list;
}

ITemplateTool* ITemplateTool::shared()
{
    return g_shared;
}

ITemplateTool* ITemplateTool::createShared(qint64 systemVersion)
{
    g_owned = std::make_unique<ITemplateTool>(
        AppPaths::resourcePath(QStringLiteral("TemplateContent.plist")), AppPaths::homeDir(), systemVersion);
    g_shared = g_owned.get();
    return g_shared;
}

void ITemplateTool::setShared(ITemplateTool* tool)
{
    g_owned.reset();
    g_shared = tool;
}

int ITemplateTool::count() const
{
    return m_names.size();
}

QString ITemplateTool::templateName(int index) const
{
    return index >= 0 && index < m_names.size() ? m_names.at(index) : QString();
}

QVariantMap ITemplateTool::templateDict(const QString& name) const
{
    if (!m_templateContent)
        return QVariantMap();
    return PlistValue::dict(*m_templateContent, name);
}

int ITemplateTool::templateContentCount(const QString& name) const
{
    return PlistValue::array(templateDict(name), kPath).size();
}

QString ITemplateTool::templateContent(const QString& name, int contentIndex) const
{
    const QVariantList paths = PlistValue::array(templateDict(name), kPath);
    if (contentIndex < 0 || contentIndex >= paths.size()
        || paths.at(contentIndex).typeId() != QMetaType::QString)
        return QString();
    return expandTilde(paths.at(contentIndex).toString());
}

QIcon ITemplateTool::templateIcon(const QString& name) const
{
    const QString icon = PlistValue::string(templateDict(name), kIcon);
    if (icon.isEmpty())
        return QIcon();
    for (const char* ext : { ".png", ".svg", "" }) {
        const QString file = AppPaths::resourcePath(icon + QLatin1String(ext));
        if (QFileInfo::exists(file))
            return QIcon(file);
    }
    return QIcon::fromTheme(icon);
}

QString ITemplateTool::expandTilde(const QString& path) const
{
    if (path == QLatin1String("~"))
        return m_homeDir;
    if (path.startsWith(QLatin1String("~/")))
        return joinPath(m_homeDir, path.mid(2));
    return path;
}

QString ITemplateTool::pathFromFileURL(const QString& text)
{
    QString rest;
    if (text.startsWith(QLatin1String("file://localhost/")))
        rest = text.mid(16);
    else if (text.startsWith(QLatin1String("file:///")))
        rest = text.mid(7);
    else
        return text;
    return NameCodec::decode(QByteArray::fromPercentEncoding(NameCodec::encode(rest)));
}

QVariant ITemplateTool::objectFromPlistFileName(const QString& path, const QString& key) const
{
    if (!path.startsWith(QLatin1Char('~')))
        return QVariant();
    const PlistBridge::ReadResult read = PlistBridge::readFile(expandTilde(path));
    if (read.status != PlistBridge::ReadStatus::Ok || read.value.typeId() != QMetaType::QVariantMap)
        return QVariant();
    return read.value.toMap().value(key);
}

QString ITemplateTool::singleFileWithExt(const QString& extension, const QString& folder)
{
    DIR* dir = ::opendir(NameCodec::encode(folder).constData());
    if (!dir)
        return QString();
    const QByteArray suffix = "." + NameCodec::encode(extension);
    QByteArray found;
    int matches = 0;
    while (dirent* e = ::readdir(dir)) {
        const QByteArray entry(e->d_name);
        if (entry == "." || entry == "..")
            continue;
        if (entry.size() > suffix.size() && entry.endsWith(suffix)) {
            found = entry;
            ++matches;
        }
    }
    ::closedir(dir);
    return matches == 1 ? NameCodec::decode(found) : QString();
}

std::optional<QString> ITemplateTool::resolveSource(const QString& name, const QVariantMap& source)
{
    const QVariant cutValue = source.value(QStringLiteral("cutLastComponents"));
    const qint64 cut = isNumber(cutValue) ? qint64(cutValue.toDouble()) : 0;

    QString path;
    const QString plistPath = PlistValue::string(source, QStringLiteral("plistPath"));
    const QString plistKey = PlistValue::string(source, QStringLiteral("plistKey"));
    if (!plistPath.isEmpty() && !plistKey.isEmpty()) {
        const QVariant value = objectFromPlistFileName(plistPath, plistKey);
        if (value.typeId() == QMetaType::QString) {
            path = value.toString();
        } else if (value.typeId() == QMetaType::QVariantList) {
            const QVariantList list = value.toList();
            if (list.isEmpty() || list.first().typeId() != QMetaType::QString)
                return std::nullopt;
            path = list.first().toString();
        } else {
            return std::nullopt;
        }
    } else {
        path = PlistValue::string(source, QStringLiteral("folderPath"));
    }
    if (path.isEmpty())
        return std::nullopt;

    path = expandTilde(pathFromFileURL(path));
    for (qint64 i = 0; i < cut && !path.isEmpty(); ++i)
        path = deleteLastPathComponent(path);
    if (path.isEmpty())
        return std::nullopt;

    if (cut < 0) {
        const QString mask = PlistValue::string(source, QStringLiteral("fileMask"));
        const int dot = mask.lastIndexOf(QLatin1Char('.'));
        const QString extension = dot >= 0 ? mask.mid(dot + 1) : mask;
        const QString file = singleFileWithExt(extension, path);
        if (!file.isNull()) {
            path = joinPath(path, file);
        } else {
            QString prompt = PlistValue::string(source, QStringLiteral("filePrompt"));
            prompt = prompt.isEmpty()
                ? QCoreApplication::translate("Localizable", "Choose datafile for %1").arg(name)
                : QCoreApplication::translate("Localizable", prompt.toUtf8().constData());
            const FileRequest request { extension, path, prompt,
                QCoreApplication::translate("Localizable", "Choose") };
            const QString chosen = m_chooser ? m_chooser(request) : QString();
            if (chosen.isEmpty())
                return std::nullopt;
            path = chosen;
        }
    }
    return path;
}

std::optional<QStringList> ITemplateTool::templateContent(const QString& name)
{
    if (!m_templateContent || !m_templateContent->contains(name))
        return std::nullopt;
    const QVariantMap dict = templateDict(name);
    QStringList result;
    for (const QVariant& p : PlistValue::array(dict, kPath)) {
        if (p.typeId() == QMetaType::QString)
            result.append(expandTilde(p.toString()));
    }
    for (const QVariant& s : PlistValue::array(dict, kPathSource)) {
        if (s.typeId() != QMetaType::QVariantMap)
            continue;
        const std::optional<QString> path = resolveSource(name, s.toMap());
        if (!path)
            continue;
        result.append(*path);
        IShellServices::shared().sendTextInfo(
            QStringLiteral("Template %1:  looking for <%2>").arg(name, *path), 1, quint8(tpFullLog), nullptr);
    }
    return result;
}
