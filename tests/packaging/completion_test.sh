#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The tarvexctl completion against the built tool: commands, each command's options, choices, files.
#   completion_test.sh COMPLETION_FILE TARVEXCTL [TARVEX_SIM]
set -euo pipefail
# shellcheck source=/dev/null
source "$1"
TARVEXCTL=$2
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
cd "$WORK"
touch fw.hex fw.bin other.txt
failures=0

# complete WORDS...: the completion of the last word, sorted, one line.
complete_words() {
  COMP_WORDS=("$TARVEXCTL" "$@")
  COMP_CWORD=$#
  COMPREPLY=()
  _tarvexctl
  printf '%s\n' "${COMPREPLY[@]}" | sort | tr '\n' ' ' | sed 's/ $//'
}
expect() {
  local want=$1
  shift
  local got
  got=$(complete_words "$@")
  if [ "$got" != "$want" ]; then
    echo "FAIL: tarvexctl $* -> '$got', expected '$want'"
    failures=$((failures + 1))
  fi
}
# The commands come from the tool's --help: every one listed there is offered.
listed=$("$TARVEXCTL" --help | sed -n '/^Commands:/,/^$/s/^  \([a-z][a-z0-9-]*\)  .*/\1/p' | sort | tr '\n' ' ' | sed 's/ $//')
[ -n "$listed" ] || { echo "FAIL: no commands in tarvexctl --help"; exit 1; }
for c in $listed; do
  case " $(complete_words "") " in
    *" $c "*) ;;
    *) echo "FAIL: command $c not offered"; failures=$((failures + 1)) ;;
  esac
done

#      expected                        words typed
expect "write"                         wr
expect "read reset rom run"            r
expect "--help --version"              --
expect "load"                          help lo
expect "--at --base --checksum --fill --format --help --json --map --out --out-format --quiet --rom --segments --skip --split --strict --swap-bytes --swap-lines --verbose --wrap" load --
expect "--format"                      load fw.hex --fo
expect "--rom"                         write fw.hex --r
expect "auto bin ihex srec xtek"       load fw.hex --format ""
expect "bin ihex srec"                 load fw.hex --out x --out-format ""
expect "ihex"                          write fw.hex --format i
expect "fw.bin fw.hex"                 load fw
expect "fw.hex"                        auto --rom 27C256 fw.h
# The new options reach every loading command, values included.
expect "--segments --skip --split --strict --swap-bytes --swap-lines" load fw.hex --s
expect "--swap-bytes --swap-lines"     watch fw.hex --swap
expect "even odd"                      load fw.hex --out x --split ""
expect "crc32be: crc32le:"             sum fw.hex --checksum crc
expect "sum16be: sum16le: sum8:"       write fw.hex --checksum s
expect ""                              load fw.hex --base ""
expect ""                              verify fw.hex --swap-lines ""
# Values of their own: ROM types, --then lists; operands by what the command takes.
expect "27C010 27C020 27C040 27C080"   write fw.hex --rom 27C0
expect "27C256"                        rom 27C2
expect "stop stop,run,reset"           watch fw.hex --then st
expect ""                              run ""
expect ""                              load fw.hex fw
expect "other.txt"                     read o
expect "other.txt"                     load fw.hex --out o
# --device offers what find lists: numbers, port: paths and serial: numbers.
if [ -n "${3:-}" ]; then
  printf '#!/bin/sh\nexec "%s" -n 2 --serial A1 -- "%s" "$@"\n' "$3" "$TARVEXCTL" > with-sim
  chmod +x with-sim
  TARVEXCTL=$PWD/with-sim
  expect "0 1 port:1-1 port:1-2 serial:A1" run --device ""
fi
exit $((failures > 0))
