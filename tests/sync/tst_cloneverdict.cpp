// kv-test: labels=unit timeout=60
#include "sync/CloneVerdict.h"

#include <QtTest>
#include <functional>

using namespace CloneVerdict;

namespace {

// Two present, writable volumes of the older kind, the destination large enough.
Facts baseFacts()
{
    Facts f;
    for (Volume* v : { &f.source, &f.destination }) {
        v->chosen = v->present = true;
        v->hfsPlus = true;
        v->usedMB = 10;
        v->cloneSpaceMB = 100;
    }
    f.sourceAccess = 3;
    f.hostVersion = 101507;
    return f;
}

QString flagNames(const QList<ProcessCardFlag>& flags)
{
    QStringList names;
    for (const ProcessCardFlag& flag : flags)
        names << QString::fromLatin1(flag.name);
    names.sort();
    return names.join(QLatin1Char(','));
}

struct Row
{
    const char* name;
    std::function<void(Facts&)> change;
    bool allowed;
    const char* text;
    Icon icon;
    const char* anchor;
    const char* flags;
};

void bootableSystems(Facts& f)
{
    f.source.system = f.source.bootable = f.destination.bootable = true;
}

} // namespace

class TestCloneVerdict : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void verdictTable();
    void runningCardKeepsItsFlags();
};

void TestCloneVerdict::verdictTable()
{
    const QList<Row> rows {
        { "missing place during a tolerated run",
            [](Facts& f) {
                f.destination.present = false;
                f.cardOnlyRunning = f.cardUnmountTolerated = true;
            },
            true, "Destination volume is unavailable. Wait until cloning is complete.", Icon::Warning,
            "cloning_messages_html_no_access", "" },
        { "missing place", [](Facts& f) { f.source.present = false; }, true,
            "Source or destination is not accessible", Icon::Error, "cloning_messages_html_no_access", "" },
        { "group data volume missing", [](Facts& f) { f.sourceAccess = 5; }, false,
            "Source data volume is inaccessible", Icon::Error, "cloning_messages_html_no_access", "NoSupportClone" },
        { "no destination chosen", [](Facts& f) { f.destination = Volume(); }, false,
            "Select source and destination", Icon::Warning, "cloning_messages_html_select_disks", "" },
        { "same volume", [](Facts& f) { f.sameVolume = true; }, false, "Source and destination must differ",
            Icon::Error, "cloning_messages_html_same_source_and_destination", "" },
        { "unsupported kind", [](Facts& f) { f.destination.hfsPlus = false; }, true,
            "Mac OS Extended or APFS required for source and destination", Icon::Warning,
            "cloning_messages_html_hfs_required", "" },
        { "read-only destination", [](Facts& f) { f.destination.writable = false; }, true,
            "Destination is read only", Icon::Error, "cloning_messages_html_read_only", "" },
        { "read-only system role allowed",
            [](Facts& f) {
                f.destination.writable = false;
                f.destination.role = 6;
            },
            true, "Clone will not be bootable (Source is not bootable)", Icon::Warning,
            "cloning_messages_html_source_not_bootable", "" },
        { "case-sensitive source", [](Facts& f) { f.source.caseSensitive = true; }, true,
            "Case-sensitive HFS+ recommended for destination", Icon::Warning, "cloning_messages_html_case_sensitive",
            "" },
        { "used space equal to clone space", [](Facts& f) { f.source.usedMB = 100; }, true,
            "Destination has insufficient space", Icon::Warning, "cloning_messages_html_destination_low_space", "" },
        { "destination not bootable",
            [](Facts& f) {
                bootableSystems(f);
                f.destination.bootable = false;
            },
            true, "Clone will not be bootable (Destination is not bootable)", Icon::Warning,
            "cloning_messages_html_destination_not_bootable", "" },
        { "older kind onto the newer",
            [](Facts& f) {
                bootableSystems(f);
                f.destination.hfsPlus = false;
                f.destination.apfs = true;
            },
            true, "Clone will not be bootable (unable to create bootable volume on the destination)", Icon::Warning,
            "cloning_messages_html_destination_preparing_problem", "" },
        { "group source onto the older kind",
            [](Facts& f) {
                bootableSystems(f);
                f.sourceDoubleVolumeSystem = true;
            },
            true, "Clone will not be bootable (APFS format is required on destination)", Icon::Warning,
            "cloning_messages_html_not_bootable_apfs_required", "" },
        { "bootable", bootableSystems, true, "Clone may be bootable", Icon::Ok,
            "cloning_messages_html_clone_is_bootable", "BootableClone" },
        { "host 11: S128 onto the older kind",
            [](Facts& f) {
                f.hostVersion = 110000;
                f.source.system12 = true;
            },
            false, "APFS volume is required for destination", Icon::Error, "cloning_messages_html_select_disks",
            "NoSupportClone" },
        { "host 11: S64 onto a plain new-kind volume",
            [](Facts& f) {
                f.hostVersion = 110000;
                f.source.system11 = true;
                f.destination.hfsPlus = false;
                f.destination.apfs = true;
            },
            true, "Cloning Data Volume only", Icon::Warning, "cloning_messages_html_apfs_data_volume_only",
            "RSYNCOnlyClone" },
        { "host 11: S64 by snapshot onto D64 of another version",
            [](Facts& f) {
                f.hostVersion = 110000;
                f.source.system11 = f.source.bySnapshot = true;
                f.source.sysVersion = 110001;
                f.destination.hfsPlus = false;
                f.destination.apfs = f.destination.system11 = true;
                f.destination.sysVersion = 110002;
            },
            true, "Clone may be bootable", Icon::Ok, "cloning_messages_html_apfs_clone_is_bootable",
            "ASROnlyClone,DoubleVolumeBootableClone,SURClone,UnmountNotReasonForTermination" },
        { "host before 11: S64", [](Facts& f) { f.source.system11 = true; }, false,
            "Source must be active bootable disk", Icon::Error, "cloning_messages_html_select_disks",
            "NoSupportClone" },
        { "host 12: S64 onto a volume that is not D64",
            [](Facts& f) {
                f.hostVersion = 120000;
                f.source.system11 = true;
                f.destination.hfsPlus = false;
                f.destination.apfs = true;
            },
            true, "Clone may be bootable", Icon::Ok, "cloning_messages_html_apfs_clone_is_bootable",
            "FullCloning,UnmountNotReasonForTermination" },
        { "host 12: S64 onto D64",
            [](Facts& f) {
                f.hostVersion = 120000;
                f.source.system11 = true;
                f.destination.hfsPlus = false;
                f.destination.apfs = f.destination.system11 = true;
            },
            true, "Cloning Data Volume only", Icon::Warning, "cloning_messages_html_apfs_data_volume_only",
            "RSYNCOnlyClone" },
        { "host 12: S128 onto D128",
            [](Facts& f) {
                f.hostVersion = 120000;
                f.source.system12 = true;
                f.destination.hfsPlus = false;
                f.destination.apfs = f.destination.system12 = true;
            },
            true, "Clone may be bootable", Icon::Ok, "cloning_messages_html_apfs_clone_is_bootable",
            "DoubleVolumeBootableClone,UnmountNotReasonForTermination" },
        { "host 12: S128 onto a volume that is not D128",
            [](Facts& f) {
                f.hostVersion = 120000;
                f.source.system12 = true;
                f.destination.hfsPlus = false;
                f.destination.apfs = true;
            },
            true, "Clone may be bootable", Icon::Ok, "cloning_messages_html_apfs_clone_is_bootable",
            "ASROnlyClone,DoubleVolumeBootableClone,UnmountNotReasonForTermination" },
        { "a volume-group clone carries its two flags whatever the verdict",
            [](Facts& f) {
                f.doubleVolumeClone = true;
                f.sameVolume = true;
            },
            false, "Source and destination must differ", Icon::Error,
            "cloning_messages_html_same_source_and_destination",
            "DoubleVolumeBootableClone,UnmountNotReasonForTermination" },
    };
    for (const Row& row : rows) {
        Facts f = baseFacts();
        row.change(f);
        const Result r = judge(f);
        const QByteArray where = QByteArray("row: ") + row.name;
        QVERIFY2(r.allowed == row.allowed, where.constData());
        QVERIFY2(r.text == QString::fromUtf8(row.text), QByteArray(where + " got " + r.text.toUtf8()).constData());
        QVERIFY2(r.icon == row.icon, where.constData());
        QVERIFY2(r.anchor == QLatin1String(row.anchor), where.constData());
        QVERIFY2(flagNames(r.flags) == QLatin1String(row.flags), QByteArray(where + " got " + flagNames(r.flags).toUtf8()).constData());
    }
}

// The pane checks on every refresh, also during a run: a running clone keeps the flags it
// started with (its own remount of the destination must not end it); an idle card takes the
// verdict's flags in place of the old ones.
void TestCloneVerdict::runningCardKeepsItsFlags()
{
    Facts f = baseFacts();
    bootableSystems(f);
    const Result r = judge(f);

    IProcessCard running;
    running.add(stateRunning);
    running.add(analyticUnmountNotReasonForTermination);
    applyToCard(running, r);
    QVERIFY(running.isFlag(analyticUnmountNotReasonForTermination));
    QVERIFY(!running.isFlag(analyticBootableClone));

    IProcessCard idle;
    idle.add(analyticUnmountNotReasonForTermination);
    idle.add(analyticNoSupportClone);
    applyToCard(idle, r);
    QVERIFY(!idle.isFlag(analyticUnmountNotReasonForTermination));
    QVERIFY(!idle.isFlag(analyticNoSupportClone));
    QVERIFY(idle.isFlag(analyticBootableClone));
}

QTEST_MAIN(TestCloneVerdict)
#include "tst_cloneverdict.moc"
