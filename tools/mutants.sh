#!/usr/bin/env bash
# tools/mutants.sh [BREAK...]: what the unit tests catch. Applies each deliberate fault of
# tools/mutants.txt (all, or those named) to the programs' code, one at a time; rebuilds in
# build/mutants (RelWithDebInfo, tests on; $OMBREL_MUTANTS_BUILD to choose another folder); runs
# the unit tests; restores the file; and prints a table of the tests that failed for each break.
#
# The end-to-end tests (ctest's e2e.*) are left out: each starts a virtual display and the real
# programs, and together they would take longer than all the breaks' unit test runs. So are the
# worker's scenes repeated as stress (repeated.*): each runs once among the unit tests, and their
# repetitions would add minutes and chance to the table.
#
# The unchanged tree is built and tested first, and must pass. A break whose text is no longer in
# its file is shown as NOT APPLIED, one that does not compile as BUILD FAILS, one that no test
# catches as NOT CAUGHT. Exits non-zero when a break was not applied or did not build, or when a
# break that tools/mutants-baseline.txt shows caught is caught no longer.
set -euo pipefail
export LC_ALL=C
shopt -u patsub_replacement 2>/dev/null || true

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
breaks_file="$root/tools/mutants.txt"
baseline="$root/tools/mutants-baseline.txt"
build=${OMBREL_MUTANTS_BUILD:-$root/build/mutants}
jobs=$(nproc)

say() { echo "mutants: $*" >&2; }

# The breaks, as parallel arrays; "was" and "now" may hold several lines.
names=() files=() wases=() nows=()
read_breaks() {
    local line index=-1 field=""
    while IFS= read -r line || [[ -n "$line" ]]; do
        case "$line" in
        "== "*)
            index=$((index + 1))
            names[index]=${line#== }
            files[index]="" wases[index]="" nows[index]=""
            field=""
            ;;
        file:*) files[index]=${line#file: } ;;
        was:*)
            line=${line#was:}
            line=${line# }
            [[ $field == was ]] && wases[index]+=$'\n'"$line" || wases[index]=$line
            field=was
            ;;
        now:*)
            line=${line#now:}
            line=${line# }
            [[ $field == now ]] && nows[index]+=$'\n'"$line" || nows[index]=$line
            field=now
            ;;
        "" | "#"*) ;;
        *)
            say "cannot read this line of $breaks_file: $line"
            exit 2
            ;;
        esac
    done <"$breaks_file"
}

scratch=$(mktemp -d)
broken_file=""
restore() {
    if [[ -n "$broken_file" ]]; then
        # A fresh modification time, so that the next build compiles the file again.
        cat "$scratch/original" >"$broken_file"
        broken_file=""
    fi
}
trap 'restore; rm -rf "$scratch"' EXIT
trap 'exit 130' INT TERM

# Applies break i; 0 when its text was found exactly once.
apply() {
    local i=$1 path="$root/${files[$1]}" content rest count
    [[ -f "$path" && -n "${wases[i]}" ]] || return 1
    content=$(
        cat "$path"
        printf x
    )
    content=${content%x}
    rest=${content//"${wases[i]}"/}
    count=$(((${#content} - ${#rest}) / ${#wases[i]}))
    ((count == 1)) || return 1
    cp "$path" "$scratch/original"
    broken_file=$path
    printf '%s' "${content/"${wases[i]}"/"${nows[i]}"}" >"$path"
}

# Builds and runs the unit tests; prints the names of the tests that failed, or BUILD FAILS.
build_and_test() {
    if ! cmake --build "$build" -j"$jobs" >"$scratch/build.log" 2>&1; then
        echo "BUILD FAILS"
        return
    fi
    (cd "$build" && ctest -j"$jobs" -E '^(e2e|repeated)\.' >"$scratch/ctest.log" 2>&1) || true
    if ! grep -q 'tests passed' "$scratch/ctest.log"; then
        tail -n 20 "$scratch/ctest.log" >&2
        echo "BUILD FAILS"
        return
    fi
    # "  12 - Suite.Test/Row  # GetParam() = ... (Failed)": the name alone.
    sed -n '/The following tests FAILED:/,$p' "$scratch/ctest.log" |
        sed -n 's/^[[:space:]]*[0-9]* - \(.*\) ([^)]*)$/\1/p' | sed 's/  *# GetParam().*//'
}

# The failing tests of one break, grouped by test suite, one suite a line: "Suite: Test/{rows}".
# A parametrised test lists at most three rows and the number of the others; the tests that run
# again with the portable kernels are marked so.
group() {
    awk '
    {
        name = $0; suffix = ""
        if (sub(/^portable_kernels\./, "", name)) suffix = " (portable kernels)"
        dot = index(name, ".")
        suite = substr(name, 1, dot - 1); sub(/.*\//, "", suite); suite = suite suffix
        rest = substr(name, dot + 1)
        slash = index(rest, "/")
        test = slash ? substr(rest, 1, slash - 1) : rest
        row = slash ? substr(rest, slash + 1) : ""
        key = suite SUBSEP test
        if (!(suite in seenSuite)) { seenSuite[suite] = 1; suites[++suiteCount] = suite }
        if (!(key in seenTest)) { seenTest[key] = 1; tests[suite] = tests[suite] SUBSEP test }
        if (row != "") { rowCount[key]++; if (rowCount[key] <= 3) rows[key] = rows[key] (rows[key] == "" ? "" : ",") row }
    }
    END {
        for (s = 1; s <= suiteCount; s++) {
            suite = suites[s]; n = split(substr(tests[suite], 2), list, SUBSEP); line = suite ":"
            for (t = 1; t <= n; t++) {
                key = suite SUBSEP list[t]; item = list[t]
                if (rowCount[key] > 0) {
                    item = item "/{" rows[key] (rowCount[key] > 3 ? ",+" (rowCount[key] - 3) : "") "}"
                }
                line = line (t > 1 ? "; " : " ") item
            }
            print line
        }
    }'
}

row() { # name, count, first line, further lines...
    local name=$1 count=$2
    shift 2
    printf '%-38s | %5s | %s\n' "$name" "$count" "$1"
    shift
    local line
    for line in "$@"; do
        printf '%-38s | %5s | %s\n' "" "" "$line"
    done
}

read_breaks
selected=("$@")
if ((${#selected[@]} == 0)); then
    selected=("${names[@]}")
fi

say "configuring $build"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DOMBREL_TESTS=ON \
    >"$scratch/configure.log" || {
    cat "$scratch/configure.log" >&2
    exit 2
}

say "the unchanged tree"
unchanged=$(build_and_test)
if [[ -n "$unchanged" ]]; then
    say "the unchanged tree does not pass; the breaks would be judged against its failures:"
    echo "$unchanged" >&2
    exit 1
fi

table=$(mktemp -p "$scratch")
stale=0
for name in "${selected[@]}"; do
    i=-1
    for j in "${!names[@]}"; do
        [[ ${names[j]} == "$name" ]] && i=$j
    done
    if ((i < 0)); then
        say "no break is named $name"
        exit 2
    fi
    started=$SECONDS
    if ! apply "$i"; then
        say "$name: its text is not found exactly once in ${files[i]}"
        row "$name" "-" "NOT APPLIED" >>"$table"
        stale=1
        continue
    fi
    say "$name: building and testing"
    failed=$(build_and_test)
    restore
    if [[ $failed == "BUILD FAILS" ]]; then
        row "$name" "-" "BUILD FAILS" >>"$table"
        stale=1
    elif [[ -z $failed ]]; then
        row "$name" "0" "NOT CAUGHT" >>"$table"
    else
        mapfile -t lines < <(echo "$failed" | group)
        row "$name" "$(echo "$failed" | wc -l)" "${lines[@]}" >>"$table"
    fi
    say "$name: done in $((SECONDS - started)) s"
done

# The tree as it is again, so that the build folder does not keep the last break.
say "rebuilding the unchanged tree"
cmake --build "$build" -j"$jobs" >"$scratch/build.log" 2>&1 || true

{
    row "break" "fails" "failing unit tests, by suite"
    printf '%s\n' "---------------------------------------+-------+------------------------------"
    cat "$table"
} | tee "$build/mutants-table.txt"

# Every break that the baseline shows caught must still be caught.
lost=()
if [[ -f "$baseline" ]]; then
    for name in "${selected[@]}"; do
        before=$(sed -n "s/^$name *| *\([0-9][0-9]*\) .*/\1/p" "$baseline")
        now=$(sed -n "s/^$name *| *\([0-9][0-9]*\) .*/\1/p" "$build/mutants-table.txt")
        if [[ -n $before && $before != 0 && (-z $now || $now == 0) ]]; then
            lost+=("$name")
        fi
    done
fi
if ((${#lost[@]} > 0)); then
    say "caught in tools/mutants-baseline.txt, and no longer: ${lost[*]}"
    exit 1
fi
if ((stale)); then
    say "some breaks were not applied or did not build: tools/mutants.txt needs mending"
    exit 1
fi
