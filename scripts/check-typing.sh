#!/usr/bin/env bash
# Static checks of the typed interface, in the environment of one CPython
# version (set up by setup.sh first):
#   - mypy --strict over the companion modules and the native module's stub
#     (the configuration is in pyproject.toml);
#   - mypy's stubtest, which imports the built native module and compares
#     every class, method and parameter with the stub, so that the stub
#     cannot drift from the module (.ci/stubtest-allowlist.txt lists the
#     differences that are not drift, with the reason for each).
#
#   bash scripts/check-typing.sh [VERSION]
set -euo pipefail
source "$(dirname "$0")/_common.sh"

parse_common_args "$@"
run_in_root_if_needed "$0" "$@"
VENV="$(venv_dir "$PYVER")"
[ -x "$VENV/bin/python" ] || die "no $VENV: run bash scripts/setup.sh $PYVER first"
qt_env

log "mypy (strict) on the companion modules and the stub, CPython $PYVER"
(cd "$ROOT" && "$VENV/bin/python" -m mypy --cache-dir "$ROOT/.mypy_cache/$PYVER")

log "stubtest against the installed native module, CPython $PYVER"
# From outside the source tree, so that the installed build is what is checked.
(cd / && "$VENV/bin/python" -m mypy.stubtest \
    --mypy-config-file "$ROOT/pyproject.toml" \
    --allowlist "$ROOT/.ci/stubtest-allowlist.txt" \
    zentrope.widgets.models.gmodel.mpl)
