# 32-bit Windows: built and checked here, not run (this kernel runs no 32-bit code).
set(MINGW_ARCH i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
