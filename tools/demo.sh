#!/usr/bin/env bash
# tools/demo.sh [Ombrel|OmbrelMT]: builds the program and shows it with a gallery of sample pictures.
#
# With a display, the program simply starts in demo/ (its DATA folder holds the samples). Without
# one, it runs in a virtual X display: the fill button is pressed, and once the gallery is drawn a
# screenshot is saved as demo/screenshot.png and the window is closed as its close box would.
set -euo pipefail

program=${1:-OmbrelMT}
case "$program" in
Ombrel) fill_name=Button1 ;;
OmbrelMT) fill_name=Button2 ;;
*)
    echo "usage: $0 [Ombrel|OmbrelMT]" >&2
    exit 2
    ;;
esac

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
exec "$root/tools/run-headless.sh" "$build/tools/x11drive" "$build/app/$program" \
    "$demo/screenshot.png"
