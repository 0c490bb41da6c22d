// The scenario `sapp-host run` plays without a file: a typical session.
#pragma once

namespace sapphost {

// Scenario text in the same JSON format as scenario files.
extern const char* const kBuiltinScenario;

}  // namespace sapphost
