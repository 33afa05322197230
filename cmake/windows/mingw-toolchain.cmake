# Shared part of the mingw-w64 toolchain files; QVX_MINGW_TRIPLE names the
# target (i686-w64-mingw32 or x86_64-w64-mingw32).
set(CMAKE_SYSTEM_NAME Windows)

# The POSIX-threads flavour of the compilers: std::thread and std::mutex,
# which the tests use, need it with GCC 12.
find_program(QVX_MINGW_CC NAMES ${QVX_MINGW_TRIPLE}-gcc-posix ${QVX_MINGW_TRIPLE}-gcc REQUIRED)
find_program(QVX_MINGW_CXX NAMES ${QVX_MINGW_TRIPLE}-g++-posix ${QVX_MINGW_TRIPLE}-g++ REQUIRED)
find_program(QVX_MINGW_RC NAMES ${QVX_MINGW_TRIPLE}-windres)
set(CMAKE_C_COMPILER ${QVX_MINGW_CC})
set(CMAKE_CXX_COMPILER ${QVX_MINGW_CXX})
set(CMAKE_RC_COMPILER ${QVX_MINGW_RC})

set(CMAKE_FIND_ROOT_PATH /usr/${QVX_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Everything the compiler brings (libgcc, libstdc++, winpthreads) is linked
# in, so the DLLs and programs import nothing but system DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++ -static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++ -static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++ -static")
