#!/usr/bin/env bash
# tools/valgrind-sample.sh [gtest filter]: runs a sample of the damaged-picture corpus under
# Valgrind's memcheck, which reports a pixel that was never written as soon as the test branches on
# it (the corpus test sums every pixel of every thumbnail and tests the sum). Too slow for CI; run
# by hand after changing a reader. Builds without sanitizers in build/valgrind.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
filter=${1:-'Families/MalformedCorpus.*:MalformedCorpusGenerator.*'}
build=${OMBREL_VALGRIND_BUILD:-$root/build/valgrind}

if ! command -v valgrind >/dev/null; then
    echo "valgrind-sample: valgrind is not installed (apt-get install valgrind)" >&2
    exit 1
fi
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" -j"$(nproc)" --target gallery_tests

# Qt's and fontconfig's own start-up is not what is being checked: only errors count, not leaks.
QT_QPA_PLATFORM=offscreen OMBREL_TIME_FACTOR=60 valgrind --tool=memcheck --error-exitcode=99 --track-origins=yes \
    --leak-check=no --num-callers=30 \
    "$build/tests/gallery/gallery_tests" --gtest_filter="$filter"
