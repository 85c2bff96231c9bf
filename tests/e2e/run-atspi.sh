#!/usr/bin/env bash
# The installed program in a real X server, driven from outside through
# AT-SPI as a screen reader sees it. Exit 77 (skipped) when no X server starts.
set -euo pipefail
build="$1"
here="$(cd "$(dirname "$0")" && pwd)"
work="$(mktemp -d)"
cleanup() {
  # The office outlives the program, as it should for a user; not for a test.
  office_pid="$(cat "$work/cache/ondrel/office-profile/office.pid" 2>/dev/null || true)"
  [ -n "$office_pid" ] && kill -KILL -- "-$office_pid" 2>/dev/null || true
  rm -rf "$work"
  [ "$(type -t drop_db)" = function ] && drop_db
  return 0
}
trap cleanup EXIT

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
road="${ONDREL_E2E_ROAD:-atspi_road.py}"
printf '分類,文言\n共通,定型文の試験です。\n' > "$work/phrases.csv"
"$work/prog/ondrel-db" phrases import "$db" "$work/phrases.csv" >/dev/null
if [ "$road" = atspi_sign_in.py ]; then
  echo pw-nurse01 | "$work/prog/ondrel-db" staff add "$db" nurse01 山田花子 nurse >/dev/null
  echo pw-doc1 | "$work/prog/ondrel-db" staff add "$db" doc1 佐藤一郎 doctor >/dev/null
fi
# The demo is made by the database's owner; the program connects as a
# workstation's login does, a member of ondrel_users and nothing more.
[ "${ONDREL_E2E_ENGINE:-}" = postgres ] && db="${db/postgres@/ondrel_ws@}"
printf '[System]\r\nTitle=指導指示管理\r\nSystemDB=%s\r\nKarteNoInput=1\r\n' "$db" \
  | iconv -f UTF-8 -t CP932 > "$work/prog/Ondrel.ini"

export XDG_RUNTIME_DIR="$work/runtime"
mkdir -m 700 -p "$XDG_RUNTIME_DIR"
export XDG_CACHE_HOME="$work/cache"
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=0}"
export ONDREL_PROG="$work/prog" ONDREL_DB="$db" ONDREL_SHOTS="${ONDREL_SHOTS:-$build/screenshots}"
mkdir -p "$ONDREL_SHOTS"
"$here/with-desktop.sh" /usr/bin/python3 "$here/$road"
