#!/usr/bin/env bash
# tools/check_boundaries.sh: fails when the platform's two halves or the programs reach past their
# boundaries.
#   - platform/core is the standard library only: it includes no header of platform/ui, no Qt and
#     no libjpeg.
#   - Outside platform/, nothing includes Qt or libjpeg, except the tests, the bench and the tools,
#     which look at pictures and windows from outside the programs.
# Reads the files that git tracks, so it needs no build.
set -euo pipefail

cd "$(dirname "${BASH_SOURCE[0]}")/.."

include='^[[:space:]]*#[[:space:]]*include[[:space:]]*'
qt_or_jpeg="$include[<\"](Q[A-Za-z]|q[a-z0-9_]+\\.h|jpeglib\\.h|turbojpeg\\.h)"
status=0

report() { # what, matches
    if [[ -n $2 ]]; then
        echo "check_boundaries: $1:" >&2
        echo "$2" >&2
        status=1
    fi
}

core=$(git ls-files 'platform/core/*.cpp' 'platform/core/*.h')
report "the core includes a header of the user-interface half" \
    "$(grep -nE "$include\"platform/ui/" $core || true)"
report "the core includes Qt or libjpeg" "$(grep -nE "$qt_or_jpeg" $core || true)"

outside=$(git ls-files '*.cpp' '*.h' | grep -vE '^(platform|tests|bench|tools)/' || true)
report "code outside platform/ includes Qt or libjpeg" \
    "$(grep -nE "$qt_or_jpeg" $outside /dev/null || true)"

if ((status == 0)); then
    echo "check_boundaries: the core includes only itself and the standard library; only the" \
        "platform reaches Qt and libjpeg"
fi
exit $status
