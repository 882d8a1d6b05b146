#!/usr/bin/env bash
# Installs the Debian packages a task needs, only when some are missing, so a machine that has
# them spends no time here. Usage: install-deps.sh build|fuzz|bench|run
set -euo pipefail
# What building and running the client needs: the compiler, the libraries it links, the movie's
# compiler (haxe; npm for its player, below), the fonts of its pages, python3 for the resources and
# the store it runs against, Xvfb with ImageMagick's import for HEADLESS=1 and its screenshot, and
# xauth, which xvfb-run (the client's advice when there is no display) needs and xvfb only
# recommends.
run=(cmake make g++ pkg-config python3 zlib1g-dev
     libcairo2-dev libpango1.0-dev libgdk-pixbuf-2.0-dev fonts-wqy-zenhei haxe
     libgtk-3-dev libwebkit2gtk-4.1-dev xvfb xauth imagemagick)
# The tests add GoogleTest and the peers they drive: curl, the mingw tools, nginx, chromium, a
# window manager, a tray host, a session bus, xdotool for real input, and a Wayland compositor
# with XWayland for a desktop session of today.
build=("${run[@]}" googletest libgtest-dev libgmock-dev curl
       binutils-mingw-w64-i686 nginx-light chromium libglib2.0-bin
       xdotool wmctrl trayer openbox dbus-daemon weston xwayland)
fuzz=(clang libclang-rt-14-dev)
bench=(wrk libpugixml-dev nginx-light)
case "${1:-build}" in
  build) want=("${build[@]}") ;;
  fuzz) want=("${build[@]}" "${fuzz[@]}") ;;
  bench) want=("${build[@]}" "${bench[@]}") ;;
  run) want=("${run[@]}") ;;
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
