#!/usr/bin/env bash
# Installs the Debian packages a task needs, only when some are missing, so a machine that has
# them spends no time here. Usage: install-deps.sh build|fuzz|bench|run
set -euo pipefail
build=(cmake make g++ pkg-config googletest libgtest-dev libgmock-dev python3 curl zlib1g-dev
       binutils-mingw-w64-i686 nginx-light chromium libglib2.0-bin
       libcairo2-dev libpango1.0-dev libgdk-pixbuf-2.0-dev fonts-wqy-zenhei haxe
       libgtk-3-dev xvfb xdotool imagemagick trayer openbox dbus-daemon)
# The page views' browser engine.
build+=(libwebkit2gtk-4.1-dev)
fuzz=(clang libclang-rt-14-dev)
bench=(wrk libpugixml-dev nginx-light)
case "${1:-build}" in
  build) want=("${build[@]}") ;;
  fuzz) want=("${build[@]}" "${fuzz[@]}") ;;
  bench) want=("${build[@]}" "${bench[@]}") ;;
  run) want=("${build[@]}") ;;
  *) echo "unknown package set $1" >&2; exit 2 ;;
esac
missing=()
# npm installs Ruffle for the movie's player page at build time. A machine whose Node.js comes
# with its own npm keeps it; Debian's npm would conflict with that Node.js.
command -v npm >/dev/null || missing+=(npm)
for p in "${want[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "installing: ${missing[*]}"
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO=sudo
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
