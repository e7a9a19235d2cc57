#!/usr/bin/env bash
# Run a command inside the Debian unstable root, which provides the CPython
# versions that this machine's Debian release does not ship (ROOT_VERSIONS in
# _common.sh).  The other scripts come here by themselves for those versions;
# by hand:
#
#   bash scripts/in-root.sh COMMAND [ARGS...]   e.g. bash scripts/in-root.sh python3.15 -V
#   bash scripts/in-root.sh --ensure            only create or update the root
#
# The root lives outside the repository, in $ZENTROPE_DEBIAN_ROOT (default
# /var/cache/zentrope/debian-unstable), so that every clone and every CI run
# on the machine shares it.  It is made with `debootstrap --variant=minbase`
# (installed on the host when missing) from Debian's mirror, suite sid, and
# then given ROOT_APT_PACKAGES; python3.15 comes from experimental, pinned to
# its own packages alone.  A stamp in the root records what it was made with;
# when that changes (the package list, the mirror), the root is updated in
# place.  A half-made root (an interrupted debootstrap) is never used: the
# base system is made beside it and moved into place when complete.
#
# Each command runs in a mount namespace of its own, so nothing stays mounted
# afterwards and concurrent commands do not interfere.  Mounted into the root:
# /proc, /dev and /sys; the repository at its own path (so the paths of the
# repository's virtual environments mean the same inside and out); pip's
# configuration files and the files and directories they name (constraints,
# find-links, local indexes, certificates), so that pip inside reaches the
# same package index.  The environment is passed on, with PATH reset to the
# root's and ZENTROPE_IN_ROOT=1.  Needs root (chroot and mounts).
set -euo pipefail
source "$(dirname "$0")/_common.sh"

R="$DEBIAN_ROOT"
MIRROR="${ZENTROPE_DEBIAN_MIRROR:-http://deb.debian.org/debian}"
STAMP_FILE="$R/etc/zentrope-root.stamp"
STAMP="mirror=$MIRROR packages=${ROOT_APT_PACKAGES[*]} experimental=${ROOT_EXPERIMENTAL[*]}"

# pip's configuration files on the host, and the absolute paths they (and
# pip's environment variables) name; true whatever it finds.
pip_paths() {
    local f files=(/etc/pip.conf "$HOME/.config/pip/pip.conf" "$HOME/.pip/pip.conf")
    local xdg
    IFS=: read -ra xdg <<<"${XDG_CONFIG_DIRS:-/etc/xdg}"
    for f in "${xdg[@]}"; do files+=("$f/pip/pip.conf"); done
    [ -z "${PIP_CONFIG_FILE:-}" ] || files+=("$PIP_CONFIG_FILE")
    for f in "${files[@]}"; do [ -f "$f" ] && echo "$f"; done
    {
        for f in "${files[@]}"; do [ -f "$f" ] && sed -n 's/^[^#;=]*=//p' "$f"; done
        env | sed -n 's/^\(PIP_[A-Z_]*\|SSL_CERT_FILE\|SSL_CERT_DIR\)=//p'
    } | tr -s ' \t' '\n\n' | while read -r f; do
        case "$f" in
            # a local index: its files may lie beside its pages (../files)
            file:///?*) f="${f#file://}"; f="${f%/}"; [ -e "$f" ] && dirname "$f" ;;
            /?*) [ -e "$f" ] && echo "$f" ;;
        esac
    done
}

# mount_into_root [bare]: the mounts of one command (inside its own
# namespace); "bare" while the root's packages are installed, which must not
# write through to the host's files
mount_into_root() {
    local p
    mount -t proc proc "$R/proc"
    mount --rbind /dev "$R/dev"
    mount --rbind /sys "$R/sys"
    [ "${1:-}" != bare ] || return 0
    mkdir -p "$R$HOME"
    for p in "$ROOT" $(pip_paths | sort -u); do
        if [ -d "$p" ]; then
            mkdir -p "$R$p"
        else
            mkdir -p "$(dirname "$R$p")" && { [ -f "$R$p" ] || { rm -f "$R$p" && : >"$R$p"; }; }
        fi
        mount --bind "$p" "$R$p"
    done
}

# enter COMMAND...: run COMMAND in the root, in a mount namespace of its own
enter() {
    exec unshare --mount --propagation private -- bash "$ROOT/scripts/in-root.sh" --mounted "$@"
}

# chroot_run COMMAND...: run a command in the root while making it
chroot_run() {
    unshare --mount --propagation private -- bash "$ROOT/scripts/in-root.sh" --mounted-bare "$@"
}

ensure_root() {
    [ "$(id -u)" -eq 0 ] || die "the Debian unstable root needs root (chroot, mounts)"
    mkdir -p "$(dirname "$R")"
    exec 9>"$R.lock"
    flock 9
    if [ ! -f "$R/etc/zentrope-root.base" ]; then
        grep -qF " $R/" /proc/self/mountinfo && die "something is mounted in $R; unmount it first"
        rm -rf "$R" "$R.new"
        if ! command -v debootstrap >/dev/null; then
            log "installing debootstrap"
            DEBIAN_FRONTEND=noninteractive apt-get update -qq
            DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends debootstrap </dev/null >/dev/null
        fi
        log "making the Debian unstable root in $R (debootstrap, about a minute)"
        debootstrap --variant=minbase sid "$R.new" "$MIRROR" >"$R.log" 2>&1 ||
            { tail -n 20 "$R.log" >&2; die "debootstrap failed (log: $R.log)"; }
        : >"$R.new/etc/zentrope-root.base"
        mv "$R.new" "$R"
    fi
    # the host's name resolution, for apt and pip inside
    cat /etc/resolv.conf >"$R/etc/resolv.conf"
    cat /etc/hosts >"$R/etc/hosts"
    if [ "$(cat "$STAMP_FILE" 2>/dev/null)" != "$STAMP" ]; then
        log "installing the root's packages (${ROOT_APT_PACKAGES[*]} ${ROOT_EXPERIMENTAL[*]})"
        # The mirror is a snapshot whose Release files are past their
        # Valid-Until date; services are never started in the root.
        rm -f "$R/etc/apt/sources.list"
        printf 'Types: deb\nURIs: %s\nSuites: %s\nComponents: main\nCheck-Valid-Until: no\n\n' \
            "$MIRROR" sid "$MIRROR" experimental >"$R/etc/apt/sources.list.d/debian.sources"
        printf 'Package: %s\nPin: release a=experimental\nPin-Priority: 500\n\n' \
            "*python3.15*" >"$R/etc/apt/preferences.d/python3.15"
        printf '#!/bin/sh\nexit 101\n' >"$R/usr/sbin/policy-rc.d" && chmod +x "$R/usr/sbin/policy-rc.d"
        chroot_run env DEBIAN_FRONTEND=noninteractive apt-get -qq update
        chroot_run env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
            "${ROOT_APT_PACKAGES[@]}" "${ROOT_EXPERIMENTAL[@]}" </dev/null >"$R.log" 2>&1 ||
            { tail -n 20 "$R.log" >&2; die "installing the root's packages failed (log: $R.log)"; }
        chroot_run apt-get clean
        echo "$STAMP" >"$STAMP_FILE"
    fi
    flock -u 9
}

case "${1:-}" in
    --mounted|--mounted-bare)
        if [ "$1" = --mounted ]; then mount_into_root; else mount_into_root bare; fi
        shift
        exec chroot "$R" /usr/bin/env -u PYTHON -u VIRTUAL_ENV -u PYENV_VERSION \
            PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin ZENTROPE_IN_ROOT=1 \
            /bin/sh -c 'cd "$0" 2>/dev/null || cd /; exec "$@"' "$PWD" "$@"
        ;;
    --ensure) ensure_root ;;
    "") die "usage: in-root.sh COMMAND [ARGS...] | --ensure" ;;
    *) ensure_root; enter "$@" ;;
esac
