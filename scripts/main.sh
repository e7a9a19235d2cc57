#!/usr/bin/env bash
# Set up (see setup.sh), then run the project's main job.  Arguments go to
# the job; PYTHON=/path/to/python3.X runs it on another CPython version.
set -euo pipefail
source "$(dirname "$0")/_common.sh"

parse_common_args
bash "$ROOT/scripts/setup.sh" "$PYVER"
cd "$ROOT"

# The main job.  This is the one place to change it.
# The demo application: with a display it opens its window; without one it
# runs a scripted session through real Qt drag and drop events, saves
# out/demo.png and exits.
MAIN_JOB=("$(venv_dir "$PYVER")/bin/python" -m zentrope.demo)

exec "${MAIN_JOB[@]}" "$@"
