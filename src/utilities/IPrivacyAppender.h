#pragma once

// The offer, before a run starts, to grant the program access to all disk data. On Linux the
// program's access is whatever its user (or the helper, for privileged runs) may read, so there
// is nothing to grant: the answer is always "not needed", nothing is shown and no preference is
// written.
class IPrivacyAppender
{
public:
    // True when no prompt was needed (always).
    static bool appendQVToPrivacyByUser() { return true; }
};
