#!/usr/bin/env bash
# Cross-builds, once, what varnok-cli.exe needs for read --mqtt: OpenSSL and libmosquitto,
# both static, from Debian's own source packages at pinned versions, with Debian's MinGW-w64
# (the POSIX thread model, as the project's builds use). The result lands in a cache outside
# the checkout, with both licences:
#   ${VARNOK_MQTT_MINGW:-~/.cache/varnok/mqtt-mingw}
# A second run finds it and returns at once. Prints the folder on its last line. OpenSSL is
# the long part (about ten minutes on two cores) and is kept when the later step fails.
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=scripts/mingw-source.sh
. scripts/mingw-source.sh

openssl_version=3.0.20-1~deb12u2
mosquitto_version=2.0.11-1.2+deb12u2
prefix=${VARNOK_MQTT_MINGW:-$HOME/.cache/varnok/mqtt-mingw}
mingw_cache_done "$prefix" && exit 0
keep=0
[ -f "$prefix/.openssl" ] && keep=1
mingw_cache_begin "$prefix"
mkdir -p "$prefix/licences"

if [ ! -f "$prefix/.openssl" ]; then
  mingw_fetch openssl "openssl=$openssl_version"
  src=$(find "$work/src/openssl" -mindepth 1 -maxdepth 1 -type d -name 'openssl-*' | head -1)
  [ -n "$src" ] || { echo "OpenSSL's source ($openssl_version) was not fetched from $mirror" >&2; exit 1; }
  # Static only, no engines or modules to load at run time: the tool stays one .exe. The
  # built-in folder is never read on Windows (the tool hands OpenSSL its certificates).
  (cd "$src" &&
    ./Configure mingw64 no-shared no-tests no-module no-dso no-engine \
      --prefix="$prefix" --libdir=lib --openssldir="$prefix/ssl" \
      CC=x86_64-w64-mingw32-gcc-posix AR=x86_64-w64-mingw32-ar RANLIB=x86_64-w64-mingw32-ranlib \
      RC=x86_64-w64-mingw32-windres >/dev/null &&
    make -j2 build_libs >/dev/null && make install_dev >/dev/null)
  cp "$src/LICENSE.txt" "$prefix/licences/OpenSSL-LICENSE.txt"
  echo "OpenSSL $openssl_version built in $(($(date +%s) - started)) s" >"$prefix/.openssl"
fi

# libmosquitto: the client library alone, its static archive only (the DLL is not wanted and
# would need OpenSSL's system libraries at its link). TLS on, the rest of the tree off.
mingw_fetch mosquitto "mosquitto=$mosquitto_version"
src=$(find "$work/src/mosquitto" -mindepth 1 -maxdepth 1 -type d -name 'mosquitto-*' | head -1)
[ -n "$src" ] || { echo "mosquitto's source ($mosquitto_version) was not fetched from $mirror" >&2; exit 1; }
patch -d "$src" -p1 --quiet <scripts/patches/mosquitto-2.0.11-mingw.patch
cmake -S "$src" -B "$work/mosquitto-build" -G Ninja -Wno-dev -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64.cmake" \
  -DOPENSSL_INCLUDE_DIR="$prefix/include" -DOPENSSL_SSL_LIBRARY="$prefix/lib/libssl.a" \
  -DOPENSSL_CRYPTO_LIBRARY="$prefix/lib/libcrypto.a" \
  -DLIB_EAY="$prefix/lib/libcrypto.a" -DSSL_EAY="$prefix/lib/libssl.a" \
  -DWITH_TLS=ON -DWITH_CJSON=OFF -DWITH_CLIENTS=OFF -DWITH_BROKER=OFF -DWITH_APPS=OFF \
  -DWITH_PLUGINS=OFF -DDOCUMENTATION=OFF -DWITH_LIB_CPP=OFF -DWITH_STATIC_LIBRARIES=ON >/dev/null
cmake --build "$work/mosquitto-build" --target libmosquitto_static
mkdir -p "$prefix/include" "$prefix/lib"
cp "$work/mosquitto-build/lib/libmosquitto_static.a" "$prefix/lib/"
cp "$src/include/mosquitto.h" "$src/include/mqtt_protocol.h" "$prefix/include/"
cp "$src/epl-v20" "$prefix/licences/mosquitto-epl-v20.txt"
cp "$src/edl-v10" "$prefix/licences/mosquitto-edl-v10.txt"
cp "$src/LICENSE.txt" "$prefix/licences/mosquitto-LICENSE.txt"

for part in lib/libssl.a lib/libcrypto.a include/openssl/ssl.h lib/libmosquitto_static.a include/mosquitto.h; do
  [ -f "$prefix/$part" ] || { echo "the Windows MQTT build has no $part" >&2; exit 1; }
done
cat "$prefix/.openssl" >"$prefix/.complete"
mingw_cache_finish "mosquitto $mosquitto_version built"
