#!/usr/bin/env bash
# Set up (see setup.sh), then run the project's main job.
#
#   bash scripts/main.sh [VERSION] [job arguments...]
#
# VERSION as in setup.sh (or PYTHON=/path/to/python3.X); the other arguments
# go to the job.
set -euo pipefail
source "$(dirname "$0")/_common.sh"

parse_common_args "$@"
run_in_root_if_needed "$0" "$@"
set -- "${REST[@]}"
bash "$ROOT/scripts/setup.sh" "$PYVER"
cd "$ROOT"

# The main job.  This is the one place to change it.
# The demo application: with a display it opens its window; without one it
# runs a scripted session through real Qt drag and drop events, saves
# out/demo.png and exits.
MAIN_JOB=("$(venv_dir "$PYVER")/bin/python" -m zentrope.demo)

exec "${MAIN_JOB[@]}" "$@"
