#pragma once

#include <optional>
#include <ostream>
#include <string>

#include "Options.h"

namespace vx::rc::vault_accessor {

inline constexpr int kExitOptionsError = 64;
inline constexpr int kExitConfigFileUnreadable = 70;

// The end of the options phase: the options to run with, or the status to end the process
// with (0 after the help, kExitOptionsError, kExitConfigFileUnreadable).
struct OptionsOutcome {
    std::optional<Options> options;
    int exitStatus = 0;
};

// Reads the command line, then the configuration file, answers "help" and reports errors
// on `out` and `err`. Nothing else is read or written.
OptionsOutcome parseOptions(int argc, const char* const* argv, std::ostream& out,
                            std::ostream& err);

// As above with another default configuration file, so tests never touch the agent's.
OptionsOutcome parseOptions(int argc, const char* const* argv, std::ostream& out,
                            std::ostream& err, const std::string& defaultConfigFile);

}  // namespace vx::rc::vault_accessor
