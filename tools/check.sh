#!/usr/bin/env bash
# tools/check.sh: installs what is missing, builds everything with warnings as errors, and runs the
# whole test suite (unit tests headless, end-to-end tests in their own virtual X display).
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build="$root/build/ci"

"$root/tools/install-deps.sh"

echo "== build ($build)"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DOMBREL_WERROR=ON
cmake --build "$build" -j2

echo "== tests"
cd "$build"
ctest --output-on-failure
