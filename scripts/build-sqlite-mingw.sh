#!/usr/bin/env bash
# Cross-builds, once, the SQLite for Windows that the unit's history needs in varnok-cli.exe:
# the amalgamation (sqlite3.c) made on this machine from Debian's own source package (the
# sqlite3 that libsqlite3-dev is made from), compiled with Debian's MinGW-w64 into a static
# libsqlite3.a. The result lands in a cache outside the checkout:
#   ${VARNOK_SQLITE_MINGW:-~/.cache/varnok/sqlite-mingw}
# A second run finds it and returns at once. Prints the folder on its last line.
# The source comes through a source list of this script's own, so the system's apt sources
# are left as they are (VARNOK_DEBIAN_MIRROR names another mirror than theirs).
set -euo pipefail
cd "$(dirname "$0")/.."

prefix=${VARNOK_SQLITE_MINGW:-$HOME/.cache/varnok/sqlite-mingw}
if [ -f "$prefix/.complete" ]; then
  echo "$prefix"
  exit 0
fi

. scripts/debian-mirror.sh
mirror=$(debian_mirror) || exit 1
./scripts/deps.sh
work=$(dirname "$prefix")/sqlite-mingw.work
started=$(date +%s)
rm -rf "$work" "$prefix"

mkdir -p "$work/apt/lists/partial" "$work/apt/archives/partial" "$work/src"
echo "deb-src $mirror bookworm main" >"$work/apt/sources.list"
apt_own=(-o "Dir::Etc::SourceList=$work/apt/sources.list" -o "Dir::Etc::SourceParts=-"
  -o "Dir::State::Lists=$work/apt/lists" -o "Dir::Cache::Archives=$work/apt/archives"
  -o "APT::Sandbox::User=$(id -un)")
apt-get -q "${apt_own[@]}" update
# Only the upstream tarball is used (Debian's part is its packaging), so the download alone.
(cd "$work/src" && apt-get -q "${apt_own[@]}" source --download-only sqlite3) || true
orig=$(find "$work/src" -maxdepth 1 -name 'sqlite3_*.orig.tar.*' ! -name '*orig-*' | head -1)
[ -n "$orig" ] || { echo "SQLite's source (sqlite3_*.orig.tar.*) was not fetched from $mirror" >&2; exit 1; }
tar -xf "$orig" -C "$work/src"
src=$(find "$work/src" -mindepth 1 -maxdepth 1 -type d | head -1)

# The amalgamation: the tarball's own when it has one, else made by its makefile (with tclsh).
if [ -f "$src/sqlite3.c" ]; then
  amal=$src
else
  mkdir -p "$work/host"
  (cd "$work/host" && "$src/configure" --disable-tcl >/dev/null && make -j2 sqlite3.c >/dev/null)
  amal=$work/host
fi

mkdir -p "$prefix/include" "$prefix/lib"
x86_64-w64-mingw32-gcc-posix -O2 -w -DSQLITE_THREADSAFE=1 -DSQLITE_OMIT_LOAD_EXTENSION \
  -DSQLITE_DEFAULT_FOREIGN_KEYS=1 -c "$amal/sqlite3.c" -o "$work/sqlite3.o"
x86_64-w64-mingw32-ar rcs "$prefix/lib/libsqlite3.a" "$work/sqlite3.o"
cp "$amal/sqlite3.h" "$amal/sqlite3ext.h" "$prefix/include/"
grep -m1 '#define SQLITE_VERSION ' "$amal/sqlite3.h" >"$prefix/VERSION"
rm -rf "$work"
echo "SQLite built in $(($(date +%s) - started)) s" >"$prefix/.complete"
echo "$prefix"
