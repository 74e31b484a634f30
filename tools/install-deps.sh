#!/usr/bin/env bash
# Installs what building, testing and the demo need on Debian 12, and nothing that is already there.
# Safe to re-run: when every package is present it does not touch apt at all.
set -euo pipefail

packages=(
    # build
    cmake ninja-build g++ pkg-config
    qt6-base-dev qt6-qpa-plugins libjpeg62-turbo-dev libicu-dev liblcms2-dev
    # tests
    googletest libgtest-dev
    # the real window in a virtual display, driven by the end-to-end tests and the demo
    xvfb xdotool x11-utils libx11-dev libxtst-dev fonts-dejavu-core
    # sanitizer, fuzzer and lint stages
    clang llvm libclang-rt-14-dev clang-format clang-tidy
    # the installed files and the Debian package (tools/package-check.sh): the icon's PNG sizes,
    # CPack's dependency scan (dpkg-shlibdeps, file), and the validators
    librsvg2-bin dpkg-dev file desktop-file-utils appstream lintian
)

missing=()
for package in "${packages[@]}"; do
    status=$(dpkg-query -W -f='${db:Status-Status}' "$package" 2>/dev/null || true)
    if [[ "$status" != "installed" ]]; then
        missing+=("$package")
    fi
done

if ((${#missing[@]} == 0)); then
    echo "install-deps: all ${#packages[@]} packages are present"
    exit 0
fi

sudo=()
if ((EUID != 0)); then
    if ! command -v sudo >/dev/null; then
        echo "install-deps: missing ${missing[*]}; run this as root or install sudo" >&2
        exit 1
    fi
    sudo=(sudo)
fi

echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -q
"${sudo[@]}" env DEBIAN_FRONTEND=noninteractive \
    apt-get install -y -q --no-install-recommends "${missing[@]}"
