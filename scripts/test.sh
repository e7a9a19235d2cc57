#!/usr/bin/env bash
# Set up (see setup.sh), then run the whole test suite against the installed
# package.
#
#   bash scripts/test.sh [VERSION] [--deps=lowest|newest] [pytest args...]
#
# VERSION and --deps choose the environment as in setup.sh; the other
# arguments go to pytest.  Exits non-zero on any failure and also when no test
# was collected.
set -euo pipefail
source "$(dirname "$0")/_common.sh"

parse_common_args "$@"
run_in_root_if_needed "$0" "$@"
lead=("$PYVER")
[ -z "$DEPS" ] || lead+=("--deps=$DEPS")
bash "$ROOT/scripts/setup.sh" "${lead[@]}"
run_pytest "$(venv_dir "$PYVER" "$([ "$DEPS" = lowest ] && echo lowest)")" "${REST[@]}"
