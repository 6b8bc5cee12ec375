#include "archive/ArchiveNames.h"

#include <QStringList>

namespace {

struct Cipher
{
    quint32 method;
    const char* extension;
    const char* name;
};

const Cipher kCiphers[] = {
    { 1, "bfe", "bf" },
    { 2, "3des", "des3" },
    { 3, "aes128", "aes-128-cbc" },
    { 4, "aes256", "aes-256-cbc" },
};

bool isCipherExt(const QString& ext)
{
    return extToEncryptionMethod(ext) != 0;
}

// Up to three unsigned numbers separated by "-", read as a scanf "%u-%u-%u" would.
bool readTriple(const QString& text, unsigned* a, unsigned* b, unsigned* c)
{
    const QByteArray bytes = text.toLatin1();
    return std::sscanf(bytes.constData(), "%u-%u-%u", a, b, c) == 3;
}

bool allDigits(const QString& s)
{
    for (const QChar ch : s)
        if (ch < QLatin1Char('0') || ch > QLatin1Char('9'))
            return false;
    return !s.isEmpty();
}

} // namespace

bool isSingleComponentName(const QString& name)
{
    return !name.contains(QLatin1Char('/')) && !name.contains(QChar(0)) && name != QLatin1String(".")
        && name != QLatin1String("..");
}

QString encryptionMethodToStr(quint32 method, bool asExtension)
{
    for (const Cipher& c : kCiphers)
        if (c.method == method)
            return QString::fromLatin1(asExtension ? c.extension : c.name);
    return QString();
}

quint32 extToEncryptionMethod(const QString& extension)
{
    if (extension.isEmpty())
        return 0;
    for (const Cipher& c : kCiphers)
        if (extension == QLatin1String(c.extension))
            return c.method;
    return 0;
}

quint32 getCryptMethodFromFileName(const QString& path)
{
    const QString name = path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
    const QStringList pieces = name.split(QLatin1Char('.'));
    quint32 found = 0;
    for (qsizetype i = pieces.size() - 1; i >= 1; --i)
        if (const quint32 m = extToEncryptionMethod(pieces.at(i)))
            found = m; // the leftmost cipher extension wins
    return found;
}

QString splittedArcCountToExt(int count)
{
    return count > 0 ? QStringLiteral("cnt%1").arg(count) : QString();
}

int extToSplittedArcCount(const QString& extension)
{
    if (!extension.startsWith(QLatin1String("cnt")))
        return 0;
    bool ok = false;
    const int n = extension.mid(3).toInt(&ok);
    return ok && n > 0 ? n : 0;
}

bool isArchiveFileSplited(const QString& path)
{
    const qsizetype dot = path.lastIndexOf(QLatin1Char('.'));
    return dot >= 0 && dot > path.lastIndexOf(QLatin1Char('/'))
        && extToSplittedArcCount(path.mid(dot + 1)) != 0;
}

bool isFileCompressed(const QString& path)
{
    const QStringList pieces = path.mid(path.lastIndexOf(QLatin1Char('/')) + 1).split(QLatin1Char('.'));
    for (qsizetype i = pieces.size() - 1; i >= 1; --i) {
        if (pieces.at(i) == QLatin1String("tgz"))
            return true;
        if (pieces.at(i) == QLatin1String("tar"))
            return false;
    }
    return false;
}

quint32 getFileBackupMethod(const QString& name)
{
    if (name.startsWith(QLatin1String("incr")))
        return 1;
    if (name.startsWith(QLatin1String("vers")))
        return 2;
    return 0;
}

bool isArchiveFileIncremental(const QString& path)
{
    return archiveFileNameParse(path).value(QStringLiteral("CBMethodPrefix")).toString()
        == QLatin1String("incr");
}

bool isArchiveFileLongPath(const QString& path)
{
    return archiveFileNameParse(path).value(QStringLiteral("longPath")).toBool();
}

QVariantMap archiveFileNameParse(const QString& path)
{
    const QString component = path.mid(path.lastIndexOf(QLatin1Char('/')) + 1).trimmed();
    if (component.isEmpty())
        return {};
    const QStringList pieces = component.split(QLatin1Char('.'));
    QStringList collected; // from the last piece backwards
    qsizetype k = -1;
    for (qsizetype i = pieces.size() - 1; i >= 0; --i) {
        collected << pieces.at(i);
        if (pieces.at(i) == QLatin1String("tar") || pieces.at(i) == QLatin1String("tgz")) {
            k = i;
            break;
        }
    }
    const QString base = k > 0 ? pieces.mid(0, k).join(QLatin1Char('.')) : component;
    const qsizetype m = collected.size();
    QString tarExt = collected.at(m - 1);
    QString encryptExt;
    QString splitExt;
    if (m >= 2) {
        const QString p = collected.at(m - 2);
        if (isCipherExt(p))
            encryptExt = p;
        else
            splitExt = p;
    }
    if (m >= 3)
        splitExt = collected.at(0);

    QVariantMap result;
    result.insert(QStringLiteral("tarExt"), tarExt);
    result.insert(QStringLiteral("splitExt"), splitExt);
    result.insert(QStringLiteral("encryptExt"), encryptExt);

    bool longPath = false;
    const QString trimmed = base.trimmed();
    const QStringList parts = trimmed.split(QLatin1Char('_'));
    if (parts.size() >= 4) {
        longPath = parts.last() == QLatin1String("lp");
        const qsizetype dateAt = longPath ? parts.size() - 3 : parts.size() - 2;
        unsigned year = 0, month = 0, day = 0, hour = 99, minute = 99, second = 99;
        const bool dateRead = readTriple(parts.at(dateAt), &year, &month, &day);
        const bool timeRead = readTriple(parts.at(dateAt + 1), &hour, &minute, &second);
        if (dateRead && timeRead && day >= 1 && day <= 31 && year != 0 && month >= 1 && month <= 12
            && hour < 25 && minute < 60 && second < 60) {
            // The project name is what lies between the method and the date, however short.
            const QString projectName
                = dateAt > 1 ? parts.mid(1, dateAt - 1).join(QLatin1Char('_')) : QString(QLatin1String(""));
            result.insert(QStringLiteral("CBMethodPrefix"), parts.at(0));
            result.insert(QStringLiteral("projectName"), projectName);
            result.insert(QStringLiteral("year"), int(year));
            result.insert(QStringLiteral("month"), int(month));
            result.insert(QStringLiteral("day"), int(day));
            result.insert(QStringLiteral("hour"), int(hour));
            result.insert(QStringLiteral("minute"), int(minute));
            result.insert(QStringLiteral("second"), int(second));
            result.insert(QStringLiteral("longPath"), longPath);
            return result;
        }
    }
    // The old form: four letters, fourteen digits, and at least one more character.
    if (base.size() >= 19 && allDigits(base.mid(4, 14))) {
        const int year = base.mid(4, 4).toInt();
        const int month = base.mid(8, 2).toInt();
        const int day = base.mid(10, 2).toInt();
        const int hour = base.mid(12, 2).toInt();
        const int minute = base.mid(14, 2).toInt();
        const int second = base.mid(16, 2).toInt();
        if (second <= 59 && minute <= 59 && hour <= 24 && day >= 1 && day <= 31 && year != 0 && month >= 1
            && month <= 12) {
            result.insert(QStringLiteral("CBMethodPrefix"), base.left(4));
            result.insert(QStringLiteral("projectName"), QString(QLatin1String("")));
            result.insert(QStringLiteral("year"), year);
            result.insert(QStringLiteral("month"), month);
            result.insert(QStringLiteral("day"), day);
            result.insert(QStringLiteral("hour"), hour);
            result.insert(QStringLiteral("minute"), minute);
            result.insert(QStringLiteral("second"), second);
            result.insert(QStringLiteral("longPath"), longPath);
            return result;
        }
    }
    return {};
}

QDateTime archiveNameDate(const QVariantMap& parsed)
{
    if (parsed.isEmpty())
        return QDateTime();
    const QDate day(parsed.value(QStringLiteral("year")).toInt(),
        parsed.value(QStringLiteral("month")).toInt(), parsed.value(QStringLiteral("day")).toInt());
    const int hour = parsed.value(QStringLiteral("hour")).toInt();
    QDateTime d(day,
        QTime(hour == 24 ? 0 : hour, parsed.value(QStringLiteral("minute")).toInt(),
            parsed.value(QStringLiteral("second")).toInt()));
    return hour == 24 ? d.addDays(1) : d;
}
