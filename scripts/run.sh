#!/usr/bin/env bash
# Installs what is missing, builds the program in build-run/ (no tests) and runs it
# there; it writes build-run/Installer-f/Log.txt. Arguments go to the program.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh run
cmake -S . -B build-run -DZUZ_TESTS=OFF >/dev/null
cmake --build build-run -j"$(nproc)" -- --no-print-directory >/dev/null
exec build-run/Installer-f/nimbara_installer "$@"
