#!/usr/bin/env bash
# Measure the benchmark on one CPython version and redraw the chart and the
# tables from all the kept results:
#
#   bash bench/measure.sh 3.12 [record.py options, e.g. --runs 3]
#
# Sets up that version's environment (scripts/setup.sh), adds valgrind when
# missing and Cython and setuptools for the Cython twin, writes
# bench/results/cpython-3.12.json, then regenerates docs/bench.png and the
# results block of bench/README.md.  An interpreter that this machine runs
# only inside the Debian root of scripts/in-root.sh is measured in there.
set -euo pipefail
source "$(dirname "$0")/../scripts/_common.sh"
cd "$ROOT"
[ "$#" -ge 1 ] || die "usage: bash bench/measure.sh VERSION [record.py options]"
version="$1"; shift
bash scripts/setup.sh "$version"
venv="$(venv_dir "$version")"
inside=()
if ! "$venv/bin/python" -c '' 2>/dev/null && [ -f scripts/in-root.sh ]; then
    inside=(bash scripts/in-root.sh)
fi
"${inside[@]}" sh -c 'command -v valgrind >/dev/null || { apt-get update -qq &&
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends valgrind </dev/null >/dev/null; }'
"${inside[@]}" "$venv/bin/python" -m pip install -q --disable-pip-version-check "Cython>=3,<4" setuptools
commit="$(git log -1 --format=%h -- src CMakeLists.txt ':(exclude)src/zentrope')"  # as record.py
"${inside[@]}" "$venv/bin/python" bench/record.py --commit "$commit" "$@"
"${inside[@]}" "$venv/bin/python" bench/report.py bench/results/cpython-*.json --chart docs/bench.png \
    --markdown bench/README.md
