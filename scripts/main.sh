#!/usr/bin/env bash
# Set up (see setup.sh), then run the project's main job.
set -euo pipefail
source "$(dirname "$0")/_common.sh"

bash "$ROOT/scripts/setup.sh"
cd "$ROOT"

# The main job.  This is the one place to change it.
# Currently the native module's developer block: it shows a small plot; with
# no display it renders offscreen, saves out/devblock.png and exits.
# (-I keeps the source tree, which has no built extension, off sys.path.)
MAIN_JOB=("$ROOT/.venv/bin/python" -I -m zentrope.devblock)

exec "${MAIN_JOB[@]}" "$@"
