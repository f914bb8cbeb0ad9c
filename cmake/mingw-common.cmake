# The parts of the MinGW-w64 cross builds that both toolchain files share;
# each sets CMAKE_SYSTEM_PROCESSOR and SFX_MINGW_PREFIX first. The -posix
# thread model is the one GoogleTest needs.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${SFX_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${SFX_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${SFX_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${SFX_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
