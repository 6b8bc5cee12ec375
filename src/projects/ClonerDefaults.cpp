#include "projects/ClonerDefaults.h"

#include "platform/AppPaths.h"

#include <QVariant>

namespace {

QStringList stringsOf(const QVariant& v)
{
    QStringList out;
    if (v.typeId() == QMetaType::QVariantList)
        for (const QVariant& e : v.toList())
            if (e.typeId() == QMetaType::QString)
                out.append(e.toString());
    return out;
}

} // namespace

ClonerDefaults ClonerDefaults::fromApplication()
{
    ClonerDefaults d;
    d.excludes = stringsOf(AppPaths::infoPlistValue(QStringLiteral("ClonerDefaultExcludes")));
    d.hiddens = normalizedHiddens(
        stringsOf(AppPaths::infoPlistValue(QStringLiteral("ClonerDefaultHiddens"))), d.excludes);
    return d;
}

QStringList ClonerDefaults::normalizedHiddens(const QStringList& hiddens, const QStringList& excludes)
{
    QStringList out = hiddens + excludes;
    for (QString& entry : out) {
        if (entry.endsWith(QLatin1String("/*")))
            entry.chop(2);
        else if (entry.endsWith(QLatin1Char('/')))
            entry.chop(1);
    }
    return out;
}
