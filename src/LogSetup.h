#pragma once

#include "Options.h"

namespace vx::rc::vault_accessor {

inline constexpr const char* kMainLogFileName = "vx-vault-accessor.log";
inline constexpr const char* kWarnLogFileName = "vx-vault-accessor.warn";

// Creates the main and the warning log in the options' log directory. Throws
// std::runtime_error when a log that should exist could not be opened, because log4cxx
// itself only reports that on stderr and carries on without the file.
void setUpLogs(const Options& options);

}  // namespace vx::rc::vault_accessor
