"""The developer-block launcher's choice of display (its run: see test_module.py)."""
from zentrope._dev import has_display


def test_has_display_follows_the_platform_before_the_display_variables():
    assert has_display({"WAYLAND_DISPLAY": "wayland-0"}) and has_display({"QT_QPA_PLATFORM": "xcb"})
    assert not has_display({"DISPLAY": ":0", "QT_QPA_PLATFORM": "offscreen"})
