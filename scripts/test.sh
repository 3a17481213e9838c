#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: the normal build, the
# whole suite again under AddressSanitizer and UndefinedBehaviorSanitizer (where a
# program that leaks on purpose must fail), and the threading stress tests
# (suites named *Stress) under ThreadSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
jobs=$(nproc)

build() {  # build DIR CMAKE-OPTIONS...
	local dir=$1
	shift
	cmake -S . -B "$dir" -DZUZ_TESTS=ON "$@" >/dev/null
	cmake --build "$dir" -j"$jobs" -- --no-print-directory >/dev/null
}

echo "== tests"
build build
(cd build && ctest --no-tests=error -j"$jobs" --output-on-failure --timeout 600)

echo "== tests under AddressSanitizer and UndefinedBehaviorSanitizer"
build build-asan -DZUZ_SANITIZE=ON
(cd build-asan && ctest --no-tests=error -j"$jobs" --output-on-failure --timeout 600)

echo "== threading tests under ThreadSanitizer"
build build-tsan -DZUZ_TSAN=ON
(cd build-tsan && TSAN_OPTIONS=halt_on_error=1 ctest --no-tests=error -j"$jobs" --output-on-failure --timeout 600 -R Stress)
