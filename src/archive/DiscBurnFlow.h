#pragma once

#include "platform/XorrisoBurner.h"

#include <QDate>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

// The burn of the archives waiting for a disc, over as many discs as they need: the archive
// files (the root folder the container hands over) are packed disc by disc, the project file
// first; each disc's setup (drive, medium, the appendable box) is a UiPrompts question; each
// disc is burned by an XorrisoBurner; a failed or cancelled disc may be retried with another
// medium. The answer is YES only when every file reached a disc. Progress leaves as signals,
// for the progress panel or the driver's lines.
class DiscBurnFlow : public QObject
{
    Q_OBJECT

public:
    using Entry = std::pair<QString, QString>; // a file and its path on the disc
    using BurnerFactory = std::function<std::unique_ptr<XorrisoBurner>(const QString& drive)>;

    explicit DiscBurnFlow(QObject* parent = nullptr);
    ~DiscBurnFlow() override;

    // Tests replace the burner; the default is the real xorriso burner.
    void setBurnerFactory(BurnerFactory factory) { m_factory = std::move(factory); }
    // The drives offered by the setup; empty: the drive list (BurnDrives::list()).
    void setDrives(const QStringList& drives) { m_drives = drives; }
    // The drives whose "stdio file" media count as discs: the configured list (the
    // "BurnDrives" setting, or a run's own drives).
    void setConfiguredDrives(const QStringList& drives) { m_configured = drives; }
    // The date in the volume name ("Backup Disc YYYY.MM.DD"); default the clock's.
    void setDate(const QDate& date) { m_date = date; }

    // Burns the root folder: files and folders with their paths on the disc (a folder's files
    // go under its disc path). YES when every file reached a disc.
    bool burnDisc(const std::vector<Entry>& rootFolder);
    // Sets the root folder without burning (buildBurnCDFolder then packs from it).
    void setRootFolder(const std::vector<Entry>& rootFolder) { m_root = flatten(rootFolder); }
    // What was not burned (empty after a YES), in disc order.
    const std::vector<Entry>& rootFolder() const { return m_root; }
    // The disc paths of the files not burned, without the leading "/".
    QStringList leftArchives() const;

    // Packing one disc of free bytes: as much of the root folder as fits below free - 4096,
    // the project file first, then in order; then measured as an image and files moved back,
    // last first, until it fits. TooLarge: a single file does not fit an empty disc.
    enum class Packing
    {
        Packed,
        TooLarge,
        Failed
    };
    Packing buildBurnCDFolder(qint64 freeBytes, const XorrisoBurner& burner, QString* error = nullptr);
    const std::vector<Entry>& discFolder() const { return m_disc; }
    // Lays out the root folder as files, the project file (".bif", ".bifx") first.
    static std::vector<Entry> flatten(const std::vector<Entry>& rootFolder);
    // The status line of a medium as the setup shows it.
    static QString mediaText(const XorrisoBurner::Media& media);
    // Whether the burn blanks the medium first: a rewritable disc holding data is overwritten.
    static bool blanksFirst(const XorrisoBurner::Media& media);

    // Seconds from the first xorriso start of the burn to the end of the last.
    double burnSeconds() const { return m_burnSeconds; }

    // Called when the flow ends with nothing left to burn (the hub restarts its ready timer).
    std::function<void()> onFinishedClean;

Q_SIGNALS:
    void discStarted(int disc, const QString& drive, int files, qint64 bytes);
    void progressChanged(double percent);
    void lineReceived(const QString& line);
    void discFinished(int disc, bool burnt, const QString& message);
    void burnerStarted(qint64 pgid, const QStringList& argv);

public Q_SLOTS:
    // Stops the running burn (its process group) and asks nothing more.
    void cancel();

private:
    bool burnOne(int disc, XorrisoBurner& burner, QString* message);
    void burnDidFinishClean();
    QStringList drives() const;

    BurnerFactory m_factory;
    QStringList m_drives;
    QStringList m_configured;
    QDate m_date;
    std::vector<Entry> m_root;
    std::vector<Entry> m_disc;
    XorrisoBurner* m_active = nullptr;
    bool m_cancelled = false;
    bool m_appendable = true;
    double m_burnSeconds = 0;
    QElapsedTimer m_span; // from the first xorriso start
};
