// The scenario `sapp-host run` plays without a file: a typical session.
#pragma once

#include <string>

namespace sapphost {

// Scenario text in the same JSON format as scenario files.
const std::string& builtinScenario();

}  // namespace sapphost
