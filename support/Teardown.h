// Teardown that survives a throwing host.
//
// Letting go of a session means several calls to the host (removeWatcher,
// removeTask, the database references' releaseRef, the log lines around
// them), and any of them may throw. A teardown must still take every later
// step, or a failed removeWatcher would leave the task queued and the
// database referenced. And none of it may run in a destructor, where an
// exception ends the process. So the owners tear down in explicit close
// functions that take their steps through a Teardown: each step runs, the
// first exception any of them throws is kept, and finish() rethrows it once
// the last step is done. Later exceptions are dropped: the host's call
// receives the first one, as if that step had been the only one to fail.
#pragma once

#include <exception>
#include <utility>

class Teardown {
public:
    // Runs `step`; what it throws is kept if it is the first, dropped if not.
    template <class F>
    void step(F&& step) noexcept {
        try {
            std::forward<F>(step)();
        } catch (...) {
            if (!m_first) m_first = std::current_exception();
        }
    }

    // Rethrows the first exception a step threw; returns if none did.
    void finish() {
        if (m_first) std::rethrow_exception(std::exchange(m_first, nullptr));
    }

private:
    std::exception_ptr m_first;
};
