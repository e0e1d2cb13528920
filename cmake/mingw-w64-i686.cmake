# Cross-builds the Windows plug-in library for 32-bit Windows with Debian's
# MinGW-w64. The compiler's default x87 arithmetic rounds differently from
# every other build, so float work goes through SSE2 (model/Numeric.h refuses
# to build otherwise).
set(CMAKE_SYSTEM_PROCESSOR i686)
set(QUORVEX_MINGW_TRIPLE i686-w64-mingw32)
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse")
include(${CMAKE_CURRENT_LIST_DIR}/MingwToolchain.cmake)
