#!/usr/bin/env bash
# Installs what the build needs (on Debian, as root or through sudo), builds
# everything into build/ and runs the whole test suite.
set -euo pipefail
cd "$(dirname "$0")"
. ./scripts/deps.sh
kovra_install_deps

cmake -S . -B build -G Ninja -DKOVRA_TESTS=ON
cmake --build build
ctest --test-dir build --output-on-failure --timeout 600
