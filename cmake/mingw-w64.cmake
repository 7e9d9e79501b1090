# Cross-compiling for 64-bit Windows with mingw-w64 (Debian's g++-mingw-w64-x86-64-posix).
# The posix flavour is the one with std::thread and std::mutex.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(ZARN60_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${ZARN60_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZARN60_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${ZARN60_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${ZARN60_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The programs run on machines without the compiler's runtime DLLs (and under wine).
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
