# Warnings for our own targets; third-party code is built elsewhere without them.
add_library(vx_warnings INTERFACE)
target_compile_options(vx_warnings INTERFACE -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor
  -Wold-style-cast -Wcast-align -Woverloaded-virtual -Wnull-dereference)
if(VX_WERROR)
  target_compile_options(vx_warnings INTERFACE -Werror)
endif()

if(VX_SANITIZE)
  # GCC 12 reports false "may be used uninitialized" inside <regex> and <functional> once
  # the sanitizers' instrumentation is inlined; the plain build keeps the warning.
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    target_compile_options(vx_warnings INTERFACE -Wno-maybe-uninitialized)
  endif()
  add_compile_options(-fsanitize=${VX_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${VX_SANITIZE})
  # Breakpad's handler and the sanitizers both want the fatal signals.
  add_compile_definitions(VX_NO_CRASH_HANDLER=1)
endif()

# Attach our warning set to a target.
function(vx_target_warnings target)
  target_link_libraries(${target} PRIVATE vx_warnings)
endfunction()

# One static library per layer from the .cpp files of a folder.
function(vx_layer_library name dir)
  file(GLOB _sources CONFIGURE_DEPENDS "${dir}/*.cpp")
  if(NOT _sources)
    # A layer still being written; keeps the tree configurable.
    set(_sources "${CMAKE_BINARY_DIR}/vx_empty.cpp")
    file(WRITE "${_sources}" "")
  endif()
  add_library(${name} STATIC ${_sources})
  set_target_properties(${name} PROPERTIES LINKER_LANGUAGE CXX)
  vx_target_warnings(${name})
endfunction()
