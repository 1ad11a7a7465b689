# SPDX-License-Identifier: MIT
# Install rules: the programs, the desktop integration, the udev rules, man pages, completion.

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

set(_programs tarvex tarvexctl)
if(TARGET tarvex-sim)
  list(APPEND _programs tarvex-sim)
endif()
install(TARGETS ${_programs} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(TARGET tarvex_sim_preload)
  # tarvex-sim finds it relative to itself.
  install(TARGETS tarvex_sim_preload LIBRARY DESTINATION ${TARVEX_PRIVATE_LIBDIR})
endif()

# The AppStream id: the metainfo file is installed under it.
set(TARVEX_APP_ID "org.tarvex.tarvex")
install(FILES ${PROJECT_SOURCE_DIR}/res/tarvex.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${PROJECT_SOURCE_DIR}/res/tarvex.metainfo.xml
  DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo RENAME ${TARVEX_APP_ID}.metainfo.xml)
install(FILES ${PROJECT_SOURCE_DIR}/res/tarvex.png
  DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/48x48/apps)
install(FILES ${PROJECT_SOURCE_DIR}/res/icons/128x128/tarvex.png
  DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/128x128/apps)
install(FILES ${PROJECT_SOURCE_DIR}/res/icons/tarvex.svg
  DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${PROJECT_SOURCE_DIR}/res/udev/70-tarvex.rules DESTINATION ${TARVEX_UDEV_RULES_DIR})
install(FILES ${PROJECT_SOURCE_DIR}/packaging/bash-completion/tarvexctl
  DESTINATION ${TARVEX_BASH_COMPLETION_DIR})
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/CHANGELOG.md
  DESTINATION ${CMAKE_INSTALL_DOCDIR})

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
  endforeach()
  add_custom_target(man ALL DEPENDS ${_man_pages})
  install(FILES ${_man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
else()
  list(APPEND TARVEX_LEFT_OUT "the man pages (help2man not found: apt-get install help2man)")
endif()
