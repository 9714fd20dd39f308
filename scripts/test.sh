#!/usr/bin/env bash
# Sets up the machine, builds everything and runs every test: the normal build
# (inside a desktop-like session: a session bus with a sound server and a tray
# watcher on it, and a display, none of which a test may reach), the same
# under AddressSanitizer and UndefinedBehaviorSanitizer, the tests of the
# threaded code under ThreadSanitizer, and the fuzz targets for a bounded time
# each. Each stage prints what it cost.
#   QM_TEST_SKIP_SANITIZE=1  skips the sanitizer build
#   QM_TEST_SKIP_TSAN=1      skips the ThreadSanitizer stage
#   QM_TEST_SKIP_FUZZ=1      skips the fuzz targets
#   QM_FUZZ_SECONDS=N        seconds per fuzz target (default 10; its whole corpus runs in any case; as many run at once as there are cores)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
jobs=$(nproc)

./scripts/setup.sh

# Tests run one more at a time than there are cores: most of a test's time is
# spent waiting on its servers, sockets and timers (at one per core the cores
# sit idle 40 % of the time), and every test must pass on a loaded machine.
test_jobs=$((jobs + 1))

# build_and_test DIR [WRAPPER...] -- [CMAKE OPTION...]: ctest runs under
# WRAPPER, with the options in ctest_options.
ctest_options=()
build_and_test() {
  local dir=$1; shift
  local wrapper=()
  while [ "$1" != "--" ]; do wrapper+=("$1"); shift; done
  shift
  cmake -S "$root" -B "$dir" -G Ninja -DQM_TEST_HOOKS=ON "$@"
  cmake --build "$dir" -j "$jobs"
  (cd "$dir" && "${wrapper[@]}" ctest --output-on-failure -j "$test_jobs" --timeout 600 "${ctest_options[@]}")
}

stage_start=$SECONDS
stage_done() { echo "== $1: $(( (SECONDS - stage_start) / 60 )) min $(( (SECONDS - stage_start) % 60 )) s =="; stage_start=$SECONDS; }

echo "== build and test (inside a desktop-like session) =="
build_and_test "$root/build" "$root/build/tests/qm_desktop_session" -- -DCMAKE_BUILD_TYPE=RelWithDebInfo
stage_done "normal stage"

if [ "${QM_TEST_SKIP_SANITIZE:-0}" != 1 ]; then
  echo "== build and test under AddressSanitizer and UndefinedBehaviorSanitizer =="
  # Left out: the voice tests that measure sound over emulated loss, flaps
  # and echo paths (minutes of real time each; the code they drive runs
  # sanitized in the room, interop and unit tests and the datagram fuzz
  # target) and the layering check, which builds nothing sanitized.
  # Line tables only (-g1): a report names every frame's function, file and
  # line all the same, and the build takes about a quarter less time.
  ctest_options=(-E '^(nim_path_tests|nim_processing_e2e_tests|layering_test)$')
  build_and_test "$root/build-asan" -- -DCMAKE_BUILD_TYPE=Debug -DQM_SANITIZE=ON -DQM_BUILD_BENCH=OFF \
    -DCMAKE_CXX_FLAGS_DEBUG=-g1 -DCMAKE_C_FLAGS_DEBUG=-g1
  ctest_options=()
  stage_done "sanitizer stage"
fi

if [ "${QM_TEST_SKIP_TSAN:-0}" != 1 ]; then
  # The project's own threads: the worker pool, the message queue, cookie
  # calls, the voice module (against a real voice server) and the voice
  # events' reads of the main window, which races with its layout when
  # unguarded. Only these tests and what they link are built.
  echo "== the threaded code under ThreadSanitizer =="
  tsan_tests=(services_pool_tests uilib_messages_test cookies_unit_test services_nim_tests shell_tests
              nim_unit_tests nim_e2e_tests)
  cmake -S "$root" -B "$root/build-tsan" -G Ninja -DQM_TEST_HOOKS=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQM_TSAN=ON \
    -DQM_BUILD_BENCH=OFF "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O2 -g1 -DNDEBUG" "-DCMAKE_C_FLAGS_RELWITHDEBINFO=-O2 -g1 -DNDEBUG"
  cmake --build "$root/build-tsan" -j "$jobs" --target "${tsan_tests[@]}"
  (cd "$root/build-tsan" && ctest --output-on-failure -j "$test_jobs" --timeout 600 \
    -R "^($(IFS='|'; echo "${tsan_tests[*]}"))\$")
  stage_done "ThreadSanitizer stage"
fi

if [ "${QM_TEST_SKIP_FUZZ:-0}" != 1 ] && [ -d "$root/fuzz" ]; then
  echo "== fuzz targets =="
  CC=clang CXX=clang++ cmake -S "$root" -B "$root/build-fuzz" -G Ninja -DQM_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo
  cmake --build "$root/build-fuzz" -j "$jobs"
  "$root/scripts/run-fuzz.sh" "$root/build-fuzz" "${QM_FUZZ_SECONDS:-10}"
  stage_done "fuzz stage"
fi
echo "== all tests passed =="
