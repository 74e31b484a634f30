#!/usr/bin/env bash
# tools/check.sh: installs what is missing, then checks the project as CI does: formatting, a build
# with warnings as errors and the whole test suite (unit tests headless, end-to-end tests in their
# own virtual X display), the suite again under AddressSanitizer with UndefinedBehaviorSanitizer,
# the threads' core under ThreadSanitizer, a short run of each fuzzer, the Debian package installed
# and tried (tools/package-check.sh), and clang-tidy.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
jobs=$(nproc)

"$root/tools/install-deps.sh"

# In CI the conformance pictures are always beside the clone: there, a missing folder would turn the
# strongest tests into skips, so the run stops at once, saying where it looked.
testdata=$(cd "$root/.." && pwd)/shared/testdata
if [[ -n "${CI:-}" && ! -d "$testdata" ]]; then
    echo "check: the conformance pictures are not at $testdata; in CI they must be there" >&2
    exit 1
fi

echo "== formatting"
cd "$root"
git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run --Werror

echo "== boundaries: the core is the standard library only; only the platform includes Qt"
"$root/tools/check_boundaries.sh"

configure_and_build() { # folder, CMake options..., [--target targets...]
    local build=$1
    shift
    local options=() targets=()
    while (($# > 0)) && [[ $1 != --target ]]; do
        options+=("$1")
        shift
    done
    (($# > 0)) && shift && targets=(--target "$@")
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DOMBREL_WERROR=ON \
        "${options[@]}"
    cmake --build "$build" -j"$jobs" "${targets[@]}"
}

echo "== thread sanitizer: the core (hand-off, threads, files, readers) and both fills with Qt"
# Only the binaries whose threads are ours: Qt's own worker threads (its image and paint pools)
# synchronise through locks that ThreadSanitizer cannot see.
tsan="$root/build/ci-tsan"
configure_and_build "$tsan" -DOMBREL_SANITIZE=thread --target platform_core_tests fill_tests
for binary in platform_core/platform_core_tests fill/fill_tests; do
    QT_QPA_PLATFORM=offscreen TSAN_OPTIONS=halt_on_error=1 "$tsan/tests/$binary" --gtest_brief=1
done
# The worker's scenes many times over, as ctest's repeated.* tests run them (fewer times here: the
# sanitizer makes each run several times slower).
QT_QPA_PLATFORM=offscreen TSAN_OPTIONS=halt_on_error=1 "$tsan/tests/fill/fill_tests" \
    --gtest_brief=1 --gtest_filter='WorkerFillTest.*' --gtest_repeat=20

echo "== address and undefined-behaviour sanitizers: every unit test"
configure_and_build "$root/build/ci-asan" -DOMBREL_SANITIZE=address
# The end-to-end tests run the release programs below; here the sanitizers watch the same code
# in-process.
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --test-dir "$root/build/ci-asan" --output-on-failure -j"$jobs" -E '^e2e\.'

echo "== fuzzing: each libFuzzer target for a bounded time (tools/fuzz.sh)"
"$root/tools/fuzz.sh" 45

echo "== build"
configure_and_build "$root/build/ci"

echo "== the Debian package: validators, lintian, and the installed OmbrelMT in a virtual display"
"$root/tools/package-check.sh" "$root/build/ci"

echo "== clang-tidy: the programs' code, the tests, the bench and the fuzz targets, with the committed .clang-tidy files"
run-clang-tidy -p "$root/build/ci" -quiet -j"$jobs" "^$root/(app|bench|fill|gallery|platform|tests)/"
# The fuzz targets are compiled only in the fuzzing build, so its database holds them.
run-clang-tidy -p "${OMBREL_FUZZ_BUILD:-$root/build/fuzz}" -quiet -j"$jobs" "^$root/fuzz/"

echo "== bench, quick: proves that it runs; its timings are not judged here"
"$root/build/ci/bench/ombrel_bench" --quick --json "$root/build/ci/bench-report.json"

# Last, so that its summary closes the output.
echo "== the whole test suite"
ctest --test-dir "$root/build/ci" --output-on-failure -j"$jobs"
