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
# shellcheck source=scripts/mingw-source.sh
. scripts/mingw-source.sh

prefix=${VARNOK_SQLITE_MINGW:-$HOME/.cache/varnok/sqlite-mingw}
mingw_cache_done "$prefix" && exit 0
mingw_cache_begin "$prefix"
# Only the upstream tarball is used: Debian's part of the package is its packaging (and the
# mirror need not hold it), so apt-get source is asked for the download alone.
mingw_fetch src sqlite3 --download-only || true
orig=$(find "$work/src/src" -maxdepth 1 -name 'sqlite3_*.orig.tar.*' ! -name '*orig-*' | head -1)
[ -n "$orig" ] || { echo "SQLite's source (sqlite3_*.orig.tar.*) was not fetched from $mirror" >&2; exit 1; }
tar -xf "$orig" -C "$work/src/src"
src=$(find "$work/src/src" -mindepth 1 -maxdepth 1 -type d | head -1)

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
mingw_cache_finish "SQLite built"
