# Shared CMake helpers: GoogleTest set-up and one function to declare a test.

include(GoogleTest)

# Native builds use the installed GoogleTest; cross builds compile it from the sources that
# Debian's googletest package ships, so the same suites can run under Wine.
macro(fw_setup_googletest)
  if(CMAKE_CROSSCOMPILING)
    set(FW_GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources for cross builds")
    set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
    set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    add_subdirectory(${FW_GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/_googletest EXCLUDE_FROM_ALL)
    foreach(t gtest gtest_main gmock gmock_main)
      if(TARGET ${t})
        target_compile_options(${t} PRIVATE -w)
        if(NOT TARGET GTest::${t})
          add_library(GTest::${t} ALIAS ${t})
        endif()
      endif()
    endforeach()
  else()
    find_package(GTest REQUIRED)
  endif()
endmacro()

# fw_add_test(NAME SOURCES a.cpp b.cpp LIBS lib1 lib2)
# Builds one GoogleTest program and registers each of its tests with CTest.
function(fw_add_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gmock GTest::gtest_main)
  if(CMAKE_CROSSCOMPILING)
    target_link_options(${name} PRIVATE -static)
  else()
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 30)
  endif()
endfunction()
