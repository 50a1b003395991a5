#!/usr/bin/env bash
# Builds every test and runs them: the whole suite with AddressSanitizer and
# UndefinedBehaviorSanitizer, the concurrency tests once more with ThreadSanitizer, and a
# short run of every fuzz target over its corpus, all in one ctest run so that its summary
# line ends the output.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
scripts/deps.sh test
cmake --preset test >/dev/null
cmake --build --preset test
cmake --preset tsan >/dev/null
cmake --build --preset tsan
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
mkdir -p build/all
printf 'subdirs("%s/build/test" "%s/build/tsan" "%s/build/fuzz")\n' "$root" "$root" "$root" > build/all/CTestTestfile.cmake
cd build/all
exec ctest --output-on-failure --no-label-summary -j "$(nproc)" --timeout 900
