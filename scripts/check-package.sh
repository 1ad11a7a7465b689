#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the Debian packages tarvex, tarvex-sim and python3-tarvex from a build that scripts/package.sh
# configured, checks them (lintian, contents, relations, hardening), installs them, runs the
# installed programs (tarvex as an unprivileged user), and removes and purges them again.
# Root only.
#   check-package.sh BUILD_DIR
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${1:?usage: check-package.sh BUILD_DIR}
fail() { echo "check-package.sh: $*" >&2; exit 1; }
[ "$(id -u)" -eq 0 ] || fail "installs packages, run it as root"
for p in tarvex tarvex-sim python3-tarvex; do
  if dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    fail "a $p package is installed already; dpkg --purge $p first"
  fi
done
echo "== Debian packages"
rm -f "$BUILD_DIR"/tarvex*_*.deb "$BUILD_DIR"/python3-tarvex_*.deb
(cd "$BUILD_DIR" && cpack -G DEB >/dev/null)
main=$(ls "$BUILD_DIR"/tarvex_*_*.deb)
sim=$(ls "$BUILD_DIR"/tarvex-sim_*_*.deb)
py=$(ls "$BUILD_DIR"/python3-tarvex_*_*.deb)
dpkg-deb -I "$main"
dpkg-deb -I "$sim"
dpkg-deb -I "$py"

echo "== lintian"
lintian --pedantic --fail-on error,warning "$main" "$sim" "$py"

echo "== contents and relations"
files() { dpkg-deb -c "$1" | awk '$1 !~ /^d/ {print $6}' | sort; }
main_files=$(files "$main")
sim_files=$(files "$sim")
echo "$main_files"
echo "$sim_files"
for f in ./usr/bin/tarvex ./usr/bin/tarvexctl \
         ./usr/share/applications/tarvex.desktop ./usr/share/metainfo/org.tarvex.tarvex.metainfo.xml \
         ./usr/share/icons/hicolor/48x48/apps/tarvex.png ./usr/share/icons/hicolor/128x128/apps/tarvex.png \
         ./usr/share/icons/hicolor/scalable/apps/tarvex.svg ./usr/lib/udev/rules.d/70-tarvex.rules \
         ./usr/share/man/man1/tarvex.1.gz ./usr/share/man/man1/tarvexctl.1.gz \
         ./usr/share/bash-completion/completions/tarvexctl \
         ./usr/share/doc/tarvex/copyright ./usr/share/doc/tarvex/changelog.gz ./usr/share/doc/tarvex/README; do
  grep -qx "$f" <<<"$main_files" || fail "tarvex lacks $f"
done
! grep -q 'tarvex-sim' <<<"$main_files" || fail "tarvex holds a part of tarvex-sim"
# Under the library folder, whichever this build has (lib/ or the multiarch one).
sim_preload=$(grep '/tarvex/libtarvex-sim-preload\.so$' <<<"$sim_files") || fail "tarvex-sim lacks its preload library"
want_sim=$(printf '%s\n' ./usr/bin/tarvex-sim ./usr/share/man/man1/tarvex-sim.1.gz "$sim_preload" \
  ./usr/share/doc/tarvex-sim/copyright ./usr/share/doc/tarvex-sim/changelog.gz \
  ./usr/share/doc/tarvex-sim/README | sort)
[ "$sim_files" = "$want_sim" ] || fail "tarvex-sim holds other files than $want_sim"
py_files=$(files "$py")
echo "$py_files"
for f in ./usr/lib/python3/dist-packages/tarvex/__init__.py ./usr/lib/python3/dist-packages/tarvex/__init__.pyi \
         ./usr/lib/python3/dist-packages/tarvex/py.typed ./usr/share/doc/python3-tarvex/copyright \
         ./usr/share/doc/python3-tarvex/changelog.gz ./usr/share/doc/python3-tarvex/README; do
  grep -qx "$f" <<<"$py_files" || fail "python3-tarvex lacks $f"
done
grep -Eq '^\./usr/lib/python3/dist-packages/tarvex/_tarvex\..*\.so$' <<<"$py_files" || fail "python3-tarvex lacks the module"
! grep -q 'dist-packages' <<<"$main_files" || fail "tarvex holds a part of python3-tarvex"
py_depends=$(dpkg-deb -f "$py" Depends)
grep -Eq 'python3 \(>= 3\.[0-9]+\), python3 \(<< 3\.[0-9]+\)' <<<"$py_depends" ||
  fail "python3-tarvex does not depend on its python3: $py_depends"
main_depends=$(dpkg-deb -f "$main" Depends)
sim_depends=$(dpkg-deb -f "$sim" Depends)
! grep -q umockdev <<<"$main_depends" || fail "tarvex depends on umockdev: $main_depends"
grep -Eq '(^|, )umockdev(,|$)' <<<"$sim_depends" || fail "tarvex-sim does not depend on umockdev: $sim_depends"
for deb in "$main" "$sim"; do
  [[ $(dpkg-deb -f "$deb" Homepage) == https://* ]] || fail "$deb: no Homepage"
done

# Messages and the installed README name the rules file the package installs.
rules=$(sed -n 's/^#define TARVEX_UDEV_RULES_FILE "\(.*\)"$/\1/p' "$BUILD_DIR/generated/tarvex_version.h")
grep -qx ".$rules" <<<"$main_files" || fail "TARVEX_UDEV_RULES_FILE $rules is not in the package"
readme=$(dpkg-deb --fsys-tarfile "$main" | tar -xO ./usr/share/doc/tarvex/README)
grep -qF "$rules" <<<"$readme" || fail "the installed README does not name $rules"
for deb in "$main" "$sim"; do
  name=$(dpkg-deb -f "$deb" Package)
  if dpkg-deb --fsys-tarfile "$deb" | tar -xO "./usr/share/doc/$name/README" |
     grep -nE '\./scripts|build/|res/udev'; then
    fail "$name's installed README names a path of the source tree"
  fi
done

# The post-install script re-applies the rules to the emulators' ids alone, all of them.
control=$(mktemp -d)
dpkg-deb -e "$main" "$control"
rule_ids=$(sed -n 's/.*ATTR{idVendor}=="\([0-9a-f]*\)".*ATTR{idProduct}=="\([0-9a-f]*\)".*/\1:\2/p' \
  res/udev/70-tarvex.rules | sort)
postinst_ids=$(sed -n 's/^ *for id in \(.*\); do$/\1/p' "$control/postinst" | tr ' ' '\n' | sort)
[ -n "$rule_ids" ] && [ "$rule_ids" = "$postinst_ids" ] ||
  fail "postinst triggers '$postinst_ids', the rules name '$rule_ids'"
if grep -n 'udevadm trigger' "$control/postinst" | grep -v 'attr-match=idVendor'; then
  fail "postinst triggers other devices than the emulators"
fi
rm -rf "$control"

echo "== install"
# A check that fails must not leave the packages behind for the next run.
trap 'dpkg --purge python3-tarvex tarvex-sim tarvex >/dev/null 2>&1 || true' EXIT
apt_fix() { DEBIAN_FRONTEND=noninteractive apt-get install -f -y -qq --no-install-recommends; }
# One at a time: tarvex needs nothing of tarvex-sim.
dpkg -i "$main" || apt_fix
dpkg -i "$sim" || apt_fix
dpkg -i "$py" || apt_fix
# Debian 12's C library start files carry no CET notes, so no program of it shows control-flow
# protection; everything dpkg-buildflags gives is checked.
hardening-check --nocfprotection /usr/bin/tarvex /usr/bin/tarvexctl /usr/bin/tarvex-sim
desktop-file-validate /usr/share/applications/tarvex.desktop
appstreamcli validate --no-net /usr/share/metainfo/org.tarvex.tarvex.metainfo.xml
# A manual page names only pages that are there.
for page in tarvex tarvexctl tarvex-sim; do
  zcat "/usr/share/man/man1/$page.1.gz" | sed -n 's/^\.BR \([^ ]*\) (\([1-9]\)),\?$/\1 \2/p' |
    while read -r name section; do
      name=${name//\\-/-}
      [ -e "/usr/share/man/man$section/$name.$section.gz" ] || fail "$page(1) names $name($section), not installed"
    done
done
/usr/bin/tarvexctl --version
/usr/bin/tarvex-sim --version
/usr/bin/tarvex --version
# find lists "N  PORT  VVVV:PPPP  SERIAL" for each emulator.
found=$(/usr/bin/tarvex-sim -n 1 -- /usr/bin/tarvexctl find)
echo "$found"
[[ $found =~ ^0\ +1-1\ +0547:2131\ +-$ ]] || fail "installed tarvexctl find printed: $found"
# Debian's python3 finds the installed module, and it reaches the simulated emulator.
found=$(cd / && /usr/bin/tarvex-sim -n 1 -- /usr/bin/python3 -c 'import tarvex; print(len(tarvex.find()))')
[ "$found" = 1 ] || fail "the installed Python module found: $found"

echo "== installed tarvex, run by a user, keeps its settings in XDG_CONFIG_HOME"
home=$(mktemp -d)
chown nobody "$home"
as_nobody=(setpriv --reuid=nobody --regid=nogroup --clear-groups --
           env -i PATH=/usr/bin:/bin HOME="$home" XDG_CONFIG_HOME="$home/config"
           XDG_RUNTIME_DIR="$home/run" QT_QPA_PLATFORM=offscreen)
"${as_nobody[@]}" mkdir -m 700 "$home/run"
"${as_nobody[@]}" /usr/bin/tarvex-sim -n 1 -- /usr/bin/tarvex &
pid=$!
# Signalled once it has its signalfd: from then on SIGTERM ends it as File > Exit does.
ready=0
for _ in $(seq 1 150); do
  app=$(pgrep -P "$pid" -x tarvex || true)
  if [ -n "$app" ] && ls -l "/proc/$app/fd" 2>/dev/null | grep -q 'signalfd'; then
    ready=1
    break
  fi
  sleep 0.2
done
[ "$ready" = 1 ] || { kill "$pid"; fail "installed tarvex did not start"; }
kill -TERM "$pid"  # tarvex-sim passes it on
wait "$pid" || fail "tarvex ended with $? on SIGTERM"
grep -q '^m_nRomSize=' "$home/config/tarvex/tarvex.ini" ||
  { ls -lR "$home" >&2; fail "no settings in $home/config/tarvex/tarvex.ini"; }
[ ! -e /usr/bin/tarvex.ini ] || fail "settings written beside the installed program"
rm -rf "$home"

echo "== remove and purge"
installed=$(dpkg-query -L tarvex tarvex-sim python3-tarvex | while read -r f; do [ -d "$f" ] || echo "$f"; done)
dpkg -r python3-tarvex tarvex-sim tarvex
left=$(while read -r f; do [ ! -e "$f" ] || echo "$f"; done <<<"$installed")
[ -z "$left" ] || fail "dpkg -r left files behind: $left"
# tarvex's postrm keeps its record until a purge; tarvex-sim, with no scripts, is gone already.
dpkg --purge tarvex
for p in tarvex tarvex-sim python3-tarvex; do
  ! dpkg-query -W "$p" >/dev/null 2>&1 || fail "dpkg still lists $p"
  [ ! -e "/usr/share/doc/$p" ] || fail "/usr/share/doc/$p is left"
done
trap - EXIT
echo "== packages checked"
