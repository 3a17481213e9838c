#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: the normal build, the
# whole suite again under AddressSanitizer and UndefinedBehaviorSanitizer (where a
# program that leaks on purpose must fail), the threading stress tests (suites
# named *Stress) under ThreadSanitizer, and every fuzz target over its corpus
# and its findings.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh test
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

echo "== fuzz targets over their corpora and findings"
CC=clang-14 CXX=clang++-14 build build-fuzz -DZUZ_FUZZ=ON -DZUZ_TESTS=OFF
shopt -s nullglob
for corpus in fuzz/corpus/*/; do
	name=$(basename "$corpus")
	# Files named one by one run once each and write nothing back; any crash,
	# leak, hang or sanitizer report fails the stage.
	inputs=("$corpus"* fuzz/findings/"$name"/*)
	log=build-fuzz/fuzz/$name.log
	# One thread for libsquish: its idle workers would spin on every core.
	if ! OMP_NUM_THREADS=1 build-fuzz/fuzz/"fuzz_$name" -rss_limit_mb=2048 -malloc_limit_mb=1024 -timeout=30 \
		"${inputs[@]}" >"$log" 2>&1; then
		tail -n 40 "$log"
		echo "fuzz_$name failed"
		exit 1
	fi
	echo "fuzz_$name: ${#inputs[@]} inputs"
done
