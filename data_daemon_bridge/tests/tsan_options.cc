// ThreadSanitizer settings of the test programs; other builds never call this.

// The fork tests start threads in children of multi-threaded processes, which the module must
// survive; ThreadSanitizer refuses that by default.
extern "C" const char* __tsan_default_options() { return "die_after_fork=0"; }
