#!/bin/sh
# Makes a fresh Wine prefix with Wine's own wineboot, for the registry interop tests to copy:
# make-wine-prefix.sh DIR (an earlier DIR is replaced).
set -eu
prefix=$1
rm -rf "$prefix"
mkdir -p "$(dirname "$prefix")"
# No display and no Mono or Gecko installers, so wineboot runs unattended.
env -u DISPLAY -u WAYLAND_DISPLAY WINEPREFIX="$prefix" WINEDEBUG=-all \
    WINEDLLOVERRIDES="mscoree,mshtml=" wineboot -i >/dev/null 2>&1
# The registry files are complete once the server has written them and exited.
WINEPREFIX="$prefix" wineserver -w
test -s "$prefix/system.reg" && test -s "$prefix/user.reg" && test -s "$prefix/userdef.reg"
