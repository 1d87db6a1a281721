# Installing the Linux program like any package: `cmake --install` puts fwloader in bin/, the
# library it loads (libsumseal.so) in a private folder (lib/<multiarch>/fwloader/) that the program's RUNPATH
# names relative to itself, the manual page and the bash completion in their standard places,
# and the copyright and change notes in share/doc/fwloader/. `cpack -G DEB` in the build folder
# makes a Debian package of the same files (the Windows builds package with FwWindowsPackage).
include(GNUInstallDirs)

# A private library in the multiarch folder (lib/x86_64-linux-gnu/fwloader on Debian): no
# other program links it, so it is not on the loader's search path.
if(CMAKE_LIBRARY_ARCHITECTURE)
  set(FW_PRIVATE_LIBDIR lib/${CMAKE_LIBRARY_ARCHITECTURE}/fwloader)
else()
  set(FW_PRIVATE_LIBDIR lib/fwloader)
endif()
# Hardened as Debian builds its packages: the installed program and library bind every symbol
# at start and keep their relocations read-only after it (-z relro -z now), and where the build
# optimises, the C library's fortified functions check buffer sizes (_FORTIFY_SOURCE=2) in all
# of the program's own code: every library of its link closure. Sanitizer builds keep their own
# checks instead, and an unoptimised build cannot fortify.
function(fw_harden_closure target)
  get_target_property(aliased ${target} ALIASED_TARGET)
  if(aliased)
    set(target ${aliased})
  endif()
  get_target_property(type ${target} TYPE)
  get_target_property(imported ${target} IMPORTED)
  if(imported OR NOT type MATCHES "^(EXECUTABLE|STATIC_LIBRARY|SHARED_LIBRARY)$")
    return()
  endif()
  get_property(done GLOBAL PROPERTY FW_HARDENED)
  if(target IN_LIST done)
    return()
  endif()
  set_property(GLOBAL APPEND PROPERTY FW_HARDENED ${target})
  if(NOT FWLOADER_SANITIZE)
    target_compile_options(${target} PRIVATE
      $<$<CONFIG:Release,RelWithDebInfo,MinSizeRel>:-U_FORTIFY_SOURCE -D_FORTIFY_SOURCE=2>)
  endif()
  get_target_property(links ${target} LINK_LIBRARIES)
  if(links)
    foreach(link IN LISTS links)
      if(TARGET ${link})
        fw_harden_closure(${link})
      endif()
    endforeach()
  endif()
endfunction()
foreach(target fwloader sumseal)
  fw_harden_closure(${target})
  target_link_options(${target} PRIVATE -Wl,-z,relro -Wl,-z,now)
endforeach()

set_target_properties(fwloader PROPERTIES INSTALL_RPATH "$ORIGIN/../${FW_PRIVATE_LIBDIR}")
install(TARGETS fwloader RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS sumseal LIBRARY DESTINATION ${FW_PRIVATE_LIBDIR}
        PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)

# Manual page and change notes are installed compressed, as Debian expects: gzip -n keeps the
# build's time out of them, so the package is the same from build to build.
set(FW_LINUX_SHARE ${PROJECT_SOURCE_DIR}/app/console/share)
set(FW_PACKAGE_FILES ${PROJECT_BINARY_DIR}/package-linux)
configure_file(${FW_LINUX_SHARE}/fwloader.1.in ${FW_PACKAGE_FILES}/fwloader.1 @ONLY)
configure_file(${FW_LINUX_SHARE}/changelog.in ${FW_PACKAGE_FILES}/changelog @ONLY)
find_program(FW_GZIP gzip REQUIRED)
add_custom_command(
  OUTPUT ${FW_PACKAGE_FILES}/fwloader.1.gz ${FW_PACKAGE_FILES}/changelog.gz
  COMMAND ${FW_GZIP} -9 -n -f -k ${FW_PACKAGE_FILES}/fwloader.1
  COMMAND ${FW_GZIP} -9 -n -f -k ${FW_PACKAGE_FILES}/changelog
  DEPENDS ${FW_PACKAGE_FILES}/fwloader.1 ${FW_PACKAGE_FILES}/changelog
  COMMENT "Compressing the manual page and the change notes")
add_custom_target(fwloader_docs ALL
                  DEPENDS ${FW_PACKAGE_FILES}/fwloader.1.gz ${FW_PACKAGE_FILES}/changelog.gz)

set(fw_file_mode OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
install(FILES ${FW_PACKAGE_FILES}/fwloader.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
        PERMISSIONS ${fw_file_mode})
install(FILES ${FW_LINUX_SHARE}/fwloader.bash-completion
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/bash-completion/completions RENAME fwloader
        PERMISSIONS ${fw_file_mode})
install(FILES ${FW_LINUX_SHARE}/copyright ${FW_PACKAGE_FILES}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DOCDIR} PERMISSIONS ${fw_file_mode})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME fwloader)
set(CPACK_PACKAGE_VENDOR "Korvane Storage")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "fwloader maintainers <fwloader@korvane.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "firmware updater for the KORVADSK RW/DVD KDR-7305C drive")
set(CPACK_PACKAGE_DESCRIPTION
    "fwloader lists the optical drives, checks a firmware file without a drive,\n"
    "and updates the firmware of a KORVADSK RW/DVD KDR-7305C CD-RW/DVD combo\n"
    "drive after a confirmation, reporting the drive's revision before and after.\n"
    "It speaks to the drive through the kernel's SCSI generic interface (SG_IO)\n"
    "and writes its results as text or JSON.")
string(REPLACE ";" "" CPACK_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# dpkg-shlibdeps finds the libraries the program links; the sense decoding's is named as well,
# so that the dependency stays where a build runs without dpkg-shlibdeps.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libsgutils2-1.46-2")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
include(CPack)
