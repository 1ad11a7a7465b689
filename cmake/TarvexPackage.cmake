# SPDX-License-Identifier: MIT
# The Debian packages, one per install component: cpack -G DEB in a build folder configured
# with the prefix /usr (scripts/package.sh does both) gives tarvex_VERSION_ARCH.deb and
# tarvex-sim_VERSION_ARCH.deb. TARVEX_PACKAGE_MAINTAINER and TARVEX_PACKAGE_HOMEPAGE are set in
# TarvexInstall.cmake.

set(CPACK_PACKAGE_NAME tarvex)
set(CPACK_PACKAGE_VENDOR "The Tarvex developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
# Empty: each package's description below starts with its own synopsis line, which CPackDeb
# would otherwise put after this shared one.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "")
set(CPACK_PACKAGE_CONTACT "${TARVEX_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL tarvex)
if(TARGET tarvex-sim)
  list(APPEND CPACK_COMPONENTS_ALL sim)
endif()
if(TARGET tarvex_python)
  list(APPEND CPACK_COMPONENTS_ALL python)
endif()
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)  # tarvex_VERSION_ARCH.deb and the others
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${TARVEX_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${TARVEX_PACKAGE_HOMEPAGE}")
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The libraries the programs link, from dpkg-shlibdeps.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

# CPackDeb indents the lines after the first and turns the empty one into the paragraph mark.
set(CPACK_DEBIAN_TARVEX_PACKAGE_NAME tarvex)
set(CPACK_DEBIAN_TARVEX_DESCRIPTION
"control program of a USB EPROM emulator
Tarvex drives a USB EPROM emulator that stands in for a 27C-series EPROM
(27C64 to 27C080) in a target board's ROM socket. It loads Intel HEX,
S-record, Tektronix or binary files into a 1 MiB ROM image, edits it in a
hex editor, downloads it to the emulator, reads it back, and runs, stops and
resets the target.

The package holds the desktop program tarvex, the command-line tool
tarvexctl for shells and build scripts, and udev rules that give the user
at the seat access to the emulator.")
if(TARGET tarvex-sim)
  set(CPACK_DEBIAN_TARVEX_PACKAGE_SUGGESTS "tarvex-sim (= ${PROJECT_VERSION})")
endif()
# Reloads the udev rules after install and removal, and applies them to the emulators'
# USB ids (taken from the rules in TarvexInstall.cmake).
list(JOIN TARVEX_UDEV_IDS " " TARVEX_UDEV_IDS_SH)
configure_file(${PROJECT_SOURCE_DIR}/packaging/debian/postinst.in
  ${CMAKE_BINARY_DIR}/packaging/debian/postinst @ONLY)
set(CPACK_DEBIAN_TARVEX_PACKAGE_CONTROL_EXTRA
  ${CMAKE_BINARY_DIR}/packaging/debian/postinst
  ${PROJECT_SOURCE_DIR}/packaging/debian/postrm)

set(CPACK_DEBIAN_SIM_PACKAGE_NAME tarvex-sim)
# Built from the same source as tarvex: its changelog is tarvex's.
set(CPACK_DEBIAN_SIM_PACKAGE_SOURCE tarvex)
set(CPACK_DEBIAN_SIM_DESCRIPTION
"simulated USB EPROM emulator for Tarvex
tarvex-sim runs a program against simulated Tarvex EPROM emulators, attached
through umockdev without root or kernel modules. The program reaches them
through the same libusb calls as a real emulator, so tarvex and tarvexctl can
be tried, and scripts tested, without hardware. Faults such as an unplugged
cable, a stalled endpoint or a time-out can be simulated, and every transfer
logged.")
# tarvex-sim puts umockdev's preload library under the program at run time; the library it
# links comes in through dpkg-shlibdeps. It runs any program, so tarvex is only recommended.
set(CPACK_DEBIAN_SIM_PACKAGE_DEPENDS "umockdev")
set(CPACK_DEBIAN_SIM_PACKAGE_RECOMMENDS "tarvex (= ${PROJECT_VERSION})")

if(TARGET tarvex_python)
  set(CPACK_DEBIAN_PYTHON_PACKAGE_NAME python3-tarvex)
  set(CPACK_DEBIAN_PYTHON_PACKAGE_SOURCE tarvex)
  set(CPACK_DEBIAN_PYTHON_PACKAGE_SECTION python)
  set(CPACK_DEBIAN_PYTHON_DESCRIPTION
"Python module for Tarvex USB EPROM emulators
The module tarvex drives Tarvex EPROM emulators from Python, for test rigs
and scripts: ROM images loaded from Intel HEX, S-record, Tektronix or binary
files and placed at their ROM addresses, downloads of whole images or of the
changed blocks only, read-back and compare, 16-bit pairs, and exceptions that
carry the cause of a failure.")
  # The module is built for one Python minor version; it links no libpython, so
  # dpkg-shlibdeps cannot tell.
  math(EXPR _python_next_minor "${Python_VERSION_MINOR} + 1")
  set(CPACK_DEBIAN_PYTHON_PACKAGE_DEPENDS
    "python3 (>= ${Python_VERSION_MAJOR}.${Python_VERSION_MINOR}), python3 (<< ${Python_VERSION_MAJOR}.${_python_next_minor})")
  set(CPACK_DEBIAN_PYTHON_PACKAGE_SUGGESTS "tarvex-sim (= ${PROJECT_VERSION})")
endif()

# The udev path in messages and the installed README is the configured prefix's.
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_BINARY_DIR}/TarvexCPackOptions.cmake)
file(WRITE ${CPACK_PROJECT_CONFIG_FILE} "
if(CPACK_GENERATOR STREQUAL \"DEB\" AND NOT \"${CMAKE_INSTALL_PREFIX}\" STREQUAL CPACK_PACKAGING_INSTALL_PREFIX)
  message(FATAL_ERROR \"The build was configured with CMAKE_INSTALL_PREFIX=${CMAKE_INSTALL_PREFIX}; \"
    \"a package needs -DCMAKE_INSTALL_PREFIX=\${CPACK_PACKAGING_INSTALL_PREFIX} (scripts/package.sh sets it)\")
endif()
")

set(CPACK_GENERATOR DEB)
set(CPACK_SOURCE_GENERATOR TGZ)
set(CPACK_SOURCE_IGNORE_FILES "/\\\\.git/" "/build[^/]*/" "/\\\\.ci/")
include(CPack)
