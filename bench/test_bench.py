"""Checks of the benchmark itself: that it compares like with like.

    .venv/bin/pytest bench/

No timings are asserted here; run.py is the benchmark.
"""
import os

os.environ.setdefault("QT_QPA_PLATFORM", "offscreen")

import json
import types

import matplotlib.figure
import pytest
from matplotlib.backends.backend_qtagg import FigureCanvasQTAgg

import callgrind
import cases
import harness
import impls
import report
import run
from standins import FastKit, StandInCanvas


@pytest.fixture(scope="module")
def impl_list():
    return impls.load()


@pytest.mark.parametrize("case", cases.CASES, ids=lambda c: c.key)
def test_implementations_make_the_same_calls(case, impl_list):
    # Also pins each case to its branch (Case.expect / Case.absent).
    assert harness.check([case], impl_list) == []


def twin_with(**methods):
    """The plain-Python twin with some _MPLDragWidget methods replaced."""
    import reference
    module = types.ModuleType("twin_variant")
    module.__dict__.update(reference.__dict__)
    module._MPLDragWidget = type("_MPLDragWidget", (reference._MPLDragWidget,), methods)
    return impls.Impl("python", module)


def leave_with_highlight(self, e):
    self.ax.set_facecolor(self._axcolor1)
    self.draw()


def leave_drawing_twice(self, e):
    self.ax.set_facecolor(self._axcolor0)
    self.draw()
    self.draw()


def leave_reading_colour_first(self, e):
    colour = self._axcolor0
    self.ax.set_facecolor(colour)
    self.draw()


@pytest.mark.parametrize("wrong", [leave_with_highlight, leave_drawing_twice, leave_reading_colour_first])
def test_a_twin_that_does_other_work_is_reported(wrong, impl_list):
    case = next(c for c in cases.CASES if c.op == "dragLeaveEvent")
    native = impl_list[0]
    assert harness.check([case], [native, twin_with(dragLeaveEvent=wrong)])


def test_a_case_that_misses_its_branch_is_reported(impl_list):
    case = next(c for c in cases.CASES if c.key == "dragEnterEvent: one .txt file → refuse")
    mislabelled = cases.Case(case.op, case.variant, case.owner, case.method, case.build,
                             expect=("e.accept()",))
    failures = harness.check([mislabelled], impl_list)
    assert failures and all("missing" in f for f in failures)


def test_an_error_case_whose_call_succeeds_fails_the_loop(impl_list):
    case = cases.Case("set_bgcolor", "", cases.CANVAS, "set_bgcolor",
                      lambda kit, impl: cases.Setup(cases.widget(kit), (1,)), raises=TypeError)
    native = impl_list[0]
    with impls.swapped(impl_list, FastKit()):
        setup = case.build(FastKit(), native)
        loop = harness.make_loop(case, setup)
        with pytest.raises(harness.NoError):
            loop(1, native.function(case.owner, case.method), setup.self)


def test_swapped_restores_globals_and_canvas_methods(impl_list):
    modules = [dict(i.module.__dict__) for i in impl_list]
    canvas = dict(FigureCanvasQTAgg.__dict__)
    stand_in = dict(StandInCanvas.__dict__)
    figure = matplotlib.figure.Figure
    with pytest.raises(RuntimeError):
        with impls.swapped(impl_list, FastKit()):
            assert impl_list[0].module.plt is not modules[0]["plt"]
            assert FigureCanvasQTAgg.__dict__["setParent"] is StandInCanvas.__dict__["setParent"]
            raise RuntimeError
    assert [dict(i.module.__dict__) for i in impl_list] == modules
    assert dict(FigureCanvasQTAgg.__dict__) == canvas
    assert dict(StandInCanvas.__dict__) == stand_in
    assert matplotlib.figure.Figure is figure


def test_run_writes_a_row_per_case_and_implementation(tmp_path, capsys):
    out, counts = tmp_path / "out.json", tmp_path / "cg.json"
    keys = [c.key for c in cases.CASES if c.op == "dropEvent"]
    counts.write_text(json.dumps({"instructions": {keys[0]: {"native": 1000.0, "python": 1500.0, "cython": 900.0}}}))
    assert run.main(["--repeats", "1", "--quick", "--only", "dropEvent", "--no-real", "--json", str(out),
                     "--instructions", str(counts)]) == 0
    rows = json.loads(out.read_text())["micro"]
    assert [r["case"] for r in rows] == [c.variant for c in cases.CASES if c.op == "dropEvent"]
    assert all(set(r["ns"]) == {"native", "python", "cython"} for r in rows)
    table = [line for line in capsys.readouterr().out.splitlines() if line.startswith("| dropEvent")]
    assert table[0].endswith("| 1,000 | 1.50 | 0.90 ⚠ |") and table[1].endswith("| – | – | – |")


def test_callgrind_counts_are_read_from_the_labelled_dumps(tmp_path):
    for n, (label, total) in enumerate([("0|native", 5000), ("0|baseline", 1000), ("1|cython", 7)]):
        (tmp_path / f"cg.1.{n}").write_text(f"desc: Trigger: Client Request: {label}\nsummary: {total}\n")
    (tmp_path / "cg.1").write_text("desc: Trigger: Program termination\nsummary: 99\n")
    assert callgrind.parse(tmp_path) == {0: {"native": 5000, "baseline": 1000}, 1: {"cython": 7}}


def tiny_record(python, runs):
    """A record.py result with the cases ``a`` and ``b: x``; ``runs`` holds (a, b) ns per timing run."""
    def micro(a, b):
        return [{"op": "a", "case": "", "ns": a}, {"op": "b", "case": "x", "ns": b}]
    return {"build": {"python": python, "commit": "abc1234", "Cython": "3", "PySide6-Essentials": "6",
                      "matplotlib": "3", "numpy": "2", "cpus": 2, "machine": "x86_64"}, "measured": "today",
            "instructions": {"loops": 10, "counts": {"a": {"native": 100, "python": 150, "cython": 90},
                                                     "b: x": {"native": 200, "python": 300}}},
            "timing_runs": [{"loadavg_before": [1.0], "loadavg_after": [2.0], "repeats": 5, "micro": micro(*r)}
                            for r in runs]}


def test_report_tables_and_chart_come_from_the_json(tmp_path):
    steady = {"native": 10, "python": 20, "cython": 10.2}
    runs = [(steady, {"native": 100, "python": 130, "cython": 100}),
            (steady, {"native": 100, "python": 150, "cython": 103})]
    paths = []
    for python, name in (("3.12.1", "new"), ("3.10.13", "old")):
        paths.append(tmp_path / f"{name}.json")
        paths[-1].write_text(json.dumps(tiny_record(python, runs)))
    page = tmp_path / "README.md"
    page.write_text(f"before\n{report.BEGIN}\nstale\n{report.END}\nafter\n")
    assert report.main([*map(str, paths), "--chart", str(tmp_path / "c.png"), "--markdown", str(page)]) == 0
    text = page.read_text()
    assert text.startswith("before\n") and text.endswith("after\n") and "stale" not in text
    assert text.index("CPython 3.10.13") < text.index("CPython 3.12.1")
    # ns medians; time ratios as medians of the runs' ratios, "~" where the runs spread by over 5 %
    assert "| a |  | 10.0 | 20.0 | 10.2 | 2.00 | 1.02 | 100 | 1.50 | 0.90 ⚠ |" in text
    assert "| b | x | 100 | 140 | 102 | ~1.40 | 1.02 | 200 | 1.50 | – |" in text
    assert "1 of 4 ratios by more than 5%" in text
    assert (tmp_path / "c.png").read_bytes().startswith(b"\x89PNG")
    with pytest.raises(SystemExit):  # no block to replace: the file stays as it was
        report.update(str(paths[0]), "x")
    assert json.loads(paths[0].read_text())["measured"] == "today"
