#!/usr/bin/env bash
# Runs atspi_client.py against the built program as assistive technology sees it: a session
# bus, an X display and a window manager of its own, accessibility on. Exit 77: skipped.
#   atspi_session.sh KORMIL_EXECUTABLE ATSPI_CLIENT
set -uo pipefail

kormil=$1
client=$2
skip() {
    echo "skipped: $*"
    exit 77
}

if [ -z "${KORMIL_ATSPI_SESSION:-}" ]; then
    for tool in dbus-run-session Xvfb openbox; do
        command -v "$tool" >/dev/null || skip "needs $tool (packages dbus-daemon, xvfb, openbox)"
    done
    [ -x /usr/libexec/at-spi-bus-launcher ] || skip "needs at-spi2-core"
    /usr/bin/python3 -c 'import pyatspi' 2>/dev/null ||
        skip "needs pyatspi (package python3-pyatspi)"
    dbus-run-session -- true 2>/dev/null || skip "a private session bus cannot start here"
    KORMIL_ATSPI_SESSION=1 exec dbus-run-session -- "$0" "$@"
fi

work=$(mktemp -d)
pids=()
cleanup() {
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
        kill "${pids[i]}" 2>/dev/null
        wait "${pids[i]}" 2>/dev/null
    done
    rm -rf "$work"
}
trap cleanup EXIT

Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
pids+=($!)
for _ in $(seq 100); do
    [ -s "$work/display" ] && break
    sleep 0.1
done
[ -s "$work/display" ] || { echo "Xvfb did not start"; cat "$work/xvfb.log"; exit 1; }
export DISPLAY=":$(head -n 1 "$work/display")"
openbox >/dev/null 2>&1 &
pids+=($!)

cp "$kormil" "$work/kormil"
printf '[pairs]\npattern0=open mail\ncommand0=thunderbird\nfocus0=3\n' >"$work/kormil.ini"
QT_QPA_PLATFORM=xcb QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 "$work/kormil" 2>"$work/kormil.log" &
pids+=($!)

/usr/bin/python3 "$client"
status=$?
[ $status -eq 0 ] || { echo "== the program's log"; cat "$work/kormil.log"; }
exit $status
