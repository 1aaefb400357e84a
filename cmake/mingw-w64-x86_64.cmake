# Cross-compiles a 64-bit Windows program on Debian with MinGW-w64
# (packages g++-mingw-w64-x86-64 and libz-mingw-w64-dev):
#   cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(VELLICO_MINGW_TRIPLET x86_64-w64-mingw32)
# The POSIX thread model gives the full C++ library; -static below keeps its
# thread library inside the program.
set(CMAKE_C_COMPILER ${VELLICO_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VELLICO_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${VELLICO_MINGW_TRIPLET}-windres)

# Debian ships no MinGW builds of Nettle, libpng, libidn and HarfBuzz:
# scripts/mingw-nettle.sh, scripts/mingw-libpng.sh, scripts/mingw-idn.sh and
# scripts/mingw-harfbuzz.sh make them, whose prefixes are passed as the list
# VELLICO_MINGW_LIBS.
set(CMAKE_FIND_ROOT_PATH /usr/${VELLICO_MINGW_TRIPLET} ${VELLICO_MINGW_LIBS})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# One program needing nothing but Windows: static archives only (libz.a, not
# the import library of zlib1.dll), and the C++ runtime linked in.
set(ZLIB_USE_STATIC_LIBS ON)
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)
# Release programs without their symbols: a third of the size.
set(CMAKE_EXE_LINKER_FLAGS_RELEASE_INIT -s)

# Test programs built here are run with Wine.
find_program(VELLICO_WINE wine)
if(VELLICO_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${VELLICO_WINE})
endif()
