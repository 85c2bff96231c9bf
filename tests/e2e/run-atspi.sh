#!/usr/bin/env bash
# The installed program in a real X server, driven from outside through
# AT-SPI as a screen reader sees it. Exit 77 (skipped) when no X server starts.
set -euo pipefail
build="$1"
here="$(cd "$(dirname "$0")" && pwd)"
work="$(mktemp -d)"
cleanup() {
  status=$?
  [ "$status" -ne 0 ] && [ "$status" -ne 77 ] && [ -s "$work/xvfb.log" ] && sed 's/^/xvfb: /' "$work/xvfb.log"
  # The office outlives the program, as it should for a user; not for a test.
  office_pid="$(cat "$work/cache/ondrel/office-profile/office.pid" 2>/dev/null || true)"
  [ -n "$office_pid" ] && kill -KILL -- "-$office_pid" 2>/dev/null || true
  # Wait for the X server to go: a dying one removes its socket late and could
  # take the socket of the next run's server on the same display with it.
  if [ -n "${xvfb_pid:-}" ]; then
    kill "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
  [ "$(type -t drop_db)" = function ] && drop_db
  return 0
}
trap cleanup EXIT

for tool in Xvfb dbus-run-session import; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done
/usr/bin/python3 -c 'import pyatspi' 2>/dev/null || { echo "SKIP: python3-pyatspi is not installed"; exit 77; }

cmake --install "$build" --prefix "$work/prog" >/dev/null
mkdir -p "$work/1-99リンクバーZEV"
# The demo on a file, or (ONDREL_E2E_ENGINE=postgres) in a new database on the
# test server.
db="$work/prog/demo.db"
if [ "${ONDREL_E2E_ENGINE:-}" = postgres ]; then
  [ -n "${ONDREL_TEST_PG:-}" ] || { echo "SKIP: no test server (ONDREL_TEST_PG)"; exit 77; }
  name="e2e_$$_$RANDOM"
  psql "$ONDREL_TEST_PG" -qAt -c "CREATE DATABASE $name" >/dev/null
  db="${ONDREL_TEST_PG/\/postgres\?//$name?}"
  drop_db() { psql "$ONDREL_TEST_PG" -qAt -c "DROP DATABASE IF EXISTS $name WITH (FORCE)" >/dev/null 2>&1 || true; }
fi
"$work/prog/ondrel-db" demo "$db"
printf '[System]\r\nTitle=指導指示管理\r\nSystemDB=%s\r\nKarteNoInput=1\r\n' "$db" \
  | iconv -f UTF-8 -t CP932 > "$work/prog/Ondrel.ini"

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
export XDG_RUNTIME_DIR="$work/runtime"
mkdir -m 700 -p "$XDG_RUNTIME_DIR"
export XDG_CACHE_HOME="$work/cache"
export QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
export QT_ACCESSIBILITY=1
export NO_AT_BRIDGE=0
unset QT_QPA_PLATFORM
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=0}"
export ONDREL_PROG="$work/prog" ONDREL_DB="$db" ONDREL_SHOTS="${ONDREL_SHOTS:-$build/screenshots}"
mkdir -p "$ONDREL_SHOTS"
dbus-run-session -- bash -c '
  /usr/libexec/at-spi-bus-launcher --launch-immediately >/dev/null 2>&1 &
  # The program looks for the accessibility bus once, as it starts: be sure it is up.
  for _ in $(seq 100); do
    dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus org.a11y.Bus.GetAddress \
      >/dev/null 2>&1 && break
    sleep 0.1
  done
  exec /usr/bin/python3 "$0"' "$here/atspi_road.py"
