"""The demo's light and dark looks.

The dark switch sets the window's palette; the figures then take their
colours from ``zentrope.widgets.style.is_dark`` applied to the window, the
same decision a figure makes when it is built, so that a figure made later
agrees with the ones already shown.
"""
from PySide6 import QtGui

#: figure background and text colours of the light and the dark look
LOOKS = {False: ("white", "black"), True: ("#202326", "0.85")}
#: the plot-area tint of an accepted drag, as a figure built in that style has it
DRAG_TINT = {False: (0.7, 0.7, 0.7), True: (0.3, 0.3, 0.3)}

_LABEL = ("QLabel {{ background: {}; color: {}; border: 1px solid {};"
          " border-radius: 3px; padding: 4px 8px; }}")
#: style sheets of the library labels: (is a geometry, dark) -> sheet
LABEL_STYLES = {
    (True, False): _LABEL.format("#dce8f5", "black", "#7a9cc6"),
    (False, False): _LABEL.format("#f5ecd7", "black", "#c6a96a"),
    (True, True): _LABEL.format("#28405c", "#e8eef5", "#5d82b0"),
    (False, True): _LABEL.format("#4d4126", "#f5eedf", "#a88d52"),
}
#: colour of error messages in the light and the dark look
ERROR_COLOURS = {False: "#b00020", True: "#ff8a80"}

_DARK_ROLES = {
    "Window": "#2b2d30", "WindowText": "#dcdcdc", "Base": "#1e1f22",
    "AlternateBase": "#2b2d30", "ToolTipBase": "#3c3f41", "ToolTipText": "#dcdcdc",
    "PlaceholderText": "#8c8c8c", "Text": "#dcdcdc", "Button": "#3c3f41",
    "ButtonText": "#dcdcdc", "BrightText": "#ff6b6b", "Light": "#505357",
    "Midlight": "#45484b", "Mid": "#35373a", "Dark": "#1b1c1e", "Shadow": "#000000",
    "Highlight": "#3d6fa5", "HighlightedText": "#ffffff", "Link": "#78aee6",
}
_DISABLED = {"WindowText": "#7a7a7a", "Text": "#7a7a7a", "ButtonText": "#7a7a7a"}


def dark_palette():
    palette = QtGui.QPalette()
    role, group = QtGui.QPalette.ColorRole, QtGui.QPalette.ColorGroup
    for name, colour in _DARK_ROLES.items():
        palette.setColor(getattr(role, name), QtGui.QColor(colour))
    for name, colour in _DISABLED.items():
        palette.setColor(group.Disabled, getattr(role, name), QtGui.QColor(colour))
    return palette
