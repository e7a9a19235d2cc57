"""A small application that uses the plotting widgets the way the desktop
application does: a label library, two geometry model figures and an element
list.

    python -m zentrope.demo [--screenshot PATH] [--state-file PATH]

See ``zentrope.demo.app`` for what runs with and without a display.
"""
