#!/usr/bin/env bash
# Builds the Debian package of the client from a release build without test
# hooks (in build-package/) and checks it with lintian. The package lands in
# build-package/; install it with `sudo apt install ./build-package/<name>.deb`.
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/setup.sh
cmake -S . -B build-package -G Ninja -DCMAKE_BUILD_TYPE=Release -DQM_TEST_HOOKS=OFF \
  -DQM_BUILD_TESTS=OFF -DQM_BUILD_BENCH=OFF
cmake --build build-package --target client
rm -f build-package/*.deb
(cd build-package && cpack -G DEB)
deb=$(ls build-package/*.deb)
lintian --fail-on error "$deb"
echo "package: $deb"
