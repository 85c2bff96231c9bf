#!/usr/bin/env bash
# Runs a command as on a desktop: a private X server, a D-Bus session and the
# accessibility bus up before the command starts. Exit 77 (skipped) when no X
# server can be had. XDG_RUNTIME_DIR is made when the caller has none.
set -euo pipefail
work="$(mktemp -d)"
cleanup() {
  status=$?
  [ "$status" -ne 0 ] && [ "$status" -ne 77 ] && [ -s "$work/xvfb.log" ] && sed 's/^/xvfb: /' "$work/xvfb.log"
  # Wait for the X server to go: a dying one removes its socket late and could
  # take the socket of the next run's server on the same display with it.
  if [ -n "${xvfb_pid:-}" ]; then
    kill "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
  return 0
}
trap cleanup EXIT

for tool in Xvfb dbus-run-session import; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done
/usr/bin/python3 -c 'import pyatspi' 2>/dev/null || { echo "SKIP: python3-pyatspi is not installed"; exit 77; }

# A display far from the usual ones, free of locks and sockets. -noreset: a server that
# resets when its last client leaves refuses connections meanwhile.
for _ in $(seq 20); do
  n=$((200 + RANDOM % 700))
  [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] || break
done
display=":$n"
Xvfb "$display" -screen 0 1280x960x24 -nolisten tcp -noreset >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do
  [ -e "/tmp/.X11-unix/X$n" ] && break
  kill -0 "$xvfb_pid" 2>/dev/null || { echo "SKIP: the X server could not start"; exit 77; }
  sleep 0.1
done
# Ready means a client gets in, not only that the server said so.
for _ in $(seq 100); do
  import -display "$display" -window root "$work/probe.png" >/dev/null 2>&1 && break
  sleep 0.1
done
import -display "$display" -window root "$work/probe.png" >/dev/null 2>&1 \
  || { echo "SKIP: the X server on $display takes no connections"; exit 77; }

export DISPLAY="$display"
if [ -z "${XDG_RUNTIME_DIR:-}" ]; then
  export XDG_RUNTIME_DIR="$work/runtime"
  mkdir -m 700 -p "$XDG_RUNTIME_DIR"
fi
export QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
export QT_ACCESSIBILITY=1
export NO_AT_BRIDGE=0
unset QT_QPA_PLATFORM
# Not exec'd: the X server goes only after the command has ended.
dbus-run-session -- bash -c '
  /usr/libexec/at-spi-bus-launcher --launch-immediately >/dev/null 2>&1 &
  # The program looks for the accessibility bus once, as it starts: be sure it is up.
  for _ in $(seq 100); do
    dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus org.a11y.Bus.GetAddress \
      >/dev/null 2>&1 && break
    sleep 0.1
  done
  exec "$@"' bash "$@"
