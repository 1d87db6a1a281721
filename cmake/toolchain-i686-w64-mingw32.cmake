# 32-bit Windows build: the deliverables themselves (PE32).
set(CMAKE_SYSTEM_PROCESSOR x86)
set(TOOLCHAIN_PREFIX i686-w64-mingw32)
# The win32 thread model: the deliverables need no threading runtime DLL and run on Windows 95.
set(TOOLCHAIN_THREADS win32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
