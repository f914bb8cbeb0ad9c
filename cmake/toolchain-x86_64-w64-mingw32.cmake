# Cross build for 64-bit Windows with MinGW-w64. The stub ships as a 32-bit
# program; this build runs the same Win32 code and tests under 64-bit Wine on
# machines whose kernel runs no 32-bit programs.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(SFX_MINGW_PREFIX x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)

# Debian's "wine" starts the 32-bit loader whenever it is installed, so the
# 64-bit loader is named directly.
find_program(SFX_WINE NAMES wine64 PATHS /usr/lib/wine NO_DEFAULT_PATH)
if(NOT SFX_WINE)
  find_program(SFX_WINE NAMES wine64 wine)
endif()
if(SFX_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${SFX_WINE})
endif()
