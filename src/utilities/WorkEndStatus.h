#pragma once

#include <QtGlobal>

// End-status bits of a run (shared by the snapshot-backup engine, the synchronization engine and
// the archive runner).
enum WorkEndStatus : quint32
{
    wesClear = 0x0,
    wesWarnings = 0x1,
    wesErrors = 0x2,
    wesTerminateByUser = 0x4,
    wesBurnErrors = 0x8,
    wesFatalErrors = 0x10,
};

// Error classes of the copying tool's output, collected per pass.
enum ProcessErrorAccumulator : quint64
{
    peaClear = 0x0,
    peaSomeFilesVanished = 0x1,
    peaMKDIR = 0x2,
    peaMKSTEMP = 0x4,
    peaNoSpaceLeft = 0x8,
    peaErrorRsyncProtocol = 0x10,
    peaErrorFileIO = 0x20,
    peaInputOutputError = 0x40,
    peaSomeFilesNotTransferred = 0x80,
    peaWriteFailedOnPath = 0x100,
    peaNoTargetAvailable = 0x200,
    peaPermissionDenied = 0x400,
};

// Result codes of a finished snapshot-backup run, as the pane and the headless driver get them.
enum WorkResultCode : int
{
    wrcSuccess = 0,
    wrcFailed = 1,
    wrcWarnings = 3,
    wrcTerminatedByUser = 4,
};
