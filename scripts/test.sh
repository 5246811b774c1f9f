#!/usr/bin/env bash
# Installs the dependencies, checks the formatting, builds Delvora and runs every test: once in
# a normal build, once under AddressSanitizer and UndefinedBehaviorSanitizer (leaks included),
# then each fuzz target briefly.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
scripts/deps.sh
jobs=${DELVORA_JOBS:-$(nproc)}

scripts/check-format.sh

# Warnings fail the build here; the option stays off for builds with other compilers.
scripts/build.sh build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDELVORA_WERROR=ON
(cd build && ctest --output-on-failure -j "$jobs")

scripts/build.sh build-asan -DCMAKE_BUILD_TYPE=Debug -DDELVORA_SANITIZE=ON -DDELVORA_WERROR=ON
# A leak fails the test that shows it.
(cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --output-on-failure -j "$jobs" -LE no-sanitize)

if compgen -G "fuzz/*.cpp" >/dev/null || compgen -G "*/fuzz/*.cpp" >/dev/null; then
  scripts/build.sh build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
    -DDELVORA_FUZZ=ON -DDELVORA_TESTS=OFF
  scripts/run-fuzzers.sh build-fuzz "${DELVORA_FUZZ_SECONDS:-10}"
fi
echo "All tests passed."
