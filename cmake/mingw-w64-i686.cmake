# Toolchain for 32-bit Windows console programs with Debian's mingw-w64
# (g++-mingw-w64-i686), linked statically so they need no DLL but the system's.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(QSCAN_MINGW_PREFIX i686-w64-mingw32)
set(CMAKE_C_COMPILER ${QSCAN_MINGW_PREFIX}-gcc)
set(CMAKE_CXX_COMPILER ${QSCAN_MINGW_PREFIX}-g++)
set(CMAKE_RC_COMPILER ${QSCAN_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${QSCAN_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")  # qscan.dll too: no DLL but the system's
