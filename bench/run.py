"""Benchmark of the native widget methods against a plain-Python and a Cython twin.

    .venv/bin/python bench/run.py [--quick] [--json out.json] [--no-real] [--instructions cg.json]

1. Checks, with traced stand-ins, that the three implementations make the
   same calls for every case (a failure stops the run: the numbers would
   compare different work).
2. Times every case (cases.py) on each implementation: minimum over many
   batches, loop overhead subtracted, in ns per call.
3. With real widgets (e2e.py): the cost of looking a method up on a real
   widget, and real operations with matplotlib's draw, next to the module's
   own share of them.
"""
import argparse
import json
import os
import platform
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
if not (os.environ.get("DISPLAY") or os.environ.get("WAYLAND_DISPLAY")):
    os.environ.setdefault("QT_QPA_PLATFORM", "offscreen")

import cases  # noqa: E402
import harness  # noqa: E402
import impls  # noqa: E402
from report import NAMES, fmt_ns, lookup_table, ratio_cell, real_table  # noqa: E402

def micro_table(timings, names, instructions=None):
    """Timings per case; with ``instructions`` (callgrind.py's counts by case) also those."""
    others = [n for n in names if n != "native"]
    head = ["operation", "case"] + [f"{NAMES[n]} ns" for n in names] + [f"{NAMES[n]} ÷ native" for n in others]
    if instructions:
        head += ["native instr."] + [f"{NAMES[n]} ÷ native instr." for n in others]
    lines = ["| " + " | ".join(head) + " |", "|" + "---|" * 2 + "---:|" * (len(head) - 2)]
    for t in timings:
        cells = [t.case.op, t.case.variant or ""] + [fmt_ns(t.ns[n]) for n in names]
        cells += [ratio_cell(t.ns[n] / t.ns["native"]) for n in others]
        if instructions:
            counts = instructions.get(t.case.key, {})
            if "native" in counts:
                cells.append(f"{counts['native']:,.0f}")
                cells += [ratio_cell(counts[n] / counts["native"]) if n in counts else "–" for n in others]
            else:
                cells += ["–"] * (1 + len(others))
        lines.append("| " + " | ".join(cells) + " |")
    return "\n".join(lines)


def describe_build():
    info = {"python": sys.version.split()[0], "machine": platform.machine(), "cpus": os.cpu_count()}
    try:
        info["commit"] = subprocess.run(["git", "rev-parse", "--short", "HEAD"], cwd=HERE, capture_output=True,
                                        text=True, check=True).stdout.strip()
    except (OSError, subprocess.CalledProcessError):
        pass
    import Cython
    info["cython"] = Cython.__version__
    return info


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--quick", action="store_true", help="fewer, shorter batches (rough numbers)")
    parser.add_argument("--repeats", type=int, help="batches per case and implementation (default 40, quick 7)")
    parser.add_argument("--json", metavar="PATH", help="also write the results as JSON")
    parser.add_argument("--instructions", metavar="PATH",
                        help="callgrind.py --json output of the same build: instruction counts next to the timings")
    parser.add_argument("--no-real", action="store_true", help="skip the real-widget measurements")
    parser.add_argument("--only", metavar="TEXT", help="only cases whose name contains TEXT")
    parser.add_argument("--rebuild", action="store_true", help="recompile the Cython twin")
    args = parser.parse_args(argv)
    repeats = args.repeats or (7 if args.quick else 40)
    target = 0.0005 if args.quick else 0.003

    if args.rebuild:
        impls.build_cython(force=True)
    impl_list = impls.load()
    names = [i.name for i in impl_list]
    selected = [c for c in cases.CASES if not args.only or args.only in c.key]

    failures = harness.check(selected, impl_list)
    if failures:
        print("The implementations do not make the same calls; not timing:", file=sys.stderr)
        print("\n".join(failures), file=sys.stderr)
        return 1
    print(f"==> checked {len(selected)} cases: same calls in all implementations", file=sys.stderr)

    started = time.time()
    timings = harness.measure(selected, impl_list, repeats=repeats, target=target,
                              progress=lambda c: print(f"    {c.key}", file=sys.stderr))
    print(f"==> timed in {time.time() - started:.0f} s", file=sys.stderr)
    print("\n## Own cost of each operation (stand-ins; ns per call)\n")
    instructions = None
    if args.instructions:
        with open(args.instructions) as f:
            instructions = json.load(f)["instructions"]
    print(micro_table(timings, names, instructions))
    slower = [t for t in timings if any(t.ns[n] < t.ns["native"] for n in names if n != "native")]
    if slower:
        print(f"\n⚠ native is not the fastest in {len(slower)} of {len(timings)} cases.")

    result = {"build": describe_build(), "repeats": repeats,
              "micro": [{"op": t.case.op, "case": t.case.variant, "loops": t.loops,
                         "baseline_ns": t.baseline_ns, "ns": t.ns} for t in timings]}
    if not args.no_real:
        import e2e
        lookups = e2e.method_lookup(impl_list)
        print("\n## Looking up a method (`w.set_selection`) on a widget\n")
        print(lookup_table(lookups))
        native_ns = {t.case.key: t.ns["native"] for t in timings}
        real = e2e.end_to_end(impl_list[names.index("native")])
        print("\n## Real widget, real draw (640×480, five elements)\n")
        print(real_table(real, native_ns))
        result["lookup_ns"] = lookups
        result["real"] = real
    if args.json:
        with open(args.json, "w") as f:
            json.dump(result, f, indent=2, ensure_ascii=False)
        print(f"\n==> wrote {args.json}", file=sys.stderr)
    return 0


if __name__ == "__main__":
    sys.exit(main())
