#!/usr/bin/env bash
# Prepare this machine and the repository for running the project:
#   - Debian packages Qt needs at run time (plus xvfb/xdotool for the
#     end-to-end tests and a C++ compiler), installed only when missing;
#   - a CPython 3.10 virtual environment at .venv with the build, run and
#     test dependencies;
#   - the package, with its native module built, installed into .venv.
# Safe to run again: every step skips what is already there.
# Environment: PYTHON=/path/to/python3.10 selects the interpreter;
# SKIP_APT=1 skips the system package check.
set -euo pipefail
source "$(dirname "$0")/_common.sh"
cd "$ROOT"

APT_PACKAGES=(
    # compiler for the native module
    g++
    # Qt (PySide6 wheels) run-time libraries
    libegl1 libgl1 libopengl0 libxkbcommon0 libxkbcommon-x11-0 libfontconfig1
    libfreetype6 libdbus-1-3 libglib2.0-0
    # Qt's xcb platform plugin
    libx11-6 libx11-xcb1 libxcb1 libxcb-cursor0 libxcb-icccm4 libxcb-image0
    libxcb-keysyms1 libxcb-randr0 libxcb-render0 libxcb-render-util0
    libxcb-shape0 libxcb-shm0 libxcb-sync1 libxcb-util1 libxcb-xfixes0
    libxcb-xinerama0 libxcb-xkb1 libxrender1 libsm6 libice6
    # a virtual X display and input driver for the end-to-end tests
    xvfb xauth xdotool
    # fonts for matplotlib/Qt text
    fonts-dejavu-core
)

install_apt_packages() {
    local missing=() p
    for p in "${APT_PACKAGES[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' \
            || missing+=("$p")
    done
    if [ "${#missing[@]}" -eq 0 ]; then
        log "system packages present"
        return
    fi
    command -v apt-get >/dev/null || die "missing packages (${missing[*]}) and no apt-get"
    local sudo=()
    [ "$(id -u)" -eq 0 ] || sudo=(sudo)
    log "installing system packages: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    "${sudo[@]}" apt-get update -qq
    "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" </dev/null >/dev/null
}

if [ "${SKIP_APT:-0}" != 1 ]; then
    install_apt_packages
fi
ensure_venv "$ROOT/.venv"
build_into "$ROOT/.venv" -C cmake.define.ZENTROPE_SANITIZE=OFF
check_import "$ROOT/.venv"
log "setup done"
