#pragma once

#include "platform/XorrisoBurner.h"

#include <QFileInfo>
#include <QList>
#include <QMap>
#include <QPair>

// A burner whose media, measurements and burns are scripted: what the disc flow's tests put in
// place of xorriso. The image of a set of files measures as their 2048-byte sectors plus a fixed
// overhead (calibrate it with one real measurement).
struct BurnScript
{
    using Files = std::vector<std::pair<QString, QString>>;
    QMap<QString, XorrisoBurner::Media> media; // per drive
    QList<bool> results; // the answers of the burns, in order; YES when empty
    qint64 overhead = 0;
    QString measureError; // when set, measuring fails with it
    QList<QPair<QString, Files>> burned; // each burn's drive and files
    QList<XorrisoBurner::WriteMode> modes; // each burn's write mode

    static qint64 sectors(qint64 bytes) { return (bytes + 2047) / 2048 * 2048; }
    static XorrisoBurner::Media blank(qint64 freeBytes, const QString& profile = QStringLiteral("DVD+RW"))
    {
        XorrisoBurner::Media m;
        m.read = true;
        m.profile = profile;
        m.status = QStringLiteral("is blank");
        m.freeBytes = freeBytes;
        return m;
    }
};

class ScriptedBurner : public XorrisoBurner
{
public:
    ScriptedBurner(const QString& drive, BurnScript& script)
        : XorrisoBurner(drive)
        , m_script(script)
    { }
    Media readMedia() const override { return m_script.media.value(drive()); }
    std::optional<qint64> measureImageBytes(const BurnScript::Files& files, QString* error) const override
    {
        if (!m_script.measureError.isEmpty()) {
            if (error)
                *error = m_script.measureError;
            return std::nullopt;
        }
        qint64 total = m_script.overhead;
        for (const auto& e : files)
            total += BurnScript::sectors(QFileInfo(e.first).size());
        return total;
    }
    bool burn(QString* message) override
    {
        m_script.burned.append({ drive(), files() });
        m_script.modes.append(writeMode());
        const bool ok = m_script.results.isEmpty() || m_script.results.takeFirst();
        if (!ok && message)
            *message = QStringLiteral("Image size 1664s exceeds free space on media 1024s");
        return ok;
    }

private:
    BurnScript& m_script;
};
