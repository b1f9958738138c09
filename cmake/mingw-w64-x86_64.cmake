# Cross-compiles for 64-bit Windows with MinGW-w64. The posix thread model is required:
# GCC 12's win32 model has no std::mutex or std::thread.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(triple x86_64-w64-mingw32)
find_program(CMAKE_C_COMPILER NAMES ${triple}-gcc-posix ${triple}-gcc REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${triple}-g++-posix REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${triple}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Tests and other built programs run under Wine when it is there. Debian's wine64 package
# keeps its loader out of PATH; the "wine" wrapper picks it for 64-bit programs.
if(NOT CMAKE_CROSSCOMPILING_EMULATOR)
  find_program(velnor_wine NAMES wine wine64 PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
  if(velnor_wine)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${velnor_wine})
  endif()
endif()
