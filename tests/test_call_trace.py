"""The native methods make exactly the attribute reads and calls, in the same order, of
the plain-Python twin the benchmark times them against (bench/reference.py), case by
case and branch by branch; the tests elsewhere check outcomes."""
import os
import sys

import pytest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "bench"))

import cases  # noqa: E402
import harness  # noqa: E402
import impls  # noqa: E402


@pytest.fixture(scope="module")
def native_and_twin(qapp):
    return impls.load(("native", "python"))


@pytest.mark.parametrize("case", cases.CASES, ids=lambda c: c.key)
def test_native_methods_make_the_twins_reads_and_calls(case, native_and_twin):
    assert harness.check([case], native_and_twin) == []
