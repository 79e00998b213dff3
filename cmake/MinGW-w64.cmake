# Cross-compiles the Windows console build with MinGW-w64 (Debian's
# g++-mingw-w64-x86-64-posix). Linked statically, so sales_tally.exe needs no
# MinGW runtime DLLs beside it.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT -static)

# The tests run the Windows programs under Wine, where there is one; Debian
# keeps its wine64 out of PATH.
find_program(SALES_TALLY_WINE NAMES wine64 wine PATHS /usr/lib/wine)
if(SALES_TALLY_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR "${SALES_TALLY_WINE}")
endif()
