# 64-bit Windows build of the same sources (PE32+), run under wine64 in the end-to-end tests.
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(TOOLCHAIN_PREFIX x86_64-w64-mingw32)
# The POSIX thread model: the GoogleTest suites that run under wine64 need std::mutex, which the
# win32 thread model of this mingw lacks. Its runtime is linked statically (see CMakeLists.txt).
set(TOOLCHAIN_THREADS posix)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
