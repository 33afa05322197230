# Cross-build for 64-bit Windows with mingw-w64; its programs run under Wine.
set(QVX_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
include(${CMAKE_CURRENT_LIST_DIR}/windows/mingw-toolchain.cmake)
