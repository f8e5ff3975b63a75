# PE32 (i686) build: the shipped launcher.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER i686-w64-mingw32-gcc)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++)
set(CMAKE_RC_COMPILER i686-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# The shipped launcher must run on every CPU that 32-bit Windows ran on: the
# Pentium's instruction set, no cmov or later (i686 is the compiler's default).
set(CMAKE_C_FLAGS_INIT "-march=pentium")
set(CMAKE_CXX_FLAGS_INIT "-march=pentium")
