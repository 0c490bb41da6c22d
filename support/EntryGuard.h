// One call into the module at a time, checked in every build.
//
// The host must not call into the module from inside a call the module made
// to it (sendRequest, postAppEvent, a task queue or watcher call, a log
// line): the inner call would run on state the outer one is in the middle of
// using. onLeave from inside sendRequest, for one, frees the session's
// context while the app manager that sent the request is still running in it.
//
// Every entry point of the module holds an EntryGuard for as long as it
// runs. A call that enters while another has not returned is reported on
// stderr with both names, e.g.
//   sapp: onLeave was called while onPacket had not returned ...
// and the process aborts there, before the inner call touches anything.
// The check is part of every build, release included, with no switch to
// leave it out: without it such a host reads and writes freed memory, and
// nothing says where.
//
// Why abort rather than refuse the inner call with an exception: a refusal
// would have to be told apart from every other exception, and the entry
// points' contract does not allow that. onLeave and releaseModule finish
// their teardown before they pass on an exception, so a host may treat one
// that throws as done and destroy its session; a refused onLeave that threw
// would leave the module watching that destroyed session. And inside the
// log sink the module drops what the host's write throws, so a refused call
// made from there would be lost without a word. The host has broken a rule
// it cannot recover from by catching something: ending the process at the
// inner call, with both calls named, is the one answer that cannot turn
// into a worse fault later.
// On the calls that pass it costs what a refusal would: a test of the
// running call and two stores, 8 instructions per entry point in the
// release build (docs/integration.md, "Threads").
//
// The check sees calls on one thread nesting inside each other. Calls that
// overlap from two threads break the same rule and are not reliably seen.
#pragma once

class EntryGuard {
public:
    // `call` names the entry point, e.g. "onPacket"; a string literal.
    explicit EntryGuard(const char* call) noexcept {
        if (s_running) [[unlikely]]
            refuse(call);
        s_running = call;
    }
    // No call is running once an entry point returns or throws: a nested one
    // never gets past its constructor.
    ~EntryGuard() { s_running = nullptr; }
    EntryGuard(const EntryGuard&) = delete;
    EntryGuard& operator=(const EntryGuard&) = delete;

private:
    // Reports `call` and the one running on stderr, and aborts.
    [[noreturn]] static void refuse(const char* call) noexcept;

    // The entry point now running, null between calls. Plain data, like the
    // rest of the module's process-wide state: one call at a time.
    static const char* s_running;
};
