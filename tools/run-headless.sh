#!/usr/bin/env bash
# tools/run-headless.sh X11DRIVE PROGRAM [SCREENSHOT.png]: runs PROGRAM (Ombrel or OmbrelMT, from
# any path) in the current directory inside a virtual X display (Xvfb), presses its fill button,
# waits until the gallery is drawn, saves a screenshot if a file is named, then closes the window as
# its close box would and checks that the program ended with exit code 0.
#
# X11DRIVE is the window driver built from tools/x11drive.cpp. Used by tools/demo.sh with the
# built program and by tools/package-check.sh with the installed one.
set -euo pipefail

if (($# < 2 || $# > 3)); then
    echo "usage: $0 X11DRIVE PROGRAM [SCREENSHOT.png]" >&2
    exit 2
fi
drive=$1
program_path=$2
screenshot=${3:-}
program=$(basename "$program_path")

# Where the stored layouts put the fill button and the gallery, in window coordinates.
case "$program" in
Ombrel)
    fill_name=Button1 # fills on the user-interface thread
    fill_button=(168 16 75 25)
    ;;
OmbrelMT)
    fill_name=Button2 # fills on a worker thread
    fill_button=(168 56 75 25)
    ;;
*)
    echo "$0: $program is neither Ombrel nor OmbrelMT" >&2
    exit 2
    ;;
esac
gallery=(8 8 145 465)

say() { echo "run-headless: $*"; }
fail() {
    echo "run-headless: $*" >&2
    exit 1
}

scratch=$(mktemp -d)
xvfb_pid=""
program_pid=""

cleanup() {
    if [[ -n "$program_pid" ]] && kill -0 "$program_pid" 2>/dev/null; then
        kill "$program_pid" 2>/dev/null || true
    fi
    if [[ -n "$xvfb_pid" ]]; then
        kill "$xvfb_pid" 2>/dev/null || true
        wait "$xvfb_pid" 2>/dev/null || true
    fi
    rm -rf "$scratch"
}
trap cleanup EXIT

# An ended child stays a zombie until it is waited for; its state letter follows "(name) ".
program_ended() {
    local stat
    stat=$(cat "/proc/$program_pid/stat" 2>/dev/null) || return 0
    [[ "${stat##*) }" == Z* ]]
}

# Polls "$@" every 0.1 s for at most $1 seconds.
wait_for() {
    local tenths=$(($1 * 10))
    shift
    while ! "$@"; do
        ((tenths-- > 0)) || return 1
        sleep 0.1
    done
}

# Xvfb picks a free display number itself and writes it to descriptor 3 once it is ready.
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset \
    3>"$scratch/display" 2>"$scratch/xvfb.log" &
xvfb_pid=$!
if ! wait_for 15 grep -q '^[0-9]' "$scratch/display"; then
    cat "$scratch/xvfb.log" >&2
    fail "Xvfb did not start"
fi
display=$(head -n1 "$scratch/display")
export DISPLAY=":$display"
export XDG_RUNTIME_DIR="${XDG_RUNTIME_DIR:-$scratch}"
say "virtual display $DISPLAY"

QT_QPA_PLATFORM=xcb "$program_path" &
program_pid=$!
if ! read -r window left top width height < <("$drive" window Form1 "$program_pid" 15); then
    fail "the window of $program_path did not appear"
fi
say "pressing $fill_name of window $window, ${width}x${height} at ($left, $top)"

click_x=$((left + fill_button[0] + fill_button[2] / 2))
click_y=$((top + fill_button[1] + fill_button[3] / 2))
if ! "$drive" click-and-wait "$click_x" "$click_y" \
    $((left + gallery[0])) $((top + gallery[1])) "${gallery[2]}" "${gallery[3]}" 30; then
    fail "the gallery did not fill within 30 s"
fi

if [[ -n "$screenshot" ]]; then
    "$drive" shot "$left" "$top" "$width" "$height" "$screenshot"
    say "screenshot $screenshot"
fi

"$drive" close "$window"
if ! wait_for 5 program_ended; then
    fail "$program did not end within 5 s of closing its window"
fi
status=0
wait "$program_pid" || status=$?
program_pid=""
((status == 0)) || fail "$program ended with exit code $status"
say "$program closed with exit code 0"
