# SPDX-License-Identifier: MIT
# Install rules: the programs, the desktop integration, the udev rules, man pages, completion,
# and each package's documentation. Two install components, one per Debian package: "tarvex"
# (everything but the simulator) and "sim" (tarvex-sim, which needs umockdev).

# A system folder that pkg-config names (e.g. /lib/udev) as a path under the install prefix, so
# that a --prefix or DESTDIR install stays inside its folder. With the prefix /usr on a merged-/usr
# system (Debian 12) the two are the same folder; udev and bash-completion also read /usr/local.
function(tarvex_under_prefix out absolute)
  string(REGEX REPLACE "^/usr/" "" rel "${absolute}")
  string(REGEX REPLACE "^/" "" rel "${rel}")
  set(${out} "${rel}" PARENT_SCOPE)
endfunction()

find_package(PkgConfig QUIET)
set(_udevdir "/lib/udev")
set(_completionsdir "/usr/share/bash-completion/completions")
if(PKG_CONFIG_FOUND)
  pkg_get_variable(_pc_udevdir udev udevdir)
  if(_pc_udevdir)
    set(_udevdir "${_pc_udevdir}")
  endif()
  pkg_get_variable(_pc_completionsdir bash-completion completionsdir)
  if(_pc_completionsdir)
    set(_completionsdir "${_pc_completionsdir}")
  endif()
endif()
tarvex_under_prefix(_udev_rules_rel "${_udevdir}/rules.d")
tarvex_under_prefix(_completions_rel "${_completionsdir}")
set(TARVEX_UDEV_RULES_DIR "${_udev_rules_rel}" CACHE PATH
  "Where the udev rules go (relative: under the install prefix)")
set(TARVEX_BASH_COMPLETION_DIR "${_completions_rel}" CACHE PATH
  "Where the bash completion goes (relative: under the install prefix)")

# The installed rules file and how to apply it, for messages (tarvex_version.h) and the
# installed README. The prefix is the one configured: a package must be built with /usr.
set(_udev_rules_src ${PROJECT_SOURCE_DIR}/res/udev/70-tarvex.rules)
cmake_path(ABSOLUTE_PATH TARVEX_UDEV_RULES_DIR BASE_DIRECTORY "${CMAKE_INSTALL_PREFIX}"
  NORMALIZE OUTPUT_VARIABLE _udev_rules_abs)
cmake_path(APPEND _udev_rules_abs 70-tarvex.rules OUTPUT_VARIABLE TARVEX_UDEV_RULES_FILE)

# The emulators' ids, read from the rules, so that the post-install script and the hint
# re-apply the rules to those devices alone and follow the file when an id is added.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${_udev_rules_src})
file(STRINGS ${_udev_rules_src} _udev_rule_lines REGEX "^[^#].*idVendor")
set(TARVEX_UDEV_IDS "")
set(_udev_vendors "")
foreach(line IN LISTS _udev_rule_lines)
  if(NOT line MATCHES "ATTRS?\\{idVendor\\}==\"([0-9a-f]+)\".*ATTRS?\\{idProduct\\}==\"([0-9a-f]+)\"")
    message(FATAL_ERROR "70-tarvex.rules: no idVendor and idProduct in: ${line}")
  endif()
  list(APPEND TARVEX_UDEV_IDS "${CMAKE_MATCH_1}:${CMAKE_MATCH_2}")
  list(APPEND _udev_vendors "${CMAKE_MATCH_1}")
endforeach()
if(NOT TARVEX_UDEV_IDS)
  message(FATAL_ERROR "70-tarvex.rules names no USB id")
endif()
list(REMOVE_DUPLICATES _udev_vendors)
set(_reload_commands "sudo udevadm control --reload-rules")
foreach(vendor IN LISTS _udev_vendors)
  list(APPEND _reload_commands "sudo udevadm trigger --attr-match=idVendor=${vendor}")
endforeach()
# One line for messages, one command a line for the README.
list(JOIN _reload_commands " && " TARVEX_UDEV_RELOAD_HINT)
list(JOIN _reload_commands "\n    " TARVEX_UDEV_RELOAD_LINES)

# The programs, stripped of the compiler's .comment notes too when the install strips
# (cpack, cmake --install --strip), as Debian's dh_strip does.
function(tarvex_install_programs component)
  install(TARGETS ${ARGN} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT ${component})
  foreach(program IN LISTS ARGN)
    install(CODE "
      if(CMAKE_INSTALL_DO_STRIP)
        execute_process(COMMAND \"${CMAKE_OBJCOPY}\" --remove-section=.comment
          \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/$<TARGET_FILE_NAME:${program}>\"
          COMMAND_ERROR_IS_FATAL ANY)
      endif()" COMPONENT ${component})
  endforeach()
endfunction()

set(_programs tarvex tarvexctl)
tarvex_install_programs(tarvex tarvex tarvexctl)
if(TARGET tarvex-sim)
  list(APPEND _programs tarvex-sim)
  tarvex_install_programs(sim tarvex-sim)
endif()
if(TARGET tarvex_sim_preload)
  # tarvex-sim finds it relative to itself.
  install(TARGETS tarvex_sim_preload LIBRARY DESTINATION ${TARVEX_PRIVATE_LIBDIR} COMPONENT sim)
endif()

# The AppStream id: the metainfo file is installed under it.
set(TARVEX_APP_ID "org.tarvex.tarvex")
install(FILES ${PROJECT_SOURCE_DIR}/res/tarvex.desktop
  DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT tarvex)
install(FILES ${PROJECT_SOURCE_DIR}/res/tarvex.metainfo.xml
  DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo RENAME ${TARVEX_APP_ID}.metainfo.xml COMPONENT tarvex)
install(FILES ${PROJECT_SOURCE_DIR}/res/tarvex.png
  DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/48x48/apps COMPONENT tarvex)
install(FILES ${PROJECT_SOURCE_DIR}/res/icons/128x128/tarvex.png
  DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/128x128/apps COMPONENT tarvex)
install(FILES ${PROJECT_SOURCE_DIR}/res/icons/tarvex.svg
  DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps COMPONENT tarvex)
install(FILES ${_udev_rules_src} DESTINATION ${TARVEX_UDEV_RULES_DIR} COMPONENT tarvex)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/bash-completion/tarvexctl
  DESTINATION ${TARVEX_BASH_COMPLETION_DIR} COMPONENT tarvex)

# The project's contact and address: the copyright file and the package name them.
set(TARVEX_PACKAGE_MAINTAINER "Tarvex developers <tarvex@tarvex.dev>" CACHE STRING
  "Maintainer field of the Debian packages, and the copyright file's contact")
set(TARVEX_PACKAGE_HOMEPAGE "https://tarvex.dev" CACHE STRING
  "Homepage field of the Debian packages, and the copyright file's source")

# Lintian's notes on the package only: not part of a plain cmake --install.
install(FILES ${PROJECT_SOURCE_DIR}/packaging/debian/tarvex.lintian-overrides
  DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME tarvex
  COMPONENT tarvex EXCLUDE_FROM_ALL)

# Documentation: each package's folder holds its README for users, the copyright file and
# the changelog, in Debian's layout (copyright in the machine-readable format, changelog.gz).
set(_doc_dir ${CMAKE_BINARY_DIR}/doc)
cmake_path(GET CMAKE_INSTALL_DOCDIR PARENT_PATH _doc_parent)
set(TARVEX_SIM_DOCDIR "${_doc_parent}/tarvex-sim")

# copyright: the licence text is LICENSE's, below its copyright line, each line indented and
# blank lines as " ."
file(READ ${PROJECT_SOURCE_DIR}/LICENSE _license)
if(NOT _license MATCHES "^MIT License\n\nCopyright \\(c\\) ([^\n]+)\n\n(.+)$")
  message(FATAL_ERROR "LICENSE: expected \"MIT License\", a copyright line and the licence text")
endif()
set(TARVEX_COPYRIGHT "${CMAKE_MATCH_1}")
string(STRIP "${CMAKE_MATCH_2}" _license_text)
string(REGEX REPLACE "\n\n" "\n.\n" _license_text "${_license_text}")
string(REPLACE "\n" "\n " TARVEX_LICENSE_TEXT " ${_license_text}")
configure_file(${PROJECT_SOURCE_DIR}/packaging/debian/copyright.in ${_doc_dir}/copyright @ONLY)

# changelog.gz: CHANGELOG.md in the Debian changelog format, compressed as Debian asks (best,
# no name or time stamp).
add_custom_command(OUTPUT ${_doc_dir}/changelog.gz
  COMMAND ${CMAKE_COMMAND} -DINPUT=${PROJECT_SOURCE_DIR}/CHANGELOG.md -DOUTPUT=${_doc_dir}/changelog
          -DPACKAGE=tarvex "-DMAINTAINER=${TARVEX_PACKAGE_MAINTAINER}"
          -P ${PROJECT_SOURCE_DIR}/cmake/TarvexChangelog.cmake
  COMMAND gzip -9nf ${_doc_dir}/changelog
  DEPENDS ${PROJECT_SOURCE_DIR}/CHANGELOG.md ${PROJECT_SOURCE_DIR}/cmake/TarvexChangelog.cmake
  VERBATIM)
add_custom_target(changelog ALL DEPENDS ${_doc_dir}/changelog.gz)

# The installed READMEs name installed paths only; README.md is the developers'.
configure_file(${PROJECT_SOURCE_DIR}/packaging/README.installed.in ${_doc_dir}/tarvex/README @ONLY)
install(FILES ${_doc_dir}/tarvex/README ${_doc_dir}/copyright ${_doc_dir}/changelog.gz
  DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT tarvex)
if(TARGET tarvex_python)
  configure_file(${PROJECT_SOURCE_DIR}/packaging/README.python.installed ${_doc_dir}/python3-tarvex/README COPYONLY)
  install(FILES ${_doc_dir}/python3-tarvex/README ${_doc_dir}/copyright ${_doc_dir}/changelog.gz
    DESTINATION "${_doc_parent}/python3-tarvex" COMPONENT python)
endif()
if(TARGET tarvex-sim)
  configure_file(${PROJECT_SOURCE_DIR}/packaging/README.sim.installed ${_doc_dir}/tarvex-sim/README COPYONLY)
  install(FILES ${_doc_dir}/tarvex-sim/README ${_doc_dir}/copyright ${_doc_dir}/changelog.gz
    DESTINATION ${TARVEX_SIM_DOCDIR} COMPONENT sim)
endif()

# Man pages, generated from the built programs' --help and --version so they say the same.
find_program(HELP2MAN_EXECUTABLE help2man)
if(HELP2MAN_EXECUTABLE)
  set(_man_dir ${CMAKE_BINARY_DIR}/man)
  set(_man_pages "")
  foreach(program IN LISTS _programs)
    set(_include ${PROJECT_SOURCE_DIR}/man/${program}.h2m)
    set(_extra_include "")
    set(_extra_depends "")
    if(program STREQUAL "tarvexctl")
      # Every command's own help, collected from the built tool.
      set(_commands_h2m ${_man_dir}/tarvexctl-commands.h2m)
      add_custom_command(OUTPUT ${_commands_h2m}
        COMMAND ${CMAKE_COMMAND} -DTARVEXCTL=$<TARGET_FILE:tarvexctl> -DOUTPUT=${_commands_h2m}
                -P ${PROJECT_SOURCE_DIR}/cmake/TarvexctlCommandsH2m.cmake
        DEPENDS tarvexctl ${PROJECT_SOURCE_DIR}/cmake/TarvexctlCommandsH2m.cmake
        VERBATIM)
      set(_extra_include --include=${_commands_h2m})
      set(_extra_depends ${_commands_h2m})
    endif()
    # On the PATH, so that the usage lines name the program and not its build folder.
    add_custom_command(OUTPUT ${_man_dir}/${program}.1 ${_man_dir}/${program}.1.gz
      COMMAND ${CMAKE_COMMAND} -E make_directory ${_man_dir}
      COMMAND ${CMAKE_COMMAND} -E env "PATH=$<TARGET_FILE_DIR:${program}>:$ENV{PATH}"
              ASAN_OPTIONS=detect_leaks=0 QT_QPA_PLATFORM=offscreen
              ${HELP2MAN_EXECUTABLE} --no-info --section=1 --include=${_include} ${_extra_include}
              --output=${_man_dir}/${program}.1 ${program}
      COMMAND gzip -9nkf ${_man_dir}/${program}.1
      DEPENDS ${program} ${_include} ${_extra_depends}
      VERBATIM)
    list(APPEND _man_pages ${_man_dir}/${program}.1.gz)
    set(_component tarvex)
    if(program STREQUAL "tarvex-sim")
      set(_component sim)
    endif()
    install(FILES ${_man_dir}/${program}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
      COMPONENT ${_component})
  endforeach()
  add_custom_target(man ALL DEPENDS ${_man_pages})
else()
  list(APPEND TARVEX_LEFT_OUT "the man pages (help2man not found: apt-get install help2man)")
endif()
