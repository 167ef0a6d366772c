# Cross-compiling for 64-bit Windows with MinGW-w64. Test executables run
# under Wine.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(_triple x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)

# Wine runs the tests (the top CMakeLists.txt requires it for them); a build
# without tests needs none.
find_program(KELCALIB_WINE wine)
if(KELCALIB_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${KELCALIB_WINE})
endif()
