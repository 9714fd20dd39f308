#!/usr/bin/env bash
# Sets up the machine, builds everything and runs every test: the normal build
# (inside a desktop-like session: a session bus with a sound server and a tray
# watcher on it, and a display, none of which a test may reach), the same
# under AddressSanitizer and UndefinedBehaviorSanitizer, and the fuzz targets
# for a bounded time each.
#   QM_TEST_SKIP_SANITIZE=1  skips the sanitizer build
#   QM_TEST_SKIP_FUZZ=1      skips the fuzz targets
#   QM_FUZZ_SECONDS=N        seconds per fuzz target (default 30)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
jobs=$(nproc)

./scripts/setup.sh

# build_and_test DIR [WRAPPER...] -- [CMAKE OPTION...]: ctest runs under WRAPPER.
build_and_test() {
  local dir=$1; shift
  local wrapper=()
  while [ "$1" != "--" ]; do wrapper+=("$1"); shift; done
  shift
  cmake -S "$root" -B "$dir" -G Ninja -DQM_TEST_HOOKS=ON "$@"
  cmake --build "$dir" -j "$jobs"
  (cd "$dir" && "${wrapper[@]}" ctest --output-on-failure -j "$jobs" --timeout 600)
}

echo "== build and test (inside a desktop-like session) =="
build_and_test "$root/build" "$root/build/tests/qm_desktop_session" -- -DCMAKE_BUILD_TYPE=RelWithDebInfo

if [ "${QM_TEST_SKIP_SANITIZE:-0}" != 1 ]; then
  echo "== build and test under AddressSanitizer and UndefinedBehaviorSanitizer =="
  build_and_test "$root/build-asan" -- -DCMAKE_BUILD_TYPE=Debug -DQM_SANITIZE=ON -DQM_BUILD_BENCH=OFF
fi

if [ "${QM_TEST_SKIP_FUZZ:-0}" != 1 ] && [ -d "$root/fuzz" ]; then
  echo "== fuzz targets =="
  CC=clang CXX=clang++ cmake -S "$root" -B "$root/build-fuzz" -G Ninja -DQM_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo
  cmake --build "$root/build-fuzz" -j "$jobs"
  "$root/scripts/run-fuzz.sh" "$root/build-fuzz" "${QM_FUZZ_SECONDS:-30}"
fi
echo "== all tests passed =="
