#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the Debian package from a finished build, checks its contents, installs it, runs the
# installed programs (tarvex as an unprivileged user), and removes it again. Root only.
#   check-package.sh BUILD_DIR
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${1:?usage: check-package.sh BUILD_DIR}
[ "$(id -u)" -eq 0 ] || { echo "check-package.sh: installs a package, run it as root" >&2; exit 1; }
if dpkg-query -W -f='${Status}' tarvex 2>/dev/null | grep -q 'install ok installed'; then
  echo "check-package.sh: a tarvex package is installed already; dpkg -r tarvex first" >&2
  exit 1
fi
echo "== Debian package"
rm -f "$BUILD_DIR"/tarvex_*_*.deb
(cd "$BUILD_DIR" && cpack -G DEB >/dev/null)
deb=$(ls "$BUILD_DIR"/tarvex_*_*.deb)
dpkg-deb -I "$deb"
dpkg-deb -c "$deb"
for f in ./usr/bin/tarvex ./usr/bin/tarvexctl ./usr/bin/tarvex-sim \
         ./usr/share/applications/tarvex.desktop ./usr/share/metainfo/org.tarvex.tarvex.metainfo.xml \
         ./usr/share/icons/hicolor/48x48/apps/tarvex.png ./usr/share/icons/hicolor/128x128/apps/tarvex.png \
         ./usr/share/icons/hicolor/scalable/apps/tarvex.svg ./usr/lib/udev/rules.d/70-tarvex.rules \
         ./usr/share/man/man1/tarvex.1.gz ./usr/share/man/man1/tarvexctl.1.gz \
         ./usr/share/man/man1/tarvex-sim.1.gz ./usr/share/bash-completion/completions/tarvexctl \
         ./usr/share/doc/tarvex/LICENSE; do
  dpkg-deb -c "$deb" | awk '{print $6}' | grep -qx "$f" || { echo "package lacks $f" >&2; exit 1; }
done
# Under the library folder, whichever this build has (lib/ or the multiarch one).
dpkg-deb -c "$deb" | awk '{print $6}' | grep -q '/tarvex/libtarvex-sim-preload\.so$' ||
  { echo "package lacks tarvex-sim's preload library" >&2; exit 1; }
# A check that fails must not leave the package behind for the next run.
trap 'dpkg --purge tarvex >/dev/null 2>&1 || true' EXIT
dpkg -i "$deb" || DEBIAN_FRONTEND=noninteractive apt-get install -f -y -qq --no-install-recommends
desktop-file-validate /usr/share/applications/tarvex.desktop
appstreamcli validate --no-net /usr/share/metainfo/org.tarvex.tarvex.metainfo.xml
/usr/bin/tarvexctl --version
/usr/bin/tarvex-sim --version
/usr/bin/tarvex --version
# find lists "N  PORT  VVVV:PPPP  SERIAL" for each emulator.
found=$(/usr/bin/tarvex-sim -n 1 -- /usr/bin/tarvexctl find)
echo "$found"
[[ $found =~ ^0\ +1-1\ +0547:2131\ +-$ ]] || { echo "installed tarvexctl find printed: $found" >&2; exit 1; }

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
[ "$ready" = 1 ] || { echo "installed tarvex did not start" >&2; kill "$pid"; exit 1; }
kill -TERM "$pid"  # tarvex-sim passes it on
wait "$pid" || { echo "tarvex ended with $? on SIGTERM" >&2; exit 1; }
grep -q '^m_nRomSize=' "$home/config/tarvex/tarvex.ini" ||
  { echo "no settings in $home/config/tarvex/tarvex.ini" >&2; ls -lR "$home" >&2; exit 1; }
[ ! -e /usr/bin/tarvex.ini ] || { echo "settings written beside the installed program" >&2; exit 1; }
rm -rf "$home"

dpkg -r tarvex
[ ! -e /usr/bin/tarvex ] && [ ! -e /usr/lib/udev/rules.d/70-tarvex.rules ] ||
  { echo "dpkg -r left files behind" >&2; exit 1; }
dpkg --purge tarvex  # the postrm script keeps its record until a purge
! dpkg-query -W tarvex >/dev/null 2>&1 || { echo "dpkg still lists tarvex" >&2; exit 1; }
