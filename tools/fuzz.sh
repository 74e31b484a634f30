#!/usr/bin/env bash
# tools/fuzz.sh [seconds-per-target]: builds the libFuzzer targets (fuzz/) with clang, AddressSanitizer
# and UndefinedBehaviorSanitizer in build/fuzz, and runs each for a bounded time (60 s by default),
# seeded with the conformance pictures beside this clone. Fails on any finding; the inputs that
# failed are kept in build/fuzz-findings, to become regression files under
# tests/platform_core/regressions/.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
seconds=${1:-60}
build=${OMBREL_FUZZ_BUILD:-$root/build/fuzz}
findings="$root/build/fuzz-findings"
testdata=$(cd "$root/.." && pwd)/shared/testdata

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang \
    -DCMAKE_CXX_COMPILER=clang++ -DOMBREL_FUZZ=ON -DOMBREL_TESTS=OFF
cmake --build "$build" -j"$(nproc)" --target bmp_reader_fuzz metadata_fuzz loaders_fuzz

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The working corpus starts from the conformance pictures and our regression inputs; whatever the
# fuzzer adds stays in the temporary folder, never in the repository.
seed() { # target, find arguments below the test data...
    local corpus="$work/$1"
    shift
    mkdir -p "$corpus"
    if [[ -d "$testdata" ]]; then
        find "$testdata" '(' "$@" ')' -type f -exec cp -t "$corpus" {} +
    else
        echo "fuzz: no conformance pictures at $testdata; starting from the regression inputs only"
    fi
    cp -t "$corpus" "$root"/tests/platform_core/regressions/* 2>/dev/null || true
}
seed bmp_reader_fuzz -path '*/bmpsuite/*' -iname '*.bmp'
# The metadata parsers start from nothing but their dictionary.
mkdir -p "$work/metadata_fuzz"
seed loaders_fuzz '(' -path '*/bmpsuite/*' -iname '*.bmp' ')' -o \
    '(' -path '*/jpeg/*' '(' -path '*/good/*' -o -path '*/bad/*' ')' ')'

# The loaders' target runs Qt, whose fontconfig caches outlive the process (see the file).
export LSAN_OPTIONS="suppressions=$root/fuzz/lsan.supp"
# The loaders' target makes its DATA folder under TMPDIR.
export TMPDIR="$work"
mkdir -p "$work/findings"
failed=()
for target in bmp_reader_fuzz metadata_fuzz loaders_fuzz; do
    # The metadata parsers are small and fast: half a minute covers them.
    time=$seconds
    dict="$root/fuzz/bmp.dict"
    if [[ $target == metadata_fuzz ]]; then
        time=$((seconds < 30 ? seconds : 30))
        dict="$root/fuzz/metadata.dict"
    fi
    echo "== fuzz: $target for $time s"
    # Absolute paths throughout: the loaders' target works in a folder of its own. A single input
    # that takes 10 s or 2 GB is a finding too.
    if ! "$build/fuzz/$target" "$work/$target" -dict="$dict" \
        -max_total_time="$time" -max_len=65536 -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$work/findings/$target-" 2>"$work/$target.log"; then
        tail -n 60 "$work/$target.log" >&2
        failed+=("$target")
    fi
    grep -E '^stat::(number_of_executed_units|average_exec_per_sec|peak_rss_mb)' "$work/$target.log"
done

if ((${#failed[@]} > 0)); then
    mkdir -p "$findings"
    cp -t "$findings" "$work"/findings/* 2>/dev/null || true
    echo "fuzz: findings in ${failed[*]}; the inputs are in $findings" >&2
    exit 1
fi
echo "fuzz: no findings"
