# Included into a configure run (CMAKE_PROJECT_INCLUDE) to stand for a machine without the test
# packages: the first lookup of GoogleTest, Google Benchmark or clang-format fails the run, so a
# tools-only build that still reaches for them is caught even where they are installed.
macro(find_package zyn_package)
  if("${zyn_package}" MATCHES "^(GTest|GMock|benchmark)$")
    message(FATAL_ERROR "a build without tests looked for the package ${zyn_package}")
  endif()
  _find_package(${ARGV})
endmacro()

# A function, not a macro: the lookups CMake's own modules make carry registry paths whose
# backslashes a macro's text substitution would turn into escapes. The result is a cache entry
# and so reaches the caller anyway; the normal variable is passed up as well.
function(find_program zyn_result)
  if("${ARGN}" MATCHES "clang-format")
    message(FATAL_ERROR "a build without tests looked for clang-format")
  endif()
  _find_program(${zyn_result} ${ARGN})
  set(${zyn_result} "${${zyn_result}}" PARENT_SCOPE)
endfunction()
