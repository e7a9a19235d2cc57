#!/usr/bin/env bash
# Rebuild the native module and install the package into .venv (incremental,
# serialised so that parallel callers do not trip over one build directory).
set -euo pipefail
cd "$(dirname "$0")/.."
exec flock /tmp/zentrope-build.lock .venv/bin/pip install --no-build-isolation --no-deps -q .
