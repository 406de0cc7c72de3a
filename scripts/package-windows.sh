#!/usr/bin/env bash
# Builds varnok-cli for 64-bit Windows with MinGW-w64 and packs build-win/varnok-cli-<version>-win64.zip:
# the .exe (no DLLs beside it), the man page as text, a short README in Russian. Then checks
# that the .exe alone runs in a fresh Wine prefix. Prints the zip's path.
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/deps.sh

cmake -S . -B build-win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVARNOK_BENCH=OFF >/dev/null
cmake --build build-win --target varnok-cli
version=$(sed -n 's/^project(varnok VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
name=varnok-cli-$version-win64

stage=$(mktemp -d)
trap 'rm -rf "$stage"; WINEPREFIX="$stage/prefix" wineserver -k >/dev/null 2>&1 || true' EXIT
mkdir "$stage/$name"
x86_64-w64-mingw32-strip -o "$stage/$name/varnok-cli.exe" build-win/bin/varnok-cli.exe
# UTF-8 with its mark and Windows' own line ends, as Notepad reads text best.
for_windows() { printf '\xEF\xBB\xBF'; sed 's/$/\r/'; }
LC_ALL=C.UTF-8 groff -k -man -Tutf8 -P -cbou docs/varnok-cli.1 | for_windows >"$stage/$name/varnok-cli.txt"
for_windows <docs/windows/README.txt >"$stage/$name/README.txt"
rm -f "build-win/$name.zip"
(cd "$stage" && zip -qr "$OLDPWD/build-win/$name.zip" "$name")

# The .exe alone, in a fresh prefix: it runs and answers --help in Russian.
mkdir "$stage/alone"
(cd "$stage/alone" && unzip -q "$OLDPWD/build-win/$name.zip" "$name/varnok-cli.exe")
help=$(WINEPREFIX="$stage/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" DISPLAY= \
  wine "$stage/alone/$name/varnok-cli.exe" --help 2>/dev/null)
grep -q "Прибор Varnok из терминала" <<<"$help" || { echo "the packed varnok-cli.exe did not run" >&2; exit 1; }
if x86_64-w64-mingw32-objdump -p "$stage/alone/$name/varnok-cli.exe" | grep -iE 'DLL Name: (libstdc|libgcc|libwinpthread)'; then
  echo "varnok-cli.exe needs a MinGW DLL beside it" >&2; exit 1
fi
echo "package: build-win/$name.zip"
