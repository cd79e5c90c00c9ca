# Cross-compiles for 64-bit Windows with mingw-w64 on a Linux build machine; the tests run
# under Wine (cmake/wine-run.sh).
#
#   cmake --preset win64    or    cmake -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake ...
#
# The posix-thread compilers are used because the win32 thread model has no std::mutex, which
# GoogleTest needs. Everything is linked statically, so the exes need no compiler DLLs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(VELQUOR_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER   ${VELQUOR_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VELQUOR_MINGW_TRIPLET}-g++-posix)
set(CMAKE_ASM_COMPILER ${VELQUOR_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_RC_COMPILER  ${VELQUOR_MINGW_TRIPLET}-windres)

# Headers, libraries and packages come from the mingw-w64 sysroot only; programs (the host
# tools, Wine) from the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${VELQUOR_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Wide-character Windows API everywhere (RT_RCDATA and friends are narrow strings otherwise),
# in code and in resource scripts alike.
set(CMAKE_C_FLAGS_INIT   "-DUNICODE -D_UNICODE")
set(CMAKE_CXX_FLAGS_INIT "-DUNICODE -D_UNICODE")
set(CMAKE_RC_FLAGS_INIT  "-DUNICODE -D_UNICODE")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# Test executables (add_test with a target as command) run through Wine with the build
# folder's own prefix.
set(CMAKE_CROSSCOMPILING_EMULATOR /bin/sh ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh)
