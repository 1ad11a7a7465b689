# SPDX-License-Identifier: MIT
# The Debian package: cpack -G DEB in the build folder.
set(TARVEX_PACKAGE_MAINTAINER "The Tarvex developers <maintainers@tarvex.invalid>" CACHE STRING
  "Maintainer field of the Debian package")

set(CPACK_PACKAGE_NAME tarvex)
set(CPACK_PACKAGE_VENDOR "The Tarvex developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_CONTACT "${TARVEX_PACKAGE_MAINTAINER}")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)  # tarvex_1.0.0_amd64.deb
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${TARVEX_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The synopsis line is CPACK_PACKAGE_DESCRIPTION_SUMMARY; CPack indents these lines and turns
# the empty one into the paragraph mark.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
"Tarvex drives a USB EPROM emulator that stands in for a 27C-series EPROM
(27C64 to 27C080) in a target board's ROM socket. It loads Intel HEX or
binary files into a 1 MiB ROM image, edits it in a hex editor, downloads it
to the emulator, reads it back, and runs, stops and resets the target.

The package holds the desktop program tarvex, the command-line tool
tarvexctl, the simulated emulator tarvex-sim, and udev rules that give the
user at the seat access to the emulator.")
# The libraries the programs link, from dpkg-shlibdeps.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
if(TARGET tarvex-sim)
  # tarvex-sim loads umockdev's preload library at run time; no binary links it.
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "umockdev")
endif()
# Reloads the udev rules after install and removal.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
  ${PROJECT_SOURCE_DIR}/packaging/debian/postinst
  ${PROJECT_SOURCE_DIR}/packaging/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

set(CPACK_GENERATOR DEB)
set(CPACK_SOURCE_GENERATOR TGZ)
set(CPACK_SOURCE_IGNORE_FILES "/\\\\.git/" "/build[^/]*/" "/\\\\.ci/")
include(CPack)
