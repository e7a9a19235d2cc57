"""Argument binding of the native methods against Python's own, over random call shapes."""
from hypothesis import given, settings, strategies as st

from conftest import python_twin

NAMES = ["self", "parent", "gcontrols", "geom_only", "e", "c", "i", "ind", "other"]


def outcome(fn, args, kwargs):
    """The binding error's message, or "ran" once the arguments were bound."""
    try:
        fn(*args, **kwargs)
    except Exception as exc:  # the body fails on the foreign self once it runs
        if isinstance(exc, TypeError) and str(exc).startswith(fn.__qualname__ + "()"):
            return str(exc)
    return "ran"


@settings(max_examples=300, deadline=None)
@given(which=st.sampled_from([("_MPLDragWidget", "__init__"), ("GeometryModelFigure", "__init__"),
                              ("GeometryModelFigure", "remove_element"), ("_MPLDragWidget", "draw"),
                              ("_MPLDragWidget", "set_bgcolor")]),
       npos=st.integers(0, 5), kwnames=st.lists(st.sampled_from(NAMES), unique=True, max_size=3))
def test_call_shapes_bind_or_fail_as_python_functions_do(mod, which, npos, kwnames):
    cls, name = which
    native = getattr(mod, cls).__dict__[name]
    python = python_twin(native)
    args = [object()] * npos  # a self that is no canvas: binding decides, the body then fails
    kwargs = {k: None for k in kwnames}
    assert outcome(native, args, kwargs) == outcome(python, args, kwargs)
