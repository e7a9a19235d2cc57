"""Measures one interpreter and keeps the results for report.py.

    .venv-3.12/bin/python bench/record.py [--runs 5] [--repeats 100] [--out bench/results/cpython-3.12.json] [--quick]

Runs callgrind.py once (instructions per call, which load does not change)
and run.py ``--runs`` times, each in a fresh process (timings, whose spread
over the runs tells how far they can be trusted on this machine; only the
first run also measures the real widgets). The load average is read before
and after every timing run. Everything goes into one JSON file, by default
bench/results/cpython-X.Y.json, together with the versions of the
interpreter, Cython, PySide6, matplotlib and numpy and the commit measured.
"""
import argparse
import json
import os
import platform
import subprocess
import sys
import tempfile
import time
from importlib.metadata import PackageNotFoundError, version

HERE = os.path.dirname(os.path.abspath(__file__))
RESULTS = os.path.join(HERE, "results")
NATIVE_SOURCES = ("src", "CMakeLists.txt", ":(exclude)src/zentrope")  # git pathspecs; measure.sh has the same


def built_from():
    """The last commit that changed the native module's sources, or None where git cannot tell."""
    try:
        return subprocess.run(["git", "log", "-1", "--format=%h", "--", *NATIVE_SOURCES],
                              cwd=os.path.dirname(HERE), capture_output=True, text=True,
                              check=True).stdout.strip() or None
    except (OSError, subprocess.CalledProcessError):
        return None


def versions():
    found = {"python": platform.python_version(), "machine": platform.machine(), "cpus": os.cpu_count()}
    for name in ("Cython", "PySide6-Essentials", "matplotlib", "numpy"):
        try:
            found[name] = version(name)
        except PackageNotFoundError:
            found[name] = None
    return found


def step(command, out):
    """Runs a bench script in a fresh process; its JSON output."""
    print(f"==> {' '.join(os.path.basename(c) for c in command[1:])}", file=sys.stderr)
    subprocess.run([sys.executable, *command], check=True, stdout=subprocess.DEVNULL)
    with open(out) as f:
        return json.load(f)


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--runs", type=int, default=5, help="timing runs, each in a fresh process (default 5)")
    parser.add_argument("--repeats", type=int, default=100, help="batches per case in each timing run (default 100)")
    parser.add_argument("--quick", action="store_true", help="short timing runs and 200 counted calls (rough)")
    parser.add_argument("--out", metavar="PATH", help="default bench/results/cpython-X.Y.json")
    parser.add_argument("--commit", help="the commit the module was built from, where git cannot tell (a chroot)")
    args = parser.parse_args(argv)
    out = args.out or os.path.join(RESULTS, "cpython-{}.{}.json".format(*sys.version_info[:2]))
    started = time.time()
    with tempfile.TemporaryDirectory() as tmp:
        cg_json = os.path.join(tmp, "cg.json")
        loops = ["--loops", "200"] if args.quick else []
        counts = step([os.path.join(HERE, "callgrind.py"), "--json", cg_json, *loops], cg_json)
        runs, real = [], {}
        for n in range(args.runs):
            run_json = os.path.join(tmp, f"run{n}.json")
            extra = (["--quick"] if args.quick else ["--repeats", str(args.repeats)]) + (["--no-real"] if n else [])
            load_before = os.getloadavg()
            result = step([os.path.join(HERE, "run.py"), "--json", run_json, *extra], run_json)
            runs.append({"loadavg_before": load_before, "loadavg_after": os.getloadavg(),
                         "repeats": result["repeats"], "micro": result["micro"]})
            if not n and "real" in result:
                real = {"lookup_ns": result["lookup_ns"], "real": result["real"]}
    record = {"build": {**versions(), "commit": args.commit or built_from()}, "measured": time.strftime("%Y-%m-%d", time.gmtime(started)),
              "instructions": {"loops": counts["loops"], "counts": counts["instructions"]},
              "timing_runs": runs, **real}
    os.makedirs(os.path.dirname(os.path.abspath(out)), exist_ok=True)
    with open(out, "w") as f:
        json.dump(record, f, indent=1, ensure_ascii=False)
        f.write("\n")
    print(f"==> wrote {out} in {time.time() - started:.0f} s", file=sys.stderr)
    return 0


if __name__ == "__main__":
    sys.exit(main())
