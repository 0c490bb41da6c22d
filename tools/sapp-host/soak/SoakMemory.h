// The soak's memory watch: a progress line at every tenth of the run and, at
// the end, the verdict that the heap grew no faster than the live state.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace sapphost::soak {

class MemoryWatch {
public:
    explicit MemoryWatch(uint64_t steps);

    // Called after every step; prints a progress line when a tenth is done.
    // `sessions` is what the line says about them ("100 sessions (741 joined,
    // 641 left)"), `liveState` the model's entries.
    void afterStep(uint64_t step, const std::string& sessions, std::size_t liveState);

    // The heap may grow while the live state does, and no faster: at the
    // end of the run it may be above its peak in the first half by what the
    // live state grew since (it wanders around a plateau once sessions come
    // and go), then 10 % and 2 MiB. A few bytes kept per packet, or one
    // object lost per injected fault, exceed that over the second half of
    // any but the shortest run. Prints the figures; false when the heap grew
    // too much (the reason is printed on stderr).
    bool verdict() const;

private:
    struct Checkpoint {
        uint64_t step;
        std::size_t liveState;
        uint64_t heap;
    };

    uint64_t m_steps;
    uint64_t m_lastTenth = 0;
    std::chrono::steady_clock::time_point m_started;
    std::vector<Checkpoint> m_checkpoints;
};

}  // namespace sapphost::soak
