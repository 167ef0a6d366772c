# What both MinGW-w64 toolchain files share; they set _triple first.
set(CMAKE_SYSTEM_NAME Windows)

# Thread model of the compilers: posix for the tests (GoogleTest needs
# std::mutex), win32 for release builds (no winpthreads in the exe).
if(NOT KELCALIB_MINGW_THREADS)
  set(KELCALIB_MINGW_THREADS posix)
endif()
set(CMAKE_C_COMPILER ${_triple}-gcc-${KELCALIB_MINGW_THREADS})
set(CMAKE_CXX_COMPILER ${_triple}-g++-${KELCALIB_MINGW_THREADS})
set(CMAKE_RC_COMPILER ${_triple}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${_triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
