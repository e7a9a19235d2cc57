"""Instructions per call of each case, counted by valgrind's callgrind.

    .venv/bin/python bench/callgrind.py [--only TEXT] [--loops N] [--impls native,cython] [--keep DIR]
                                        [--json PATH]

Unlike run.py's timings, instruction counts do not depend on machine load,
so small differences between the implementations show up reliably. The
script runs itself under ``valgrind --tool=callgrind`` (PYTHONHASHSEED=0, one
OpenBLAS thread, instrumentation off until the cases start) and, for every
case, runs the timing loop of each implementation and the empty baseline loop
``--loops`` times between a reset and a dump of callgrind's counters (client
requests, through a small helper compiled on first use). Instructions per
call are (implementation − baseline) ÷ loops. With ``--keep DIR`` the dumps
stay in DIR, one per loop (``callgrind_annotate --inclusive=yes FILE`` shows
where the instructions go). ``--json`` writes the counts for ``run.py
--instructions``, which puts them next to the timings.
"""
import argparse
import ctypes
import json
import platform
import os
import re
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
BUILD = os.path.join(HERE, "_build", sys.implementation.cache_tag)  # a host's and a chroot's builds apart
HELPER_SOURCE = """\
#include <valgrind/callgrind.h>
void cg_start(void) { CALLGRIND_START_INSTRUMENTATION; }
void cg_zero(void) { CALLGRIND_ZERO_STATS; }
void cg_dump(const char* label) { CALLGRIND_DUMP_STATS_AT(label); }
"""


def helper():
    """The client-request helper, compiled into bench/_build/<interpreter> on first use."""
    os.makedirs(BUILD, exist_ok=True)
    path = os.path.join(BUILD, "cgrequests.so")
    if not os.path.exists(path):
        source = os.path.join(BUILD, "cgrequests.c")
        with open(source, "w") as f:
            f.write(HELPER_SOURCE)
        subprocess.run(["cc", "-O2", "-shared", "-fPIC", "-o", path, source], check=True)
    lib = ctypes.CDLL(path)
    lib.cg_dump.argtypes = [ctypes.c_char_p]
    return lib


def child(args):
    """Runs under callgrind: one dump per (case, implementation or baseline)."""
    os.environ.setdefault("QT_QPA_PLATFORM", "offscreen")
    sys.path.insert(0, HERE)
    import cases
    import harness
    import impls
    from standins import FastKit

    lib = helper()
    impl_list = impls.load(args.impls.split(","))
    selected = [c for c in cases.CASES if not args.only or args.only in c.key]
    kit = FastKit()
    lib.cg_start()
    with impls.swapped(impl_list, kit):
        for n, case in enumerate(selected):
            runs = []
            for impl in impl_list:
                setup = case.build(kit, impl)
                runs.append((impl.name, harness.make_loop(case, setup), impl.function(case.owner, case.method),
                             setup.self))
            setup = case.build(kit, impl_list[0])
            runs.append(("baseline", harness.make_loop(case, setup, with_call=False), None, setup.self))
            for name, loop, fn, s in runs:
                loop(20, fn, s)  # warm-up: first-call allocations, caches
                lib.cg_zero()
                loop(args.loops, fn, s)
                lib.cg_dump(f"{n}|{name}".encode())


def parse(directory):
    """{case index: {implementation: total instructions}} from the dumps."""
    totals = {}
    for name in os.listdir(directory):
        with open(os.path.join(directory, name)) as f:
            text = f.read()
        label = re.search(r"^desc: Trigger: Client Request: (\d+)\|(\w+)$", text, re.M)
        total = re.search(r"^(?:totals|summary): (\d+)", text, re.M)
        if label and total:
            totals.setdefault(int(label.group(1)), {})[label.group(2)] = int(total.group(1))
    return totals


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--only", metavar="TEXT", help="only cases whose name contains TEXT")
    parser.add_argument("--loops", type=int, default=1000, help="calls per count (default 1000)")
    parser.add_argument("--impls", default="native,python,cython", help="comma-separated, native first")
    parser.add_argument("--keep", metavar="DIR", help="keep the callgrind dumps in DIR")
    parser.add_argument("--json", metavar="PATH", help="also write the counts as JSON")
    parser.add_argument("--child", action="store_true", help=argparse.SUPPRESS)
    args = parser.parse_args(argv)
    if args.child:
        child(args)
        return 0

    if "cython" in args.impls:
        sys.path.insert(0, HERE)
        import impls
        impls.build_cython()
    helper()
    out = args.keep or tempfile.mkdtemp(prefix="callgrind-")
    os.makedirs(out, exist_ok=True)
    env = dict(os.environ, PYTHONHASHSEED="0", OPENBLAS_NUM_THREADS="1", QT_QPA_PLATFORM="offscreen")
    command = ["valgrind", "--tool=callgrind", "--instr-atstart=no", f"--callgrind-out-file={out}/cg.%p",
               sys.executable, os.path.abspath(__file__), "--child", "--loops", str(args.loops),
               "--impls", args.impls] + (["--only", args.only] if args.only else [])
    try:
        subprocess.run(command, env=env, check=True, stderr=subprocess.DEVNULL)
        totals = parse(out)
    finally:
        if not args.keep:
            shutil.rmtree(out, ignore_errors=True)

    sys.path.insert(0, HERE)
    import cases
    selected = [c for c in cases.CASES if not args.only or args.only in c.key]
    names = args.impls.split(",")
    others = names[1:]
    head = ["operation", "case"] + [f"{n} Ir" for n in names] + [f"{n} ÷ {names[0]}" for n in others]
    print("| " + " | ".join(head) + " |")
    print("|" + "---|" * 2 + "---:|" * (len(head) - 2))
    counts = {}
    for n, case in enumerate(selected):
        row = totals.get(n, {})
        per_call = {k: (row[k] - row["baseline"]) / args.loops for k in names if k in row and "baseline" in row}
        counts[case.key] = per_call
        cells = [case.op, case.variant] + [f"{per_call[k]:,.0f}" if k in per_call else "–" for k in names]
        for k in others:
            ok = k in per_call and per_call.get(names[0])
            cells.append(f"{per_call[k] / per_call[names[0]]:.3f}" if ok else "–")
        print("| " + " | ".join(cells) + " |")
    if args.json:
        with open(args.json, "w") as f:
            json.dump({"python": platform.python_version(), "loops": args.loops, "instructions": counts}, f, indent=2,
                      ensure_ascii=False)
    return 0


if __name__ == "__main__":
    sys.exit(main())
