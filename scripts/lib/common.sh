# Shared by the scripts in scripts/: project root, privilege, and Debian package set-up.
# shellcheck shell=bash

KESTROVE_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)

say() { printf '\033[1m==> %s\033[0m\n' "$*" >&2; }
die() { printf '\033[1;31mError: %s\033[0m\n' "$*" >&2; exit 1; }

as_root() {
    if [ "$(id -u)" -eq 0 ]; then
        "$@"
    elif command -v sudo >/dev/null 2>&1; then
        sudo "$@"
    else
        die "need root (or sudo) to run: $*"
    fi
}

# ensure_packages PKG...: installs the Debian packages that are not installed yet.
ensure_packages() {
    local missing=() pkg
    for pkg in "$@"; do
        if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
            missing+=("$pkg")
        fi
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    say "Installing Debian packages: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    as_root apt-get -o DPkg::Lock::Timeout=600 update -q || die "apt-get update failed"
    as_root apt-get -o DPkg::Lock::Timeout=600 install -y -q --no-install-recommends "${missing[@]}" ||
        die "apt-get install failed for: ${missing[*]}"
}

# What building the program needs.
BUILD_PACKAGES=(
    g++ cmake ninja-build pkg-config
    libsqlite3-dev
    qt6-base-dev qt6-base-dev-tools libgl-dev
    fonts-wqy-zenhei
)
# What the tests and benchmarks need on top.
TEST_PACKAGES=(
    googletest libgtest-dev libgmock-dev libbenchmark-dev
    xvfb xauth
)
# What looking at the real windows needs on top (scripts/screenshot).
SCREENSHOT_PACKAGES=(
    xvfb xauth xdotool imagemagick openbox
)

jobs_count() { nproc 2>/dev/null || echo 2; }

# What building and checking the Debian package needs on top (scripts/package);
# dpkg-buildpackage refuses to start without build-essential.
PACKAGE_PACKAGES=(
    build-essential debhelper dpkg-dev
    lintian desktop-file-utils appstream
)

# What the Windows stage of the tests needs on top (scripts/test-windows): the MinGW-w64 cross
# compilers, of which the -posix ones have std::thread, and Wine to run what they build.
WINDOWS_PACKAGES=(
    mingw-w64 g++-mingw-w64-x86-64-posix
    wine wine64
)
