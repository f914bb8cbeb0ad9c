# Cross build for 32-bit Windows with MinGW-w64 (the -posix thread model, which
# GoogleTest needs). Test executables run under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(SFX_MINGW_PREFIX i686-w64-mingw32)
set(CMAKE_C_COMPILER ${SFX_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${SFX_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${SFX_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${SFX_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

find_program(SFX_WINE NAMES wine)
if(SFX_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${SFX_WINE})
endif()
