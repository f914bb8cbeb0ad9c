# Cross build for 32-bit Windows with MinGW-w64. Test executables run under
# Wine.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(SFX_MINGW_PREFIX i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)

find_program(SFX_WINE NAMES wine)
if(SFX_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${SFX_WINE})
endif()
