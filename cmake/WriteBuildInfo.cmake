# Writes BuildInfo.h with the version and the git commit id; rewrites only on change.
execute_process(COMMAND git rev-parse --verify HEAD
  WORKING_DIRECTORY "${SOURCE_DIR}"
  OUTPUT_VARIABLE revision OUTPUT_STRIP_TRAILING_WHITESPACE
  RESULT_VARIABLE rc ERROR_QUIET)
if(NOT rc EQUAL 0 OR NOT revision MATCHES "^[0-9a-f]+$")
  # Not built from a git checkout: forty zeros keep the shape and say "unknown".
  set(revision "0000000000000000000000000000000000000000")
endif()
set(content "#pragma once\n// Generated at build time.\nnamespace vx::build {\ninline constexpr const char* kVersion = \"${VERSION_TEXT}\";\ninline constexpr const char* kSourceRevision = \"${revision}\";\n}\n")
if(EXISTS "${OUTPUT}")
  file(READ "${OUTPUT}" old)
endif()
if(NOT "${old}" STREQUAL "${content}")
  file(WRITE "${OUTPUT}" "${content}")
endif()
