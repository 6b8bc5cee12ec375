// Linked into every ThreadSanitizer test build. Debian's Qt is not built with ThreadSanitizer, so
// the hand-offs inside Qt's own threads (the QtTest watchdog waking the main thread through a
// QWaitCondition) show up as races that are not there. Our threads never meet through these.
extern "C" const char* __tsan_default_suppressions()
{
    return "race:QWaitCondition\n";
}
