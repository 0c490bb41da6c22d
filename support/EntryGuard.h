// One call into the module at a time, checked where the build asks for it.
//
// The host must not call into the module from inside a call the module made
// to it (sendRequest, postAppEvent, a task queue or watcher call, a log
// line): the inner call would run on state the outer one is in the middle of
// using. onLeave from inside sendRequest, for one, frees the session's
// context while the app manager that sent the request is still running in it.
//
// With SAPP_CHECK_REENTRY defined (the Debug and sanitizer builds, or
// -DSAPP_REENTRY_CHECK=ON), every entry point of the module holds an
// EntryGuard for as long as it runs. A call that enters while another has
// not returned is reported on stderr with both names, e.g.
//   sapp: onLeave was called while onPacket had not returned ...
// and the process aborts there, before the inner call touches anything.
// Without it, an EntryGuard is an empty object and the check costs nothing.
//
// The check sees calls on one thread nesting inside each other. Calls that
// overlap from two threads break the same rule and are not reliably seen.
#pragma once

#ifdef SAPP_CHECK_REENTRY

class EntryGuard {
public:
    // `call` names the entry point, e.g. "onPacket"; a string literal.
    explicit EntryGuard(const char* call) noexcept;
    ~EntryGuard();
    EntryGuard(const EntryGuard&) = delete;
    EntryGuard& operator=(const EntryGuard&) = delete;
};

#else

// Nothing to check: a guard is an empty object nobody reads.
class [[maybe_unused]] EntryGuard {
public:
    explicit constexpr EntryGuard(const char*) noexcept {}
};

#endif
