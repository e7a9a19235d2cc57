#!/usr/bin/env bash
# Measure the benchmark on one CPython version and redraw the chart and the
# tables from all the kept results:
#
#   bash bench/measure.sh 3.12 [record.py options, e.g. --runs 5]
#
# Sets up that version's environment (scripts/setup.sh), adds Cython and
# setuptools for the Cython twin, writes bench/results/cpython-3.12.json, then
# regenerates docs/bench.png and the results block of bench/README.md.
set -euo pipefail
source "$(dirname "$0")/../scripts/_common.sh"
cd "$ROOT"
[ "$#" -ge 1 ] || die "usage: bash bench/measure.sh VERSION [record.py options]"
version="$1"; shift
bash scripts/setup.sh "$version"
venv="$(venv_dir "$version")"
"$venv/bin/python" -m pip install -q --disable-pip-version-check "Cython>=3,<4" setuptools
"$venv/bin/python" bench/record.py "$@"
"$venv/bin/python" bench/report.py bench/results/cpython-*.json --chart docs/bench.png --markdown bench/README.md
