#!/usr/bin/env bash
# Builds Quillon and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake --preset release >/dev/null
cmake --build --preset release
echo "Quillon's window is not built yet: the engine, its tests and the development tools are built in build/release/bin."
