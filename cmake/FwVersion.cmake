# The version of the deliverables lives in one place, project(fwloader VERSION ...). This writes it
# into what the Windows files carry (build/<preset>/generated/): the version resource of
# fwloader.exe and sumseal.dll with the texts the dialogs share, and the program's manifest.
# Every build configures them: the native tests compile the resource script too.
set(FW_GENERATED_DIR ${PROJECT_BINARY_DIR}/generated)
configure_file(${PROJECT_SOURCE_DIR}/cmake/fw_version.h.in ${FW_GENERATED_DIR}/fw_version.h @ONLY)
configure_file(${PROJECT_SOURCE_DIR}/cmake/version_info.rc.in ${FW_GENERATED_DIR}/version_info.rc
               @ONLY)
configure_file(${PROJECT_SOURCE_DIR}/app/win32/fwloader.manifest.in
               ${FW_GENERATED_DIR}/fwloader.manifest @ONLY)

# The version for C++ sources (the terminal program and the tests): #include "fw_version.h".
add_library(fwversion INTERFACE)
target_include_directories(fwversion INTERFACE ${FW_GENERATED_DIR})
