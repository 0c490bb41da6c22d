// Which step a scenario's process had reached: it writes, and flushes, a
// tagged line on its standard output as each step begins, so that the
// process that started it can name the step a crash or a time limit ended
// ("at step 3 (packet)"). check's and sweep's processes write them.
#pragma once

#include <cstddef>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>

namespace sapphost {

// The tag, the step's index, a space and its action.
inline constexpr std::string_view kStepTag = "sapp-host-step ";

struct StepAt {
    std::size_t index = 0;
    std::string action;

    // "step 3 (packet)"
    std::string text() const { return "step " + std::to_string(index) + " (" + action + ")"; }
};

// Writes the line of a step that begins, flushed: it must reach the parent
// even when the step never ends.
inline void tellStep(std::ostream& out, std::size_t index, std::string_view action) {
    out << kStepTag << index << ' ' << action << std::endl;
}

// The step the last complete step line of `output` names; none when there
// is none (the process ended before its first step). Lines may end in
// "\r\n" (a Windows child's text mode).
inline std::optional<StepAt> lastStep(std::string_view output) {
    std::optional<StepAt> last;
    for (std::size_t at = output.find(kStepTag); at != std::string_view::npos; at = output.find(kStepTag, at + 1)) {
        if (at != 0 && output[at - 1] != '\n') continue;
        const std::size_t begin = at + kStepTag.size();
        std::size_t end = output.find('\n', begin);
        if (end == std::string_view::npos) break;
        if (end > begin && output[end - 1] == '\r') --end;
        const std::size_t space = output.find(' ', begin);
        if (space >= end || space == begin) continue;
        std::size_t index = 0;
        bool digits = true;
        for (std::size_t i = begin; i < space; ++i) {
            digits = digits && output[i] >= '0' && output[i] <= '9';
            index = index * 10 + static_cast<std::size_t>(output[i] - '0');
        }
        if (digits) last = StepAt{index, std::string(output.substr(space + 1, end - space - 1))};
    }
    return last;
}

}  // namespace sapphost
