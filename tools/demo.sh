#!/usr/bin/env bash
# tools/demo.sh [Ombrel|OmbrelMT]: builds the program and shows it with a gallery of sample pictures.
#
# With a display, the program simply starts in demo/ (its DATA folder holds the samples). Without
# one, it runs in a virtual X display: the fill button is pressed, and once the gallery is drawn a
# screenshot is saved as demo/screenshot.png and the window is closed as its close box would.
set -euo pipefail

program=${1:-OmbrelMT}
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
    echo "usage: $0 [Ombrel|OmbrelMT]" >&2
    exit 2
    ;;
esac
gallery=(8 8 145 465)

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build="$root/build"
demo="$root/demo"

"$root/tools/install-deps.sh"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target "$program" sample_pictures x11drive

rm -rf "$demo/DATA"
mkdir -p "$demo"
"$build/tools/sample_pictures" "$demo/DATA"
cd "$demo"

if [[ -n "${DISPLAY:-}" || -n "${WAYLAND_DISPLAY:-}" ]]; then
    echo "demo: starting $program in $demo; press $fill_name"
    exec "$build/app/$program"
fi

echo "demo: there is no display; running $program in a virtual X display (Xvfb)"
drive="$build/tests/app/x11drive"
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
    echo "demo: Xvfb did not start:" >&2
    cat "$scratch/xvfb.log" >&2
    exit 1
fi
export DISPLAY=":$(head -n1 "$scratch/display")"
export XDG_RUNTIME_DIR="${XDG_RUNTIME_DIR:-$scratch}"
echo "demo: virtual display $DISPLAY"

QT_QPA_PLATFORM=xcb "$build/app/$program" &
program_pid=$!
if ! read -r window left top width height < <("$drive" window Form1 "$program_pid" 15); then
    echo "demo: the window of $program did not appear" >&2
    exit 1
fi
echo "demo: pressing $fill_name of window $window, ${width}x${height} at ($left, $top)"

click_x=$((left + fill_button[0] + fill_button[2] / 2))
click_y=$((top + fill_button[1] + fill_button[3] / 2))
if ! "$drive" click-and-wait "$click_x" "$click_y" \
    $((left + gallery[0])) $((top + gallery[1])) "${gallery[2]}" "${gallery[3]}" 30; then
    echo "demo: the gallery did not fill within 30 s" >&2
    exit 1
fi

"$drive" shot "$left" "$top" "$width" "$height" "$demo/screenshot.png"
echo "demo: screenshot $demo/screenshot.png"

"$drive" close "$window"
if ! wait_for 5 program_ended; then
    echo "demo: $program did not end within 5 s of closing its window" >&2
    exit 1
fi
status=0
wait "$program_pid" || status=$?
program_pid=""
if ((status != 0)); then
    echo "demo: $program ended with exit code $status" >&2
    exit 1
fi
echo "demo: $program closed with exit code 0"
