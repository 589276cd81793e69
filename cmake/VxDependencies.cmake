find_package(Threads REQUIRED)
find_package(Boost 1.74 REQUIRED COMPONENTS program_options)
find_package(PkgConfig REQUIRED)
pkg_check_modules(JSONCPP REQUIRED IMPORTED_TARGET jsoncpp)
pkg_check_modules(LOG4CXX REQUIRED IMPORTED_TARGET liblog4cxx)
find_package(CURL REQUIRED)
find_package(OpenSSL REQUIRED)

# Breakpad's Linux client library, built by tools/setup.sh (tools/build-breakpad.sh).
set(VX_BREAKPAD_DIR "${VX_THIRD_PARTY_DIR}/breakpad")
if(NOT EXISTS "${VX_BREAKPAD_DIR}/lib/libbreakpad_client.a")
  message(FATAL_ERROR "Breakpad not found in ${VX_BREAKPAD_DIR}; run tools/setup.sh (make setup) first")
endif()
add_library(breakpad::client STATIC IMPORTED GLOBAL)
set_target_properties(breakpad::client PROPERTIES
  IMPORTED_LOCATION "${VX_BREAKPAD_DIR}/lib/libbreakpad_client.a"
  INTERFACE_INCLUDE_DIRECTORIES "${VX_BREAKPAD_DIR}/include"
  INTERFACE_LINK_LIBRARIES Threads::Threads)
set(VX_MINIDUMP_DUMP "${VX_BREAKPAD_DIR}/bin/minidump_dump")
