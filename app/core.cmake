# The portable identification flow (no Windows headers): built by every toolchain. The Windows
# program implements its ports; the unit tests drive it with fakes.
add_library(zynflow STATIC
  ${CMAKE_CURRENT_LIST_DIR}/identification_flow.cpp
  ${CMAKE_CURRENT_LIST_DIR}/language_library.cpp
  ${CMAKE_CURRENT_LIST_DIR}/program_name.cpp)
target_include_directories(zynflow PUBLIC ${CMAKE_SOURCE_DIR})
# The flow clears the board identity with the reader's shared empty text.
target_link_libraries(zynflow PUBLIC dmi)
if(ZYN_WINDOWS)
  zyn_runtime_code(zynflow)
endif()
