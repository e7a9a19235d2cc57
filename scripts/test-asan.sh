#!/usr/bin/env bash
# Build the native module with AddressSanitizer + UndefinedBehaviorSanitizer
# into a separate environment and run the whole test suite against it.
#
#   bash scripts/test-asan.sh [VERSION] [pytest args...]
#
# VERSION as in setup.sh; the environment is .venv-asan for 3.13 and
# .venv-asan-VERSION for the others.  Extra arguments go to pytest.
#
# The interpreter itself is not instrumented, so the sanitizer runtimes are
# preloaded into every Python process (LD_PRELOAD is inherited by the
# subprocesses that tests start: the end-to-end tests' Python children, and
# also Xvfb and xdotool, which run cleanly with the runtimes preloaded).
# ASan options, and why:
#   detect_leaks=0        what is still allocated at exit belongs to the
#                         interpreter, Qt and numpy, none of them built for
#                         leak checking;
#   halt_on_error=1, exitcode=86
#                         the first report ends the process with a status
#                         that pytest (or the parent test) sees as a failure;
#   handle_segv=1         a crash is reported with a stack.
# PySide6 (6.11 on CPython 3.10, 6.12 on 3.15) and Qt run cleanly with the
# preloaded runtime (no alloc-dealloc-mismatch or link-order reports), so no
# checks are switched off beyond leaks; should an uninstrumented Qt library
# ever trip one, the options to add through ASAN_OPTIONS are alloc_dealloc_mismatch=0 and
# verify_asan_link_order=0.
# UBSan: print_stacktrace=1, halt_on_error=1 (the module is also built with
# -fno-sanitize-recover=undefined).
set -euo pipefail
source "$(dirname "$0")/_common.sh"
cd "$ROOT"

parse_common_args "$@"
run_in_root_if_needed "$0" "$@"
[ -z "$DEPS" ] || die "--deps is for setup.sh and test.sh"
VENV="$(venv_dir "$PYVER" asan)"

ensure_system_packages
ensure_venv "$VENV" "$PYVER"
# A build directory of its own, so that the sanitizer settings never end up in
# the cache of the normal build.
build_into "$VENV" "" \
    -C cmake.define.ZENTROPE_SANITIZE=ON \
    -C build-dir="build/asan-{wheel_tag}"

LIBASAN="$(gcc -print-file-name=libasan.so)"
LIBUBSAN="$(gcc -print-file-name=libubsan.so)"
[ -f "$LIBASAN" ] || die "libasan not found (gcc -print-file-name=libasan.so gave $LIBASAN)"
[ -f "$LIBUBSAN" ] || die "libubsan not found (gcc -print-file-name=libubsan.so gave $LIBUBSAN)"

so="$(cd / && "$VENV/bin/python" -c \
    'import importlib.util as u; print(u.find_spec("zentrope.widgets.models.gmodel.mpl").origin)')"
# (grep reads all of ldd's output: with -q it could stop early, and ldd's
# SIGPIPE would fail the pipeline under pipefail.)
ldd "$so" | grep libasan >/dev/null || die "$so is not built with AddressSanitizer"

export LD_PRELOAD="$LIBASAN $LIBUBSAN${LD_PRELOAD:+ $LD_PRELOAD}"
export ASAN_OPTIONS="detect_leaks=0:halt_on_error=1:exitcode=86:handle_segv=1${ASAN_OPTIONS:+:$ASAN_OPTIONS}"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1${UBSAN_OPTIONS:+:$UBSAN_OPTIONS}"
# pymalloc hands out memory from its own arenas; with the system allocator
# every Python object is a separate malloc that ASan can watch.
export PYTHONMALLOC=malloc
# Tests that only read source text (the type checker's) skip themselves here.
export ZENTROPE_SANITIZED=1
# Instrumented frames are several times larger than release ones (redzones,
# -O1), while the interpreter, built without ASan, keeps the C recursion
# limit of a release build (3.12+: thousands of nested C calls before
# RecursionError; CPython lowers it only when the interpreter itself is built
# with ASan).  A deep but bounded native recursion that fits the default 8 MB
# stack in the release build needs more here.
ulimit -S -s 65536 2>/dev/null || log "could not raise the stack limit to 64 MB"

check_import "$VENV"
run_pytest "$VENV" "${REST[@]}"
