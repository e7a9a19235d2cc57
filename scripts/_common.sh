# Shared helpers for the scripts in this directory (sourced, not run).

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

log() { printf '==> %s\n' "$*" >&2; }
die() { printf 'error: %s\n' "$*" >&2; exit 1; }

# Build and test dependencies, pinned to ranges that support CPython 3.10.
BUILD_DEPS=(
    "scikit-build-core>=0.10,<2"
    "cmake>=3.20,<5"
    "ninja>=1.10,<2"
)
RUN_TEST_DEPS=(
    "PySide6-Essentials>=6.5,<6.11"
    "matplotlib>=3.7,<3.11"
    "numpy>=1.23,<3"
    "pytest>=7,<10"
    "pytest-qt>=4.2,<5"
    "hypothesis>=6.50,<7"
)

# find_python: print the path of a CPython 3.10 interpreter.
# Order: $PYTHON, pyenv's 3.10, /root/.pyenv's 3.10, python3.10 on PATH.
is_py310() {
    [ -n "$1" ] && [ -x "$1" ] &&
        "$1" -c 'import sys; sys.exit(sys.version_info[:2] != (3, 10))' 2>/dev/null
}
find_python() {
    local cand
    if [ -n "${PYTHON:-}" ]; then
        cand="$(command -v "$PYTHON" || true)"
        is_py310 "$cand" || die "PYTHON=$PYTHON is not a CPython 3.10 interpreter"
        echo "$cand"; return
    fi
    if command -v pyenv >/dev/null 2>&1; then
        cand="$(pyenv prefix 3.10 2>/dev/null | head -n1 || true)"
        if [ -n "$cand" ] && is_py310 "$cand/bin/python3.10"; then
            echo "$cand/bin/python3.10"; return
        fi
    fi
    for cand in "${PYENV_ROOT:-$HOME/.pyenv}"/versions/3.10.*/bin/python3.10 \
                /root/.pyenv/versions/3.10.*/bin/python3.10; do
        if is_py310 "$cand"; then echo "$cand"; return; fi
    done
    cand="$(command -v python3.10 || true)"
    if is_py310 "$cand"; then echo "$cand"; return; fi
    die "no CPython 3.10 found (set PYTHON=/path/to/python3.10)"
}

# ensure_venv DIR: create a 3.10 virtual environment at DIR unless a working
# one is there, and install the build, run and test dependencies into it.
ensure_venv() {
    local venv="$1" py
    if ! is_py310 "$venv/bin/python"; then
        py="$(find_python)"
        log "creating $venv with $py"
        rm -rf "$venv"
        "$py" -m venv "$venv"
        "$venv/bin/python" -m pip install -q --upgrade pip
    fi
    log "installing dependencies into $venv"
    "$venv/bin/python" -m pip install -q --disable-pip-version-check \
        "${BUILD_DEPS[@]}" "${RUN_TEST_DEPS[@]}"
}

# build_into VENV [pip config settings...]: build the extension and install
# the package into VENV (no build isolation: the venv has the build deps).
# Serialised, since several callers may share a build directory.
build_into() {
    local venv="$1"; shift
    log "building and installing the package into $venv"
    (cd "$ROOT" && flock /tmp/zentrope-build.lock \
        "$venv/bin/python" -m pip install -q --disable-pip-version-check \
            --no-build-isolation --no-deps "$@" .)
}

# Python started from the repository root would import the source tree's
# package (which has no extension); run checks from elsewhere.
check_import() {
    local venv="$1"
    (cd / && "$venv/bin/python" -c \
        'import zentrope.widgets.models.gmodel.mpl as m; print("==> imported", m.__file__)') >&2
}

# run_pytest VENV [pytest args...]: run the suite in tests/ with VENV's
# pytest.  The console script (unlike `python -m pytest`) does not put the
# working directory on sys.path, and tests/ is not a package, so the tests
# import the installed package rather than the source tree.
run_pytest() {
    local venv="$1"; shift
    local rc=0
    [ -d "$ROOT/tests" ] || die "no tests/ directory"
    # Qt without a display uses the offscreen platform.
    if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
        export QT_QPA_PLATFORM="${QT_QPA_PLATFORM:-offscreen}"
    fi
    cd "$ROOT"
    log "running tests with $venv"
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
