# Shared by the scripts in scripts/: project root, privilege, and Debian package set-up.
# shellcheck shell=bash
# The variables set here are for the scripts that source this file.
# shellcheck disable=SC2034

KESTROVE_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)

say() { printf '\033[1m==> %s\033[0m\n' "$*" >&2; }
die() { printf '\033[1;31mError: %s\033[0m\n' "$*" >&2; exit 1; }

# How this script gets root: "root" when it is root already, else "sudo"; a fresh Debian installed
# with a root password has no sudo, and then "su", which asks for root's password, when there is a
# terminal to ask on; otherwise "none".
root_method() {
    if [ "$(id -u)" -eq 0 ]; then
        echo root
    elif command -v sudo >/dev/null 2>&1; then
        echo sudo
    elif [ -t 0 ] && [ -t 2 ] && command -v su >/dev/null 2>&1; then
        echo su
    else
        echo none
    fi
}

# What to do when root_method is none, for a step that would run the command "$1" as root.
no_root_help() {
    cat <<EOF
this step needs root: sudo is not installed, and with no terminal su cannot ask for root's
  password. Either run, as root (su -):   $1
  and then this script again; or give your user sudo once, as root:
    apt-get install sudo && adduser $(id -un) sudo
  then log in again and run this script again.
EOF
}

# as_root CMD...: runs CMD as root (see root_method).
as_root() {
    case $(root_method) in
        root) "$@" ;;
        sudo) sudo "$@" ;;
        su)
            say "sudo is not installed: su asks for root's password"
            su root -c "$(printf '%q ' "$@")"
            ;;
        *) die "$(no_root_help "$*")" ;;
    esac
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
    [ "$(root_method)" != none ] ||
        die "$(no_root_help "apt-get update && apt-get install ${missing[*]}")"
    # One command, so that su asks for the password once; the variable is set inside it because
    # sudo and su do not pass the caller's environment on.
    # shellcheck disable=SC2016
    as_root sh -c 'export DEBIAN_FRONTEND=noninteractive
        apt-get -o DPkg::Lock::Timeout=600 update -q &&
        apt-get -o DPkg::Lock::Timeout=600 install -y -q --no-install-recommends "$@"' \
        sh "${missing[@]}" || die "apt-get update / install failed for: ${missing[*]}"
}

# What building the program needs.
BUILD_PACKAGES=(
    g++ cmake ninja-build pkg-config
    libsqlite3-dev
    qt6-base-dev qt6-base-dev-tools libgl-dev
    fonts-wqy-zenhei
    libwayland-dev wayland-protocols qt6-base-private-dev librust-wayland-protocols-dev
    qt6-wayland
)
# What the tests and benchmarks need on top.
TEST_PACKAGES=(
    googletest libgtest-dev libgmock-dev libbenchmark-dev
    xvfb xauth
)
# What the style check needs (scripts/lib/style-check).
STYLE_PACKAGES=(
    clang-format shellcheck
)
# What the desktop check needs on top (scripts/desktop-check): headless compositors with
# XWayland, a Wayland-native file manager, keys and screenshots for sway, and for mutter the
# screen cast's PipeWire and GStreamer with Python's D-Bus and GStreamer bindings.
DESKTOP_PACKAGES=(
    sway grim wtype thunar mutter dbus xwayland x11-utils
    pipewire wireplumber gstreamer1.0-pipewire gstreamer1.0-plugins-base
    gir1.2-glib-2.0 gir1.2-gstreamer-1.0 python3-gi
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
# compilers, of which the -posix ones have std::thread, Wine to run what they build, and for the
# setup (scripts/package-windows) NSIS and ImageMagick, which draws the picture on its pages.
WINDOWS_PACKAGES=(
    mingw-w64 g++-mingw-w64-x86-64-posix
    wine wine64
    nsis imagemagick
)
