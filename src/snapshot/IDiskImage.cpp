#include "IDiskImage.h"

#include "platform/NameCodec.h"

#include <sys/stat.h>

QString IDiskImage::nameForProjectFileName(const QString& projectFileName, bool encrypted)
{
    if (projectFileName.size() < ProjectFileNameTail)
        return {};
    return (encrypted ? QStringLiteral("encr_") : QString())
        + projectFileName.left(projectFileName.size() - ProjectFileNameTail);
}

QString IDiskImage::fileNameForName(const QString& name)
{
    return name.isNull() ? QString() : name + QStringLiteral(".sparsebundle");
}

double IDiskImage::createSizeInGB(
    int sizeType, double customValueGB, quint64 freeBytes, quint64 capacityBytes)
{
    if (sizeType == 1)
        return customValueGB != 0 ? customValueGB : double(freeBytes) / 1e9 * 0.9;
    return double(capacityBytes) / 1e9 * 0.9;
}

IDiskImage::FitDecision IDiskImage::fitDecision(int sizeType, double customValueGB, quint64 holdingFreeBytes,
    quint64 holdingCapacityBytes, double imageCapacityMB, double imageFreeMB)
{
    FitDecision d;
    if (sizeType == 0) {
        // automatic: the image may take 90 % of what the holding volume has free
        if (double(holdingFreeBytes) / 1e6 * 0.9 <= imageCapacityMB) {
            if (imageFreeMB < 0.1) {
                d.action = FitDecision::Refuse;
                d.state = 3;
            }
            return d;
        }
        d.action = FitDecision::Grow;
        d.sizeGB = double(holdingCapacityBytes) / 1e6 / 1000;
        return d;
    }
    const double g = customValueGB;
    if (g == 0)
        return d;
    if (imageFreeMB < 1.0) {
        d.action = FitDecision::Refuse;
        d.state = 9;
        return d;
    }
    const double mg = imageCapacityMB / 1000;
    d.sizeGB = g;
    d.storeCustomValue = true;
    if (g > mg)
        d.action = FitDecision::Grow;
    else if (g * 1.08 < mg)
        d.action = FitDecision::Shrink; // more than 8 % too large
    return d;
}

double IDiskImage::shrinkTargetGB(double wantedGB, double minimumGB, bool* raised)
{
    const bool up = minimumGB > 0 && wantedGB < minimumGB;
    if (raised)
        *raised = up;
    return up ? minimumGB : wantedGB;
}

QString IDiskImage::generateSavedNameForFileWithName(const QString& name, const QString& folderPath)
{
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    const QString base = dot > 0 ? name.left(dot) : name;
    const QString ext = dot > 0 ? name.mid(dot + 1) : QString();
    auto taken = [&](const QString& candidate) {
        struct stat st;
        return ::lstat(NameCodec::encodeStd(folderPath + QLatin1Char('/') + candidate).c_str(), &st) == 0;
    };
    QString candidate = base + QStringLiteral(".qv_saved.") + ext;
    for (long n = 1; taken(candidate); ++n)
        candidate = base + QStringLiteral(".qv_saved-") + QString::number(n) + QLatin1Char('.') + ext;
    return candidate;
}
