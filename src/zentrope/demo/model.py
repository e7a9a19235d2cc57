"""The demo's application state, kept apart from the widgets.

The window changes a figure and this model together, so the model always
says what each figure shows; ``snapshot`` turns it into plain data (for the
state file and for tests).
"""


class FigureState:
    def __init__(self, key, title, geom_only):
        self.key = key
        self.title = title
        self.geom_only = bool(geom_only)
        self.elements = []
        #: index of the highlighted element, or None
        self.selected = None
        #: drag events that reached the figure: "enter" and "drop" counts
        self.drags = {"enter": 0, "drop": 0}


class DemoModel:
    def __init__(self, figures):
        self.figures = {f.key: f for f in figures}
        #: (figure key, index) of the element chosen in the element list
        self.current = None
        self.dark = False
        self.message = ""
        self.message_is_error = False
        #: names (of files, elements) within the message that may be shortened to show it
        self.message_names = ()
        #: (figure key, file name) of the CSV file being read, then of the queued ones
        self.loading = []
        #: bumped at every change, so that readers can tell states apart
        self.revision = 0
        self._listeners = []

    # -- observers --------------------------------------------------------
    def subscribe(self, callback):
        self._listeners.append(callback)

    def changed(self):
        self.revision += 1
        for callback in list(self._listeners):
            callback()

    # -- element list -----------------------------------------------------
    def add(self, key, element):
        """Append ``element`` to figure ``key``; it becomes the selected one."""
        fig = self.figures[key]
        fig.elements.append(element)
        fig.selected = len(fig.elements) - 1
        self.current = (key, fig.selected)
        self.changed()
        return fig.selected

    @staticmethod
    def successor(count, index):
        """The index to select after removing ``index`` from ``count`` elements.

        The element that moves into the freed place, or the new last one when
        the last was removed; -1 when no element is left.
        """
        return min(index, count - 2)

    def remove(self, key, index):
        """Remove element ``index`` of figure ``key``; returns the new selection."""
        fig = self.figures[key]
        new = self.successor(len(fig.elements), index)
        del fig.elements[index]
        if new >= 0:
            fig.selected = new
            self.current = (key, new)
        else:
            fig.selected = None
            self.current = None
        self.changed()
        return new

    def clear(self):
        for fig in self.figures.values():
            fig.elements.clear()
            fig.selected = None
        self.current = None
        self.changed()

    def select(self, key, index):
        self.figures[key].selected = index
        self.current = (key, index)
        self.changed()

    def unique_name(self, key, name):
        """``name``, or "name (2)", "name (3)"... if figure ``key`` already has it."""
        taken = {el.name for el in self.figures[key].elements}
        candidate, number = name, 1
        while candidate in taken:
            number += 1
            candidate = f"{name} ({number})"
        return candidate

    def element(self, key, index):
        return self.figures[key].elements[index]

    def entries(self):
        """(figure key, index, element) for every element, in list order."""
        return [(fig.key, i, el) for fig in self.figures.values()
                for i, el in enumerate(fig.elements)]

    # -- messages, style, drags -----------------------------------------------
    def notify(self, text, error=False, names=()):
        self.message = text
        self.message_is_error = bool(error)
        self.message_names = tuple(names)
        self.changed()

    def set_dark(self, dark):
        self.dark = bool(dark)
        self.changed()

    def set_loading(self, jobs):
        self.loading = list(jobs)
        self.changed()

    def count_drag(self, key, kind):
        self.figures[key].drags[kind] += 1
        self.changed()

    def snapshot(self):
        return {
            "revision": self.revision,
            "figures": {
                key: {"title": fig.title, "geom_only": fig.geom_only,
                      "elements": [el.describe() for el in fig.elements],
                      "selected": fig.selected, "drags": dict(fig.drags)}
                for key, fig in self.figures.items()},
            "current": list(self.current) if self.current else None,
            "dark": self.dark,
            "message": self.message,
            "message_is_error": self.message_is_error,
            "loading": [list(job) for job in self.loading],
        }
