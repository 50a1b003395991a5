#!/usr/bin/env bash
# Builds Quillon and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake --preset app >/dev/null
cmake --build --preset app
echo "Quillon's window is not built yet: this builds the relay engine and its harness,"
echo "build/app/bin/quillon-relay (see the README's section for developers)."
