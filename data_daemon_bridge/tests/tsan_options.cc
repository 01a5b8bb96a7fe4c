// ThreadSanitizer settings of the test programs; other builds never call these.

// The fork tests start threads in children of multi-threaded processes, which the module must
// survive; ThreadSanitizer refuses that by default.
extern "C" const char* __tsan_default_options() { return "die_after_fork=0"; }

// The iceoryx2 library is Rust built without instrumentation: its own synchronisation (the lazily
// made global configuration, for one) is invisible to ThreadSanitizer, which then reports the
// library's copies made through intercepted memcpy as races.
extern "C" const char* __tsan_default_suppressions() { return "race:iceoryx2::\n"; }
