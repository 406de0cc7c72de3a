#!/usr/bin/env bash
# Builds the Debian package of the console and the simulator into build-package/, then
# checks it: unpacked into a scratch root, its console starts against its simulator on a
# virtual X server and opens its help. Prints the package's path.
# Install it with: sudo apt install ./build-package/varnok_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/deps.sh

cmake -S . -B build-package -G Ninja -DCMAKE_BUILD_TYPE=Release -DVARNOK_TESTS=OFF -DVARNOK_BENCH=OFF \
  -DCMAKE_INSTALL_PREFIX=/usr >/dev/null
cmake --build build-package
(cd build-package && rm -f varnok_*.deb && cpack -G DEB >/dev/null)
deb=$(ls build-package/varnok_*.deb)
tests/install/install_check.sh --deb "$deb"
echo "package: $deb"
