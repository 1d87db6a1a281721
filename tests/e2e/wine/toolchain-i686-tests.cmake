# The i686 build with the tests, for tests/e2e/wine/run.sh --i686: the deliverables' toolchain
# with the POSIX thread model, because GoogleTest needs std::mutex, which the win32 thread model
# of this mingw lacks (the win64 build does the same; the deliverables keep the win32 model).
include(${CMAKE_CURRENT_LIST_DIR}/../../../cmake/toolchain-i686-w64-mingw32.cmake)
set(CMAKE_C_COMPILER ${TOOLCHAIN_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TOOLCHAIN_PREFIX}-g++-posix)
