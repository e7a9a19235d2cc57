#!/usr/bin/env bash
# Set up (see setup.sh), then run the whole test suite against the installed
# package.  Extra arguments go to pytest.  Exits non-zero on any failure and
# also when no test was collected.
set -euo pipefail
source "$(dirname "$0")/_common.sh"

bash "$ROOT/scripts/setup.sh"
run_pytest "$ROOT/.venv" "$@"
