# Cross toolchain for the shipped 32-bit Windows programs (mingw-w64, i686).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(ZYN_MINGW_PREFIX i686-w64-mingw32)
set(CMAKE_C_COMPILER ${ZYN_MINGW_PREFIX}-gcc)
set(CMAKE_CXX_COMPILER ${ZYN_MINGW_PREFIX}-g++)
set(CMAKE_RC_COMPILER ${ZYN_MINGW_PREFIX}-windres)

# The compiler's default processor is the Pentium Pro, whose conditional moves end a program on
# the 386 and 486 machines that Windows 95 and NT 4.0 still run on with an invalid instruction.
set(CMAKE_C_FLAGS_INIT "-march=i386 -mtune=generic")
set(CMAKE_CXX_FLAGS_INIT "-march=i386 -mtune=generic")

set(CMAKE_FIND_ROOT_PATH /usr/${ZYN_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# Programs run under Wine when a test executes them.
find_program(ZYN_WINE wine)
if(ZYN_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${ZYN_WINE})
endif()
