# Cross-compiling for 32-bit Windows with MinGW-w64.
# Release builds only; the test suites run from the 64-bit preset.
set(CMAKE_SYSTEM_PROCESSOR x86)
set(_triple i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)

find_program(KELCALIB_WINE wine)
if(KELCALIB_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${KELCALIB_WINE})
endif()
