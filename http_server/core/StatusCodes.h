#pragma once

#include <cstdint>
#include <string_view>

namespace vx::rc::core {

// "200 OK", "404 Not Found", ...; empty for a code the table does not know.
std::string_view statusLineText(int32_t statusCode);

}  // namespace vx::rc::core
