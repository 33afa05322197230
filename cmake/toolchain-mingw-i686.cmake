# Cross-build for 32-bit Windows (the product: QUORVEX.dll) with mingw-w64.
set(QVX_MINGW_TRIPLE i686-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR x86)
include(${CMAKE_CURRENT_LIST_DIR}/windows/mingw-toolchain.cmake)

# SSE2 arithmetic, as on x86-64, so that results are bit-identical to the
# Linux build. Callers built by other compilers keep the stack 4-byte
# aligned only; functions that need more realign it themselves.
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse -mincoming-stack-boundary=2")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse -mincoming-stack-boundary=2")
