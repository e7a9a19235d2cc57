#!/usr/bin/env bash
# Prepare this machine and the repository for running the project:
#   - Debian packages Qt needs at run time (plus xvfb/xdotool for the
#     end-to-end tests and a C++ compiler), installed only when missing;
#   - a virtual environment for one CPython version with the build, run and
#     test dependencies;
#   - the package, with its native module built, installed into it.
# Safe to run again: every step skips what is already there.
#
#   bash scripts/setup.sh [VERSION] [--deps=lowest|newest]
#
# VERSION is 3.10, 3.11, 3.12, 3.13 (the default), 3.14 or 3.15; the
# environment is .venv for 3.13 and .venv-VERSION for the others.
# PYTHON=/path/to/python3.X picks the interpreter (and so the version) instead
# of the search through pyenv and PATH; 3.14 and 3.15, when that search finds
# none, run this script in the Debian unstable root (scripts/in-root.sh).
# --deps=lowest installs the lower bound of every run dependency's
# range (.ci/lowest-deps.txt) into .venv-lowest-VERSION; --deps=newest
# upgrades the dependencies to the newest releases the ranges allow.
# SKIP_APT=1 skips the system package check.
set -euo pipefail
source "$(dirname "$0")/_common.sh"
cd "$ROOT"

parse_common_args "$@"
run_in_root_if_needed "$0" "$@"
[ "${#REST[@]}" -eq 0 ] || die "unexpected arguments: ${REST[*]}"

ensure_system_packages
VENV="$(venv_dir "$PYVER" "$([ "$DEPS" = lowest ] && echo lowest)")"
ensure_venv "$VENV" "$PYVER"
build_into "$VENV" "$DEPS" -C cmake.define.ZENTROPE_SANITIZE=OFF
check_import "$VENV"
log "setup done ($VENV)"
