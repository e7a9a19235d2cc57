"""Timing loops and traced runs for the cases in cases.py.

Each (case, implementation) gets a loop function generated from the case, in
the manner of timeit: the method, the stand-in ``self`` and the arguments are
locals of the loop, so the loop itself costs only the iteration and the call.
A baseline loop, identical but without the call, is timed alongside and
subtracted. The same generated loop, run once with traced stand-ins, is how
``check`` verifies the case.
"""
import gc
import itertools
import random
import textwrap
import time
from dataclasses import dataclass

from impls import swapped
from standins import FastKit, TraceKit

LOOP = """\
def loop(_loops, _timer, fn, s{params}):
{setup}
    _t0 = _timer()
    for _ in _repeat(None, _loops):
{pre}
{body}
{then}
    return _timer() - _t0
"""


class NoError(AssertionError):
    pass


def _call_source(setup):
    args = [f"a{i}" for i in range(len(setup.args))]
    kwargs = [f"{k}=k_{k}" for k in setup.kwargs]
    return "fn(" + ", ".join(["s", *args, *kwargs]) + ")"


def make_loop(case, setup, with_call=True):
    """The loop function for ``case`` with the objects of ``setup`` bound."""
    names = {f"a{i}": a for i, a in enumerate(setup.args)}
    names.update({f"k_{k}": v for k, v in setup.kwargs.items()})
    names.update(setup.names)
    if not with_call:
        body = "pass"
    elif case.raises:
        body = f"try:\n    {_call_source(setup)}\nexcept _exc:\n    pass\nelse:\n    raise _NoError"
    else:
        body = _call_source(setup)
    source = LOOP.format(
        params="".join(f", {n}" for n in names),
        setup=textwrap.indent(case.setup or "pass", " " * 4),
        pre=textwrap.indent(case.pre or "pass", " " * 8),
        body=textwrap.indent(body, " " * 8),
        then=textwrap.indent(case.then if with_call and case.then else "pass", " " * 8),
    )
    scope = {"_repeat": itertools.repeat, "_exc": case.raises, "_NoError": NoError}
    exec(compile(source, f"<loop {case.key}>", "exec"), scope)
    loop = scope["loop"]
    values = list(names.values())
    return lambda loops, fn, s: loop(loops, time.perf_counter, fn, s, *values)


# --- checking --------------------------------------------------------------------


def trace(case, impl, impls):
    """The log of one traced call of ``case`` on ``impl``."""
    kit = TraceKit()
    with swapped(impls, kit):
        setup = case.build(kit, impl)
        loop = make_loop(case, setup)
        loop(1, impl.function(case.owner, case.method), setup.self)
    return list(kit.log)


def problems(case, log):
    """What is wrong with a traced log, judged by the case's expectations."""
    found = []
    pos = 0
    for entry in case.expect:
        try:
            pos = log.index(entry, pos) + 1
        except ValueError:
            found.append(f"missing (or out of order): {entry}")
    for text in case.absent:
        hits = [e for e in log if text in e]
        if hits:
            found.append(f"unexpected: {hits[0]}")
    return found


def same_steps(log, reference, strict):
    """Whether two logs show the same steps.

    Strict: entry for entry. Otherwise the calls must come in the same order
    and the attribute reads be the same, in any order: Cython evaluates a
    method call's arguments before it looks the method up.
    """
    if strict:
        return log == reference
    calls = [e for e in log if e.endswith(")")]
    return calls == [e for e in reference if e.endswith(")")] and sorted(log) == sorted(reference)


def check(cases, impls):
    """Traces every case on every implementation. Returns a list of failures.

    The first implementation is the reference; the plain-Python twin must
    match it entry for entry, the Cython twin call for call.
    """
    failures = []
    for case in cases:
        logs = {}
        for impl in impls:
            try:
                logs[impl.name] = trace(case, impl, impls)
            except Exception as exc:  # reported, not raised: check all cases
                failures.append(f"{case.key} [{impl.name}]: {type(exc).__name__}: {exc}")
                continue
            failures += [f"{case.key} [{impl.name}]: {p}" for p in problems(case, logs[impl.name])]
        if not logs:
            continue
        first, reference = next(iter(logs.items()))
        for name, log in logs.items():
            if not same_steps(log, reference, strict=name != "cython"):
                failures.append(f"{case.key}: {name} steps differ from {first}:\n  {log}\n  {reference}")
    return failures


# --- timing -----------------------------------------------------------------------


@dataclass
class Timing:
    case: object
    loops: int
    ns: dict  # implementation name -> ns per call, baseline subtracted
    baseline_ns: float


def _time(case, impls, kit, repeats, target):
    prepared = []
    for impl in impls:
        setup = case.build(kit, impl)
        prepared.append((impl.name, make_loop(case, setup), impl.function(case.owner, case.method), setup.self))
    base_setup = case.build(kit, impls[0])
    base = (None, make_loop(case, base_setup, with_call=False), None, base_setup.self)

    # Loops per batch: enough for the first implementation to run `target` s.
    _, loop, fn, s = prepared[0]
    loops = 16
    while loop(loops, fn, s) < target and loops < 1 << 22:
        loops *= 2

    best = {name: float("inf") for name, *_ in prepared + [base]}
    order = prepared + [base]
    for _ in range(repeats):
        random.shuffle(order)  # no implementation always runs first or last
        for name, loop, fn, s in order:
            best[name] = min(best[name], loop(loops, fn, s))
    base_ns = best.pop(None) / loops * 1e9
    return Timing(case, loops, {n: t / loops * 1e9 - base_ns for n, t in best.items()}, base_ns)


def measure(cases, impls, repeats=25, target=0.002, progress=None):
    """Times every case on every implementation; the minimum over `repeats`."""
    kit = FastKit()
    results = []
    gc_was_enabled = gc.isenabled()
    with swapped(impls, kit):
        gc.collect()
        gc.disable()
        try:
            for case in cases:
                if progress:
                    progress(case)
                results.append(_time(case, impls, kit, repeats, target))
        finally:
            if gc_was_enabled:
                gc.enable()
    return results
