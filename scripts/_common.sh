# Shared helpers for the scripts in this directory (sourced, not run).

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

log() { printf '==> %s\n' "$*" >&2; }
die() { printf 'error: %s\n' "$*" >&2; exit 1; }

# The CPython versions the package supports and CI tests; pyproject.toml's
# requires-python lower bound and classifiers name exactly these
# (tests/test_packaging.py checks).  The default is the newest that this
# machine's Debian release can have without the root below.
SUPPORTED_VERSIONS=(3.10 3.11 3.12 3.13 3.14 3.15)
DEFAULT_VERSION=3.13

# Versions that, when no local interpreter has them, come from a Debian
# unstable root (scripts/in-root.sh): every script then runs itself in there,
# with the same arguments.  The root is shared by all clones on the machine.
ROOT_VERSIONS=(3.14 3.15)
DEBIAN_ROOT="${ZENTROPE_DEBIAN_ROOT:-/var/cache/zentrope/debian-unstable}"

# Constraints that pin every run dependency to the lower bound of its range in
# pyproject.toml (the "lowest" dependency set).
LOWEST_DEPS="$ROOT/.ci/lowest-deps.txt"

# Build dependencies (the build runs without isolation, in the venv).  The run
# and test dependencies come from pyproject.toml's metadata.
BUILD_DEPS=(
    "scikit-build-core>=0.11,<2"
    "cmake>=3.20,<5"
    "ninja>=1.10,<2"
)

# py_version PATH: print the X.Y of the CPython interpreter at PATH, or fail.
py_version() {
    [ -n "$1" ] && [ -x "$1" ] && "$1" -c \
        'import sys; assert sys.implementation.name == "cpython"; print("%d.%d" % sys.version_info[:2])' \
        2>/dev/null
}

is_supported_version() {
    local v
    for v in "${SUPPORTED_VERSIONS[@]}"; do [ "$v" = "$1" ] && return 0; done
    return 1
}

# parse_common_args ARGS...: reads the leading options that every script
# shares and sets
#   PYVER  the CPython version to use: a leading "3.X" argument, else the
#          version of $PYTHON, else DEFAULT_VERSION;
#   DEPS   "" (keep what satisfies the ranges), "newest" (upgrade to the
#          newest in range) or "lowest" (the lower bounds), from --deps=...;
#   REST   the remaining arguments.
parse_common_args() {
    PYVER="" DEPS="" REST=()
    while [ "$#" -gt 0 ]; do
        case "$1" in
            3.[0-9]|3.[0-9][0-9]) PYVER="$1"; shift ;;
            --deps=lowest|--deps=newest) DEPS="${1#--deps=}"; shift ;;
            --deps=*) die "unknown $1 (lowest or newest)" ;;
            *) break ;;
        esac
    done
    REST=("$@")
    if [ -n "${PYTHON:-}" ]; then
        local pv
        pv="$(py_version "$(command -v "$PYTHON" || true)")" ||
            die "PYTHON=$PYTHON is not a CPython interpreter"
        [ -z "$PYVER" ] || [ "$PYVER" = "$pv" ] ||
            die "PYTHON=$PYTHON is CPython $pv, but $PYVER was asked for"
        PYVER="$pv"
    fi
    PYVER="${PYVER:-$DEFAULT_VERSION}"
    is_supported_version "$PYVER" ||
        die "CPython $PYVER is not supported (supported: ${SUPPORTED_VERSIONS[*]})"
}

# local_python VERSION: print the path of a CPython VERSION interpreter on
# this machine, or fail.  Order: $PYTHON, pyenv's VERSION, ~/.pyenv's and
# /root/.pyenv's VERSION, pythonVERSION on PATH.
local_python() {
    local want="$1" cand
    if [ -n "${PYTHON:-}" ]; then
        cand="$(command -v "$PYTHON" || true)"
        [ "$(py_version "$cand")" = "$want" ] || die "PYTHON=$PYTHON is not CPython $want"
        echo "$cand"; return
    fi
    if command -v pyenv >/dev/null 2>&1; then
        cand="$(pyenv prefix "$want" 2>/dev/null | head -n1 || true)"
        if [ -n "$cand" ] && [ "$(py_version "$cand/bin/python$want")" = "$want" ]; then
            echo "$cand/bin/python$want"; return
        fi
    fi
    for cand in "${PYENV_ROOT:-$HOME/.pyenv}"/versions/"$want".*/bin/python"$want" \
                /root/.pyenv/versions/"$want".*/bin/python"$want"; do
        if [ "$(py_version "$cand")" = "$want" ]; then echo "$cand"; return; fi
    done
    cand="$(command -v "python$want" || true)"
    if [ "$(py_version "$cand")" = "$want" ]; then echo "$cand"; return; fi
    return 1
}

find_python() {
    local_python "$1" ||
        die "no CPython $1 found: install it (for example \`pyenv install $1\`) or set PYTHON=/path/to/python$1"
}

in_root_versions() {
    local v
    for v in "${ROOT_VERSIONS[@]}"; do [ "$v" = "$1" ] && return 0; done
    return 1
}

# uses_root VERSION: true when VERSION is to come from the Debian root (no
# local interpreter has it, and this is not already the root)
uses_root() {
    [ -z "${ZENTROPE_IN_ROOT:-}" ] && in_root_versions "$1" && ! local_python "$1" >/dev/null
}

# run_in_root_if_needed SCRIPT ARGS...: when PYVER comes from the Debian
# root, run the script there, with the same arguments, and exit with its status.
run_in_root_if_needed() {
    local script="$1"; shift
    uses_root "$PYVER" || return 0
    log "CPython $PYVER is not on this machine: running in the Debian unstable root ($DEBIAN_ROOT)"
    exec bash "$ROOT/scripts/in-root.sh" bash "$ROOT/scripts/$(basename "$script")" "$@"
}

# venv_dir VERSION [KIND]: the virtual environment of a version and kind
# ("" for the normal build, "asan", "lowest", "wheel").  The default version's
# normal and sanitizer environments keep their short names.
venv_dir() {
    local version="$1" kind="${2:-}"
    if [ "$version" = "$DEFAULT_VERSION" ] && [ -z "$kind" ]; then
        echo "$ROOT/.venv"
    elif [ "$version" = "$DEFAULT_VERSION" ] && [ "$kind" = asan ]; then
        echo "$ROOT/.venv-asan"
    else
        echo "$ROOT/.venv${kind:+-$kind}-$version"
    fi
}

# ensure_venv DIR VERSION: create a CPython VERSION virtual environment at DIR
# unless a working one is there, and install the build dependencies into it.
ensure_venv() {
    local venv="$1" version="$2" py
    if [ "$(py_version "$venv/bin/python")" != "$version" ]; then
        py="$(find_python "$version")"
        log "creating $venv with $py"
        rm -rf "$venv"
        "$py" -m venv "$venv"
        "$venv/bin/python" -m pip install -q --upgrade pip
    fi
    "$venv/bin/python" -m pip install -q --disable-pip-version-check "${BUILD_DEPS[@]}"
}

# deps_args DEPS: sets DEPS_ARGS to the pip options that select a dependency set.
deps_args() {
    case "$1" in
        lowest) DEPS_ARGS=(--constraint "$LOWEST_DEPS") ;;
        newest) DEPS_ARGS=(--upgrade --upgrade-strategy eager) ;;
        "") DEPS_ARGS=() ;;
        *) die "unknown dependency set $1" ;;
    esac
}

# build_into VENV DEPS [pip config settings...]: build the extension and
# install the package with its run and test dependencies (the "test" extra)
# into VENV, without build isolation (the venv has the build dependencies).
# Serialised, since several callers may share a build directory.
build_into() {
    local venv="$1" deps="$2"; shift 2
    log "building and installing the package into $venv${deps:+ ($deps dependencies)}"
    deps_args "$deps"
    (cd "$ROOT" && flock /tmp/zentrope-build.lock \
        "$venv/bin/python" -m pip install -q --disable-pip-version-check \
            --no-build-isolation "${DEPS_ARGS[@]}" "$@" ".[test]")
}

# Checks that the installed package imports with its native module.
check_import() {
    local venv="$1"
    (cd / && "$venv/bin/python" -c \
        'import zentrope.widgets.models.gmodel.mpl as m; print("==> imported", m.__file__)') >&2
}

# print the versions of the run dependencies installed in VENV
show_deps() {
    (cd / && "$1/bin/python" -c '
import sys
from importlib.metadata import version
names = ("PySide6-Essentials", "matplotlib", "numpy")
print("==> CPython %d.%d.%d;" % sys.version_info[:3],
      ", ".join(f"{n} {version(n)}" for n in names))') >&2
}

# qt_env: Qt without a display uses the offscreen platform.
qt_env() {
    if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
        export QT_QPA_PLATFORM="${QT_QPA_PLATFORM:-offscreen}"
    fi
}

# run_pytest VENV [pytest args...]: run the suite in tests/ with VENV's
# pytest, against the installed package (the source tree keeps the package
# under src/, so nothing at the root hides it).
run_pytest() {
    local venv="$1"; shift
    local rc=0
    [ -d "$ROOT/tests" ] || die "no tests/ directory"
    qt_env
    cd "$ROOT"
    log "running tests with $venv"
    show_deps "$venv"
    # Without arguments the whole suite; otherwise what the caller names
    # (options alone fall back to the configured testpaths, i.e. tests/).
    [ "$#" -gt 0 ] || set -- tests
    "$venv/bin/pytest" "$@" </dev/null || rc=$?
    if [ "$rc" -eq 5 ]; then
        echo "error: no tests were collected" >&2
        return 1
    fi
    return "$rc"
}

# System packages: Debian packages Qt needs at run time, plus xvfb/xdotool for
# the end-to-end tests and a C++ compiler; installed only when missing.
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

# The Debian unstable root's packages: the same, under sid's names, with the
# interpreters (python3.15 and its companions come from experimental).
ROOT_APT_PACKAGES=(ca-certificates python3.14 python3.14-dev python3.14-venv)
for p in "${APT_PACKAGES[@]}"; do
    case "$p" in
        libglib2.0-0) ROOT_APT_PACKAGES+=(libglib2.0-0t64) ;;
        *) ROOT_APT_PACKAGES+=("$p") ;;
    esac
done
unset p
ROOT_EXPERIMENTAL=(python3.15 python3.15-dev python3.15-venv)

ensure_system_packages() {
    [ "${SKIP_APT:-0}" != 1 ] || return 0
    # the root's packages are scripts/in-root.sh's business
    [ -z "${ZENTROPE_IN_ROOT:-}" ] || return 0
    local missing=() p
    for p in "${APT_PACKAGES[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep 'install ok installed' >/dev/null \
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

