#!/usr/bin/env bash
# Cross-builds, once, the libharu for Windows that the protocol's PDF needs in varnok-cli.exe:
# a static libhpdf.a from Debian's own source package (the libharu that libhpdf-dev is made
# from), compiled with Debian's MinGW-w64 against zlib from libz-mingw-w64-dev; without libpng,
# which only images need. The result lands in a cache outside the checkout:
#   ${VARNOK_HARU_MINGW:-~/.cache/varnok/haru-2.3.0-mingw}
# A second run finds it and returns at once. Prints the folder on its last line.
# The source comes through a source list of this script's own, so the system's apt sources
# are left as they are (VARNOK_DEBIAN_MIRROR names another mirror than theirs).
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=scripts/mingw-source.sh
. scripts/mingw-source.sh

prefix=${VARNOK_HARU_MINGW:-$HOME/.cache/varnok/haru-2.3.0-mingw}
mingw_cache_done "$prefix" && exit 0
mingw_cache_begin "$prefix"
# Only the upstream tarball is used: Debian's part of the package is its packaging (and the
# mirror need not hold it), so apt-get source is asked for the download alone.
mingw_fetch src libharu=2.3.0+dfsg-1 --download-only || true
orig=$work/src/src/libharu_2.3.0+dfsg.orig.tar.xz
[ -f "$orig" ] || { echo "libharu's source (libharu_2.3.0+dfsg.orig.tar.xz) was not fetched from $mirror" >&2; exit 1; }
tar -xf "$orig" -C "$work/src/src"
src=$(find "$work/src/src" -maxdepth 1 -type d -name 'libharu-*' | head -1)

# The configuration configure would write, for Windows with zlib and without libpng.
cat >"$src/include/hpdf_config.h" <<'H'
#ifndef _INCLUDE_HPDF_CONFIG_H
#define _INCLUDE_HPDF_CONFIG_H 1
#define LIBHPDF_HAVE_INTTYPES_H 1
#define LIBHPDF_HAVE_LIBZ 1
#define LIBHPDF_HAVE_MEMORY_H 1
#define LIBHPDF_HAVE_STDINT_H 1
#define LIBHPDF_HAVE_STDLIB_H 1
#define LIBHPDF_HAVE_STRING_H 1
#define LIBHPDF_HAVE_SYS_STAT_H 1
#define LIBHPDF_HAVE_SYS_TYPES_H 1
#define LIBHPDF_HAVE_NOPNGLIB 1
#define HPDF_NOPNGLIB 1
#define LIBHPDF_PACKAGE_NAME "libhpdf"
#define LIBHPDF_PACKAGE_VERSION "2.3.0"
#define LIBHPDF_STDC_HEADERS 1
#endif
H

# The library is some sixty C files: compiled straight, two at a time, no configure step.
mkdir -p "$work/obj" "$prefix/include" "$prefix/lib"
find "$src/src" -name '*.c' -print0 |
  xargs -0 -P 2 -I{} sh -c 'x86_64-w64-mingw32-gcc-posix -O2 -w -I"$1/include" -c "$2" -o "$3/$(basename "$2" .c).o"' \
    sh "$src" {} "$work/obj"
rm -f "$prefix/lib/libhpdf.a"
x86_64-w64-mingw32-ar rcs "$prefix/lib/libhpdf.a" "$work/obj"/*.o
cp "$src"/include/*.h "$prefix/include/"
cp "$src/README" "$prefix/README.libharu"
mingw_cache_finish "libharu built"
