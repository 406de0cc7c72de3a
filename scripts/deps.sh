#!/usr/bin/env bash
# Installs, from Debian's packages, everything the console, the simulator and the tests need,
# with the MinGW-w64 cross compiler and Wine for the Windows build of varnok-cli.
# Safe to run again: packages already present are left as they are. Packages named as
# arguments are installed too (scripts/fuzz.sh adds clang this way).
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config ccache
  libgtest-dev libgmock-dev libbenchmark-dev
  qt6-base-dev qt6-base-dev-tools libqcustomplot-dev qt6-qpa-plugins libgl-dev
  libsimpleini-dev libicu-dev nlohmann-json3-dev
  libmodbus-dev mbpoll
  libmosquitto-dev mosquitto mosquitto-clients openssl strace
  g++-mingw-w64-x86-64-posix wine wine64 socat zip groff-base dpkg-dev nsis
  xvfb xauth x11-utils xdotool imagemagick fonts-dejavu-core desktop-file-utils
  libhpdf-dev poppler-utils libz-mingw-w64-dev
  libsqlite3-dev sqlite3 tcl
  locales libreoffice-calc-nogui python3-jsonschema
  "$@"
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

# The console's users work under a Russian locale; the tests run the number formats under it.
if ! locale -a 2>/dev/null | grep -qi '^ru_RU\.utf-\?8$'; then
  $sudo localedef -i ru_RU -c -f UTF-8 ru_RU.UTF-8
fi
