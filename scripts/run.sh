#!/usr/bin/env bash
# Installs what is missing, builds the program and runs it. Arguments go to the program.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake -S . -B build -DZUZ_TESTS=OFF >/dev/null
cmake --build build -j"$(nproc)" -- --no-print-directory >/dev/null
exec build/Installer-f/nimbara_installer "$@"
