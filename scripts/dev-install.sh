#!/usr/bin/env bash
# Rebuild the native module and install the package into the environment of
# a version (incremental, serialised so that parallel callers do not trip
# over one build directory).  Run setup.sh for that version once first.
#
#   bash scripts/dev-install.sh [VERSION]
set -euo pipefail
source "$(dirname "$0")/_common.sh"
cd "$ROOT"

parse_common_args "$@"
run_in_root_if_needed "$0" "$@"
VENV="$(venv_dir "$PYVER")"
[ -x "$VENV/bin/python" ] || die "no $VENV: run bash scripts/setup.sh $PYVER first"
exec flock /tmp/zentrope-build.lock "$VENV/bin/python" -m pip install \
    --no-build-isolation --no-deps -q .
