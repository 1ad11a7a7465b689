# SPDX-License-Identifier: MIT
# Writes a help2man include with every tarvexctl command's own --help, taken from the built tool:
#   cmake -DTARVEXCTL=path -DOUTPUT=file.h2m -P TarvexctlCommandsH2m.cmake
execute_process(COMMAND ${TARVEXCTL} --help OUTPUT_VARIABLE overall RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${TARVEXCTL} --help failed (${rc})")
endif()

# The command list: the lines "  NAME  summary" between "Commands:" and the next blank line.
string(REGEX MATCH "Commands:\n[^\n]+(\n  [^\n]+)*" block "${overall}")
string(REGEX MATCHALL "\n  [a-z][a-z0-9-]*  " names "${block}")
if(NOT names)
  message(FATAL_ERROR "no commands found in the output of ${TARVEXCTL} --help")
endif()

set(text "[COMMANDS]\n")
foreach(name IN LISTS names)
  string(STRIP "${name}" name)
  execute_process(COMMAND ${TARVEXCTL} help ${name} OUTPUT_VARIABLE help RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${TARVEXCTL} help ${name} failed (${rc})")
  endif()
  # roff: backslashes escaped, a leading dot or quote kept as text; shown as written.
  string(REPLACE "\\" "\\e" help "${help}")
  string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" help "${help}")
  string(REPLACE "-" "\\-" help "${help}")
  # Flush left: the help texts keep to 80 columns themselves.
  string(APPEND text ".SS ${name}\n.in 0\n.nf\n${help}.fi\n.in\n")
endforeach()
file(WRITE ${OUTPUT} "${text}")
