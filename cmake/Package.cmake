# The Linux package of the suite, built by CPack:
#
#   KREVOL_SUITE_PUBLIC_KEY=<the maker's key> cmake --preset release && cmake --build --preset release &&
#     (cd build/release && cpack -G DEB)
#
# The package's suite checks the PC suite packages it installs with that key; a tree configured
# without it fails (cmake/SuiteKey.cmake) unless it is a development build (KREVOL_DEV_UNSIGNED_SUITE).
#
# Layout below the installation prefix (/usr in the package):
#   lib/krevol-pc-suite/          KrevolRegist, krevolctl and uninstall.sh (the "Uninstall" mode runs
#                                 "/bin/sh <program folder>/uninstall.sh")
#   bin/krevol-pc-suite           link to lib/krevol-pc-suite/KrevolRegist
#   bin/krevolctl                 link to lib/krevol-pc-suite/krevolctl
#   share/applications/krevol-pc-suite.desktop
#   share/icons/hicolor/64x64/apps/krevol-pc-suite.png   the program icon drawn by the skin generator
#   share/doc/krevol-pc-suite/    copyright and the licence of the embedded font
# The links resolve to the program folder, so the program finds uninstall.sh beside itself. The
# installed program folder is not writable by its user; the program then keeps its working folders
# in the user's cache folder (app/folders.h). Tests and the sandbox are not installed.

set(KREVOL_PACKAGE_NAME "krevol-pc-suite")
set(KREVOL_INSTALL_PROGRAM_DIR "lib/${KREVOL_PACKAGE_NAME}" CACHE STRING
  "Folder of the installed programs, below the installation prefix")
set(KREVOL_PACKAGE_MAINTAINER "Krevol Technology Co,.Ltd <support@krevol.com>" CACHE STRING
  "Maintainer field of the Debian package")

set(KREVOL_PACKAGING_DIR ${PROJECT_BINARY_DIR}/packaging)

# The executables are installed by app/ and cli/ into KREVOL_INSTALL_PROGRAM_DIR; the rest is here.
set(KREVOL_PROGRAM_NAME KrevolRegist)
configure_file(${PROJECT_SOURCE_DIR}/packaging/uninstall.sh.in ${KREVOL_PACKAGING_DIR}/uninstall.sh @ONLY)
install(PROGRAMS ${KREVOL_PACKAGING_DIR}/uninstall.sh DESTINATION ${KREVOL_INSTALL_PROGRAM_DIR})

# Relative links in bin/ to the programs, made in the build tree and installed as links.
file(RELATIVE_PATH krevol_bin_to_programs /prefix/bin /prefix/${KREVOL_INSTALL_PROGRAM_DIR})
file(MAKE_DIRECTORY ${KREVOL_PACKAGING_DIR}/bin)
foreach(link IN ITEMS "${KREVOL_PACKAGE_NAME}:KrevolRegist" "krevolctl:krevolctl")
  string(REPLACE ":" ";" link "${link}")
  list(GET link 0 link_name)
  list(GET link 1 link_target)
  if(link_target STREQUAL "KrevolRegist" AND NOT KREVOL_BUILD_GUI)
    continue()
  endif()
  file(CREATE_LINK ${krevol_bin_to_programs}/${link_target} ${KREVOL_PACKAGING_DIR}/bin/${link_name} SYMBOLIC)
  install(FILES ${KREVOL_PACKAGING_DIR}/bin/${link_name} DESTINATION bin)
endforeach()

if(KREVOL_BUILD_GUI)
  configure_file(${PROJECT_SOURCE_DIR}/packaging/krevol-pc-suite.desktop.in
    ${KREVOL_PACKAGING_DIR}/${KREVOL_PACKAGE_NAME}.desktop @ONLY)
  install(FILES ${KREVOL_PACKAGING_DIR}/${KREVOL_PACKAGE_NAME}.desktop DESTINATION share/applications)
  # Picture 317 (kProgramIcon, 64 x 64) of the skin drawn at build time by ui/skin_generator.
  install(FILES ${PROJECT_BINARY_DIR}/ui/skin/png/317.png
    DESTINATION share/icons/hicolor/64x64/apps RENAME ${KREVOL_PACKAGE_NAME}.png)
endif()
install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright ${PROJECT_SOURCE_DIR}/resources/fonts/LICENSE-LiberationSans.txt
  DESTINATION share/doc/${KREVOL_PACKAGE_NAME})

set(CPACK_GENERATOR "DEB")
set(CPACK_PACKAGE_NAME "${KREVOL_PACKAGE_NAME}")
set(CPACK_PACKAGE_VENDOR "Krevol Technology Co,.Ltd")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_CONTACT "${KREVOL_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Krevol PC Suite: software manager of Krevol key-programming tools")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION "utils")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
# The first line of the package's description is CPACK_PACKAGE_DESCRIPTION_SUMMARY; this follows it.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
  "The desktop companion of a hand-held key-programming tool: it signs the user in to the maker's\n\
account server, recognises the tool from the serial number on its SD card, lists the vehicle\n\
software that belongs on it and installs the chosen packages onto the card. krevolctl does the\n\
same from the command line.")
# The libraries the programs link are found by dpkg-shlibdeps (Qt 6, libcurl, minizip, zlib,
# OpenSSL, the C++ runtime); Qt's platform plugins are loaded at run time, so they are named here.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-wqy-microhei, pkexec")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
