#!/usr/bin/env bash
# The Debian package as a clinic's PC gets it: installed with apt, started
# the first time as from the menu (set-up with the demonstration data, a memo
# saved, closed), then removed; the user's program folder and memos stay.
# Needs root or sudo (the package is installed for real); exit 77 without.
set -euo pipefail
deb="$(realpath "$1")"
here="$(cd "$(dirname "$0")" && pwd)"
if [ "$(id -u)" -eq 0 ]; then
  sudo=()
elif sudo -n true 2>/dev/null; then
  sudo=(sudo -n)
else
  echo "SKIP: installing the package needs root or sudo"
  exit 77
fi
if dpkg -s ondrel >/dev/null 2>&1; then
  echo "FAIL: a package ondrel is installed already; this test installs and removes its own" >&2
  exit 1
fi
home="$(mktemp -d)"
cleanup() {
  office_pid="$(cat "$home/.cache/ondrel/office-profile/office.pid" 2>/dev/null || true)"
  [ -n "$office_pid" ] && kill -KILL -- "-$office_pid" 2>/dev/null || true
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get remove -y -qq ondrel >/dev/null 2>&1 || true
  rm -rf "$home"
}
trap cleanup EXIT

"${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$deb" >/dev/null
for f in /usr/bin/ondrel /usr/bin/ondrel-db /usr/bin/ondrel-link /usr/bin/ondrel-report \
         /usr/share/applications/ondrel.desktop /usr/share/icons/hicolor/scalable/apps/ondrel.svg \
         /usr/share/man/man1/ondrel.1.gz "/usr/share/ondrel/Template/指導指示管理.xls"; do
  [ -e "$f" ] || { echo "FAIL: the package did not install $f" >&2; exit 1; }
done

# A user of their own: nothing of this machine's settings leaks in.
export HOME="$home"
unset XDG_DATA_HOME XDG_CONFIG_HOME ONDREL_HOME ASAN_OPTIONS
export XDG_CACHE_HOME="$home/.cache"
export XDG_RUNTIME_DIR="$home/runtime"
mkdir -m 700 -p "$XDG_RUNTIME_DIR"
"$here/with-desktop.sh" /usr/bin/python3 "$here/atspi_first_start.py"

"${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get remove -y -qq ondrel >/dev/null
[ ! -e /usr/bin/ondrel ] || { echo "FAIL: /usr/bin/ondrel is still there after the removal" >&2; exit 1; }
folder="$home/.local/share/ondrel"
for f in Ondrel.ini ondrel-demo.db "Template/指導指示管理.xls" 帳票; do
  [ -e "$folder/$f" ] || { echo "FAIL: $folder/$f is gone after the removal" >&2; exit 1; }
done
[ "$(sqlite3 "$folder/ondrel-demo.db" "select count(*) from tblDatCommon where LText000 = '初回起動の試験で保存したメモ'")" = 1 ] \
  || { echo "FAIL: the memo is gone after the removal" >&2; exit 1; }
echo "PASS: installed, set up, memo saved, removed; the user's folder and memo remain"
