#!/usr/bin/env bash
# Runs a test program on an X server of its own, which ends with it. The server picks a free
# display number itself (-displayfd), so tests running side by side never share one.
set -euo pipefail
command -v Xvfb >/dev/null || { echo "needs Xvfb (package xvfb)"; exit 77; }

dir=$(mktemp -d)
server=
trap '[[ -n $server ]] && kill "$server" && wait "$server"; rm -rf "$dir"' EXIT
mkfifo "$dir/display"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$dir/display" &
server=$!
read -r number <"$dir/display"
DISPLAY=:$number QT_QPA_PLATFORM=xcb "$@"
