#!/usr/bin/env bash
# Builds the Windows programs with MinGW-w64 into build-win/ and packs them:
#  - build-win/varnok-cli-<version>-win64.zip: the tool alone (one .exe, no DLLs beside it), its
#    man page as text, a short README and the user's manual for Windows, both in Russian;
#  - when the Qt for Windows is in its cache (scripts/build-qt-mingw.sh makes it):
#    build-win/varnok-<version>-win64.zip with the console, its help, the tool, the DLLs they
#    need and the manuals, and build-win/varnok-<version>-setup.exe, its installer (NSIS).
# Both carry the DejaVu Sans fonts (with their licence) beside the programs: the protocol's
# PDF embeds them, and Windows has none of its own that is known to be there.
# Then checks that the tool's .exe alone runs in a fresh Wine prefix, and that every DLL the
# console's files import is in its package or is a system DLL. Prints the packages' paths.
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/deps.sh
# libharu, SQLite, OpenSSL and libmosquitto for Windows, which varnok-cli links statically;
# each built once into its cache.
./scripts/build-haru-mingw.sh >/dev/null
./scripts/build-sqlite-mingw.sh >/dev/null
mqtt=$(./scripts/build-mqtt-mingw.sh | tail -1)

qt=${VARNOK_QT_MINGW:-$HOME/.cache/varnok/qt-6.4.2-mingw}
qt_args=()
[ -f "$qt/.complete" ] && qt_args=(-DCMAKE_PREFIX_PATH="$qt")
cmake -S . -B build-win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVARNOK_BENCH=OFF "${qt_args[@]}" >/dev/null
version=$(sed -n 's/^project(varnok VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)

stage=$(mktemp -d)
trap 'rm -rf "$stage"; WINEPREFIX="$stage/prefix" wineserver -k >/dev/null 2>&1 || true' EXIT
export WINEPREFIX="$stage/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64

# UTF-8 with its mark and Windows' own line ends, as Notepad reads text best.
for_windows() { printf '\xEF\xBB\xBF'; sed 's/$/\r/'; }
manual() { LC_ALL=C.UTF-8 groff -k -man -Tutf8 -P -cbou docs/varnok-cli.1 | for_windows; }

# The tool alone.
cmake --build build-win --target varnok-cli
cli=varnok-cli-$version-win64
mkdir "$stage/$cli"
x86_64-w64-mingw32-strip -o "$stage/$cli/varnok-cli.exe" build-win/bin/varnok-cli.exe
manual >"$stage/$cli/varnok-cli.txt"
fonts() {  # DEST: the protocol's fonts and their licence
  cp /usr/share/fonts/truetype/dejavu/DejaVuSans.ttf /usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf "$1/"
  for_windows </usr/share/doc/fonts-dejavu-core/copyright >"$1/DejaVuSans-LICENSE.txt"
}
fonts "$stage/$cli"
licences() {  # DEST: the licences of what the .exe has linked in for read --mqtt
  for f in "$mqtt"/licences/*.txt; do for_windows <"$f" >"$1/$(basename "$f")"; done
}
licences "$stage/$cli"
for_windows <docs/windows/README.txt >"$stage/$cli/README.txt"
for_windows <docs/windows/manual.txt >"$stage/$cli/manual.txt"
rm -f "build-win/$cli.zip"
(cd "$stage" && zip -qr "$OLDPWD/build-win/$cli.zip" "$cli")

# Its .exe alone, in a fresh prefix: it runs and answers --help in Russian.
mkdir "$stage/alone"
(cd "$stage/alone" && unzip -q "$OLDPWD/build-win/$cli.zip" "$cli/varnok-cli.exe")
help=$(DISPLAY= wine "$stage/alone/$cli/varnok-cli.exe" --help 2>/dev/null)
grep -q "Прибор Varnok из терминала" <<<"$help" || { echo "the packed varnok-cli.exe did not run" >&2; exit 1; }
# It imports the system's DLLs alone: no MinGW runtime, no OpenSSL, nothing to put beside it.
if x86_64-w64-mingw32-objdump -p "$stage/alone/$cli/varnok-cli.exe" | sed -n 's/^\s*DLL Name: //p' |
  grep -viE '^(advapi32|crypt32|kernel32|msvcrt|shell32|user32|winmm|ws2_32)\.dll$'; then
  echo "varnok-cli.exe needs a DLL beside it that Windows does not have" >&2; exit 1
fi
echo "package: build-win/$cli.zip"

if [ ${#qt_args[@]} -eq 0 ]; then
  echo "no Qt for Windows at $qt (scripts/build-qt-mingw.sh makes it): the console's package is not made" >&2
  exit 0
fi

# The console with everything it needs beside it.
cmake --build build-win --target varnok varnok-cli
app=varnok-$version-win64
dest=$stage/$app
mkdir -p "$dest/platforms" "$dest/styles"
x86_64-w64-mingw32-strip -o "$dest/varnok.exe" build-win/bin/varnok.exe
cp "$stage/$cli/varnok-cli.exe" "$dest/"
cp src/console/help/varnok.hlp "$dest/"
fonts "$dest"
licences "$dest"
for dll in Qt6Core Qt6Gui Qt6Widgets Qt6PrintSupport QCustomPlotQt6; do cp "$qt/bin/$dll.dll" "$dest/"; done
cp "$qt/plugins/platforms/qwindows.dll" "$dest/platforms/"
cp "$qt/plugins/styles/qwindowsvistastyle.dll" "$dest/styles/"
gcc_dir=$(dirname "$(x86_64-w64-mingw32-g++-posix -print-libgcc-file-name)")
cp "$gcc_dir/libstdc++-6.dll" "$gcc_dir/libgcc_s_seh-1.dll" /usr/x86_64-w64-mingw32/lib/libwinpthread-1.dll "$dest/"
find "$dest" -name '*.dll' -exec x86_64-w64-mingw32-strip --strip-unneeded {} +
manual >"$dest/varnok-cli.txt"
for_windows <docs/windows/README.txt >"$dest/README.txt"
for_windows <docs/windows/manual.txt >"$dest/manual.txt"

# Every DLL imported is in the package or is one of the system's: a fresh prefix has it, or it
# is an API set contract (api-ms-win-…, ext-ms-win-…), which the loader itself resolves.
wineboot -i >/dev/null 2>&1
system32=$WINEPREFIX/drive_c/windows/system32
missing=0
while IFS= read -r -d '' file; do
  while read -r dll; do
    [[ ${dll,,} == api-ms-win-* || ${dll,,} == ext-ms-win-* ]] && continue
    if ! find "$dest" -maxdepth 1 -iname "$dll" | grep -q . && ! find "$system32" -maxdepth 1 -iname "$dll" | grep -q .; then
      echo "${file#"$dest"/} imports $dll, which is neither in the package nor a system DLL" >&2
      missing=1
    fi
  done < <(x86_64-w64-mingw32-objdump -p "$file" | sed -n 's/^\s*DLL Name: //p')
done < <(find "$dest" \( -name '*.exe' -o -name '*.dll' \) -print0)
[ "$missing" -eq 0 ] || exit 1

rm -f "build-win/$app.zip"
(cd "$stage" && zip -qr "$OLDPWD/build-win/$app.zip" "$app")
echo "package: build-win/$app.zip"

# The installer; its uninstaller removes exactly the files put there.
list=$stage/files.nsh
(cd "$dest" && find . -type f | sed 's|^\./||; s|/|\\|g' | sort | sed 's|^|Delete "$INSTDIR\\|; s|$|"|'
  find . -mindepth 1 -type d | sed 's|^\./||; s|/|\\|g' | sort -r | sed 's|^|RMDir "$INSTDIR\\|; s|$|"|') >"$list"
setup=build-win/varnok-$version-setup.exe
makensis -V2 -DVERSION="$version" -DSTAGE="$dest" -DSTAGE_LIST="$list" -DOUTFILE="$PWD/$setup" \
  -DICON="$PWD/src/console/resources/varnok.ico" cmake/varnok.nsi
echo "package: $setup"
