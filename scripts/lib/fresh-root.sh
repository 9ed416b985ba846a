# Fresh Debian 12 roots for scripts/fresh-check: a base root made once with debootstrap, a clean
# copy of it for every run, the kernel file systems bound into the copy, and all of it undone on
# every way out (fresh_cleanup, called from the caller's trap).
# shellcheck shell=bash

FRESH_SUITE=bookworm
FRESH_MIRROR=http://deb.debian.org/debian
FRESH_PATH=/usr/sbin:/usr/bin:/sbin:/bin

FRESH_ROOT=""        # the copy this run works in
FRESH_MOUNTS=()      # what fresh_mount bound into it, in order
FRESH_KEEP=false     # keep the copy after the run (its mounts are undone all the same)
FRESH_ENV=()         # NAME=VALUE pairs passed into the root on top of PATH and HOME

# fresh_base_ensure DIR: makes the base root in DIR unless there is one. It is made beside DIR and
# renamed into place at the end, so an interrupted debootstrap never passes for a base.
fresh_base_ensure() {
    local base=$1 partial=$1.partial
    [ -d "$base" ] && return 0
    say "Making the base root $base with debootstrap (a few minutes, once)"
    rm -rf --one-file-system "$partial"
    mkdir -p "$(dirname "$base")"
    debootstrap --variant=minbase "$FRESH_SUITE" "$partial" "$FRESH_MIRROR" ||
        die "debootstrap failed (log: $partial/debootstrap/debootstrap.log)"
    # The package sources of a Debian 12 installation, updates and security included.
    cat >"$partial/etc/apt/sources.list" <<EOF
deb $FRESH_MIRROR $FRESH_SUITE main
deb $FRESH_MIRROR $FRESH_SUITE-updates main
deb http://deb.debian.org/debian-security $FRESH_SUITE-security main
EOF
    # Packages must not start services in a chroot: a daemon left running would keep the bound
    # file systems busy. Debian's own convention for that is policy-rc.d answering 101.
    printf '#!/bin/sh\nexit 101\n' >"$partial/usr/sbin/policy-rc.d"
    chmod 755 "$partial/usr/sbin/policy-rc.d"
    mv "$partial" "$base"
}

# fresh_root_new BASE: copies BASE into a new folder under /var/tmp and makes it FRESH_ROOT.
fresh_root_new() {
    FRESH_ROOT=$(mktemp -d /var/tmp/kestrove-fresh.XXXXXX)
    say "Clean copy of the base root in $FRESH_ROOT"
    cp -a "$1/." "$FRESH_ROOT/" || die "copying the base root failed"
    cp -L /etc/resolv.conf "$FRESH_ROOT/etc/resolv.conf"
}

# fresh_mount: binds /proc, /sys and /dev into the root. Each is made a slave mount, so that
# unmounting it later can never propagate back and unmount anything of the host's.
fresh_mount() {
    local fs
    for fs in proc sys dev; do
        mount --rbind "/$fs" "$FRESH_ROOT/$fs" || die "could not bind /$fs into $FRESH_ROOT"
        FRESH_MOUNTS+=("$FRESH_ROOT/$fs")
        mount --make-rslave "$FRESH_ROOT/$fs"
    done
}

# fresh_run CMD...: runs CMD in the root as root, with an empty environment apart from PATH,
# HOME and the pairs in FRESH_ENV.
fresh_run() {
    chroot "$FRESH_ROOT" env -i PATH="$FRESH_PATH" HOME=/root "${FRESH_ENV[@]}" "$@"
}

# The PATH a Debian login gives an ordinary user (/etc/profile).
FRESH_USER_PATH=/usr/local/bin:/usr/bin:/bin

# fresh_add_sudo_user NAME: an ordinary user NAME with a home, who may use sudo, as a Debian
# installation without a root password sets up its first user. sudo asks for no password here:
# nobody would be there to type it.
fresh_add_sudo_user() {
    fresh_run env DEBIAN_FRONTEND=noninteractive apt-get -q update >/dev/null
    fresh_run env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends \
        sudo >/dev/null
    fresh_run useradd --create-home --shell /bin/bash --groups sudo "$1"
    printf '%s ALL=(ALL:ALL) NOPASSWD: ALL\n' "$1" >"$FRESH_ROOT/etc/sudoers.d/$1"
    chmod 0440 "$FRESH_ROOT/etc/sudoers.d/$1"
}

# fresh_run_as NAME CMD...: like fresh_run, as the user NAME, with that user's home and PATH.
fresh_run_as() {
    local user=$1 ids
    shift
    ids=$(fresh_run id -u "$user"):$(fresh_run id -g "$user")
    chroot --userspec="$ids" "$FRESH_ROOT" \
        env -i PATH="$FRESH_USER_PATH" HOME="/home/$user" "${FRESH_ENV[@]}" "$@"
}

# Processes whose root is FRESH_ROOT: only what this run started in it.
fresh_processes() {
    local proc
    for proc in /proc/[0-9]*; do
        [ "$(readlink "$proc/root" 2>/dev/null)" = "$FRESH_ROOT" ] && echo "${proc#/proc/}"
    done
    return 0
}

# Mount points at or below FRESH_ROOT that are still mounted.
fresh_mounted() {
    awk -v root="$FRESH_ROOT" 'index($5, root "/") == 1 { print $5 }' /proc/self/mountinfo
}

fresh_unmount() {
    local i pids
    pids=$(fresh_processes)
    if [ -n "$pids" ]; then
        # shellcheck disable=SC2086
        kill $pids 2>/dev/null || true
        sleep 1
        pids=$(fresh_processes)
        # shellcheck disable=SC2086
        [ -z "$pids" ] || kill -KILL $pids 2>/dev/null || true
    fi
    for ((i = ${#FRESH_MOUNTS[@]} - 1; i >= 0; i--)); do
        umount -R "${FRESH_MOUNTS[i]}" 2>/dev/null || umount -R -l "${FRESH_MOUNTS[i]}" ||
            printf 'could not unmount %s\n' "${FRESH_MOUNTS[i]}" >&2
    done
    FRESH_MOUNTS=()
}

# fresh_cleanup: undoes the mounts, then removes the root unless it is to be kept. A root with
# anything still mounted in it is never removed: that would delete the host's /dev or /sys.
fresh_cleanup() {
    [ -n "$FRESH_ROOT" ] || return 0
    fresh_unmount
    if [ -n "$(fresh_mounted)" ]; then
        printf 'still mounted, %s left in place:\n%s\n' "$FRESH_ROOT" "$(fresh_mounted)" >&2
        return 1
    fi
    if $FRESH_KEEP; then
        say "Root kept in $FRESH_ROOT"
    else
        rm -rf --one-file-system "$FRESH_ROOT"
    fi
    FRESH_ROOT=""
}
