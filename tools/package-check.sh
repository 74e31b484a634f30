#!/usr/bin/env bash
# tools/package-check.sh [BUILD]: builds the Debian package in BUILD (default build/, configured as
# Release if new), validates its desktop entries and metainfo, runs lintian on it, installs it,
# starts the installed OmbrelMT in a virtual X display with sample pictures (Button2 must fill the
# gallery and closing the window must end it with exit code 0) and removes the package again.
#
# Where the package is installed already, or without root, the package is unpacked into a
# throwaway folder and run from there instead, so that the machine is left as it was.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$(realpath -m "${1:-$root/build}")

say() { echo "package-check: $*"; }

if [[ ! -f "$build/CMakeCache.txt" ]]; then
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release
fi
cmake --build "$build" --target package x11drive sample_pictures

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
deb="$build/ombrel_${version}_$(dpkg --print-architecture).deb"
[[ -f "$deb" ]] || {
    echo "package-check: $deb was not written" >&2
    exit 1
}
say "$deb"
dpkg-deb --field "$deb" Package Version Section Maintainer Depends

scratch=$(mktemp -d)
installed=""
cleanup() {
    if [[ -n "$installed" ]]; then
        say "removing the package"
        dpkg --purge ombrel >/dev/null
    fi
    rm -rf "$scratch"
}
trap cleanup EXIT

# What a user gets, file by file: a build that finds no rsvg-convert leaves out the PNG sizes with
# no more than a warning.
unpacked="$scratch/unpacked"
dpkg-deb --extract "$deb" "$unpacked"
expected=(
    usr/bin/Ombrel usr/bin/OmbrelMT
    usr/share/applications/org.ombrel.Ombrel.desktop
    usr/share/applications/org.ombrel.OmbrelMT.desktop
    usr/share/metainfo/org.ombrel.Ombrel.metainfo.xml
    usr/share/icons/hicolor/scalable/apps/org.ombrel.Ombrel.svg
    usr/share/man/man1/Ombrel.1.gz usr/share/man/man1/OmbrelMT.1.gz
    usr/share/doc/ombrel/copyright usr/share/doc/ombrel/changelog.gz
)
for size in 16 32 48 64 128 256; do
    expected+=("usr/share/icons/hicolor/${size}x$size/apps/org.ombrel.Ombrel.png")
done
for file in "${expected[@]}"; do
    [[ -f "$unpacked/$file" ]] || {
        echo "package-check: the package lacks /$file" >&2
        exit 1
    }
done

say "desktop-file-validate, appstreamcli validate"
desktop-file-validate "$unpacked"/usr/share/applications/*.desktop
# --no-net: the screenshot's address is where the project publishes docs/screenshot.png, and CI
# has no network to fetch it from.
appstreamcli validate --no-net "$unpacked/usr/share/metainfo/org.ombrel.Ombrel.metainfo.xml"

say "lintian"
lintian --fail-on error,warning --tag-display-limit 0 "$deb"

status=$(dpkg-query -W -f='${db:Status-Status}' ombrel 2>/dev/null || true)
if [[ -n "$status" && "$status" != not-installed ]]; then
    say "ombrel is on this machine already ($status): trying the unpacked package instead"
    program="$unpacked/usr/bin/OmbrelMT"
elif ((EUID != 0)); then
    say "not root: trying the unpacked package instead of installing it"
    program="$unpacked/usr/bin/OmbrelMT"
else
    say "installing the package"
    installed=yes
    dpkg --install "$deb" >/dev/null
    program=/usr/bin/OmbrelMT
fi

mkdir "$scratch/gallery"
"$build/tools/sample_pictures" "$scratch/gallery/DATA"
(cd "$scratch/gallery" && "$root/tools/run-headless.sh" "$build/tools/x11drive" "$program")
say "OmbrelMT from the package filled its gallery and closed with exit code 0"
