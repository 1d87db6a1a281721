# The release archive of a Windows build: `cpack -G ZIP` (or the `package` target) in the build
# folder writes fwloader-<version>-win32.zip (win64 for the 64-bit test build). It holds what
# `cmake --install` installs, fwloader.exe and sumseal.dll, and README.txt with Windows line
# ends, all at the top of the archive: Explorer's "Extract All" already makes the folder.
# README.txt goes into the archive only, not into the install folder.
set(FW_PACKAGE_EXTRA_DIR ${PROJECT_BINARY_DIR}/package-extra)
configure_file(${PROJECT_SOURCE_DIR}/app/win32/README.txt.in ${FW_PACKAGE_EXTRA_DIR}/README.txt
               @ONLY NEWLINE_STYLE CRLF)

if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(fw_package_arch win32)
else()
  set(fw_package_arch win64)
endif()
set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME fwloader)
set(CPACK_PACKAGE_VENDOR "Korvane Storage")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_FILE_NAME fwloader-${PROJECT_VERSION}-${fw_package_arch})
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
set(CPACK_INSTALLED_DIRECTORIES ${FW_PACKAGE_EXTRA_DIR} .)
set(CPACK_STRIP_FILES OFF)
include(CPack)
