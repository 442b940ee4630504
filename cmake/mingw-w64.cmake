# Cross build for 64-bit Windows with the posix-thread mingw-w64 compilers;
# tests run under Wine through cmake/wine-run.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(WREN_MINGW x86_64-w64-mingw32)

set(CMAKE_C_COMPILER ${WREN_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${WREN_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER ${WREN_MINGW}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${WREN_MINGW})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Link zlib statically so each exe stands alone.
set(ZLIB_USE_STATIC_LIBS ON)
set(ZLIB_LIBRARY /usr/${WREN_MINGW}/lib/libz.a CACHE FILEPATH "")
set(ZLIB_INCLUDE_DIR /usr/${WREN_MINGW}/include CACHE PATH "")

set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run)
