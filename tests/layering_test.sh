#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The core's folders include only the folders below them, and nothing of Qt or the window.
#   layering_test.sh SOURCE_DIR
set -u
cd "$1/src" || exit 1
declare -A allowed=(
  [util]="util"
  [hexedit]="util hexedit"
  [richtext]="richtext"
  [emulink]="util emulink"
  [image]="util hexedit image emulink"
  [settings]="util emulink settings"
  [session]="util hexedit image emulink session"
)
bad=0
for folder in "${!allowed[@]}"; do
  for file in "$folder"/*.h "$folder"/*.cpp; do
    # The hex editor's widget sits beside its rules.
    case "$file" in hexedit/hexedit.h|hexedit/hexedit.cpp|'*'*) continue ;; esac
    [ -f "$file" ] || continue
    while IFS= read -r line; do
      inc=${line#*\"}; inc=${inc%%\"*}
      case "$inc" in */*) ;; *) continue ;; esac
      top=${inc%%/*}
      [[ " ${allowed[$folder]} " == *" $top "* ]] && continue
      echo "$file includes $inc" >&2; bad=1
    done < <(grep -E '^#include "' "$file")
    if grep -nE '^#include <Q' "$file" >&2; then echo "  ^ $file includes Qt" >&2; bad=1; fi
  done
done
exit $bad
