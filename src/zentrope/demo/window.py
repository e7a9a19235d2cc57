"""The demo window: label library, two geometry model figures, element list."""
import functools
import json
import math
import os
import urllib.parse

from matplotlib.colors import same_color
from matplotlib.layout_engine import TightLayoutEngine
from PySide6 import QtCore, QtGui, QtWidgets

from zentrope.widgets.library.labels import GeometryLabelDraggable
from zentrope.widgets.models.gmodel.mpl import GeometryModelFigure
from zentrope.widgets.style import is_dark

from . import theme
from .controls import MessageLabel, ScaleBox
from .elements import LIBRARY, display_name, make_library_element
from .filedrag import drag_file
from .loader import CsvLoader
from .model import DemoModel, FigureState

SAMPLE_DIR = os.path.join(os.path.dirname(os.path.abspath(__file__)), "data")

#: (key, caption, geom_only) of the two figures
FIGURES = (
    ("geometry", "Geometry: takes geometry labels and CSV files", True),
    ("workbench", "Workbench: takes any label and CSV files", False),
)
#: line styles of an element that is not selected and of the selected one (as the figure sets them)
RESTING_LINE = {"color": "0.7", "linewidth": 1, "zorder": 0}
SELECTED_LINE = {"color": "orange", "linewidth": 2, "zorder": 1}
#: the range of the scale box
SCALES = (0.1, 5.0)
#: the window's size when the screen has room for it
PREFERRED_SIZE = (1180, 720)

LEGEND = ("Blue labels are geometries,\nyellow ones other items.\n"
          "Drag a label, a sample file\nor a CSV file from elsewhere\n"
          "onto a figure. Pick an\nelement in the list to\n"
          "highlight, rescale or\ndelete it.")

Qt = QtCore.Qt


def local_path(url):
    """The local file a file URL names, spelt as the file system has it:
    bytes that are not UTF-8 are kept (as os.fsdecode keeps them)."""
    encoded = url.path(QtCore.QUrl.ComponentFormattingOption.FullyEncoded)
    return os.fsdecode(urllib.parse.unquote_to_bytes(encoded))


def problem(error):
    return f"{type(error).__name__}: {error}"


class TightWhenChanged(TightLayoutEngine):
    """The tight layout, worked out again only when what it depends on has
    changed: the figure's size and the axes' limits, which fix the tick
    labels.  Most redraws (a selection, the drag tint) change neither."""

    def __init__(self, **kwargs):
        super().__init__(**kwargs)
        self._done_for = None

    def execute(self, fig):
        state = (tuple(fig.bbox.size), fig.dpi,
                 [(tuple(ax.get_xlim()), tuple(ax.get_ylim())) for ax in fig.axes])
        if state != self._done_for:
            super().execute(fig)
            self._done_for = state


def sample_files():
    """Paths of the CSV files shipped with the demo, sorted by name."""
    return sorted(os.path.join(SAMPLE_DIR, name) for name in os.listdir(SAMPLE_DIR)
                  if name.lower().endswith(".csv"))


class SampleFileList(QtWidgets.QListWidget):
    """A list of files; dragging an entry carries its file URL, as a file
    manager's drag does."""

    def __init__(self, paths, parent=None):
        super().__init__(parent)
        for path in paths:
            item = QtWidgets.QListWidgetItem(os.path.basename(path))
            item.setData(Qt.ItemDataRole.UserRole, path)
            item.setToolTip(path)
            self.addItem(item)
        self.setDragEnabled(True)
        self.setDragDropMode(QtWidgets.QAbstractItemView.DragDropMode.DragOnly)

    def startDrag(self, actions):
        item = self.currentItem()
        if item is not None:
            drag_file(self, item.data(Qt.ItemDataRole.UserRole))


class DemoWindow(QtWidgets.QMainWindow):
    def __init__(self, state_file=None, parent=None):
        super().__init__(parent)
        self.setWindowTitle("zentrope widgets demo")
        self.state_file = os.fspath(state_file) if state_file else None
        self.model = DemoModel([FigureState(k, t, g) for k, t, g in FIGURES])
        self._syncing = False
        self._light_palette = QtGui.QPalette(self.palette())
        #: (figure key, path) of the file being dropped, as its URL spells it
        self._dropping = None

        self.loader = CsvLoader(self)
        self.loader.loaded.connect(self._on_csv_loaded)
        self.loader.failed.connect(self._on_csv_failed)
        self.loader.idle.connect(self.unsetCursor)

        central = QtWidgets.QWidget(self)
        row = QtWidgets.QHBoxLayout(central)
        # Narrow margins: at twice the scale the window still fits a screen
        # 1000 pixels high.
        row.setContentsMargins(6, 6, 6, 2)
        row.addLayout(self._build_library(central))
        row.addLayout(self._build_figures(central), 1)
        row.addWidget(self._build_element_panel(central))
        self.setCentralWidget(central)

        self.message_label = MessageLabel(self)
        self.message_label.setObjectName("message")
        self.statusBar().addWidget(self.message_label, 1)

        self._state_timer = QtCore.QTimer(self)
        self._state_timer.setSingleShot(True)
        self._state_timer.setInterval(0)
        self._state_timer.timeout.connect(self.write_state)
        self.model.subscribe(self._on_model_changed)
        self._apply_look(False)
        self._update_controls()
        self.model.notify("Drag a label or a CSV file onto a figure.")

    # -- layout -----------------------------------------------------------
    def _build_library(self, parent):
        column = QtWidgets.QVBoxLayout()
        column.setSpacing(4)
        box = QtWidgets.QGroupBox("Label library", parent)
        layout = QtWidgets.QVBoxLayout(box)
        self.labels = {}
        for name, (isgeom, _) in LIBRARY.items():
            label = GeometryLabelDraggable(name, isgeom, box)
            label.setObjectName(f"label:{name}")
            label.setToolTip("a geometry" if isgeom else "not a geometry: only the workbench takes it")
            layout.addWidget(label)
            self.labels[name] = label
        # Broken by hand rather than word-wrapped: the layout then knows the
        # legend's full height and never makes the window too small for it.
        self.legend = QtWidgets.QLabel(LEGEND, box)
        self.legend.setForegroundRole(QtGui.QPalette.ColorRole.PlaceholderText)
        layout.addWidget(self.legend)
        layout.addStretch(1)
        column.addWidget(box, 1)

        samples = QtWidgets.QGroupBox("Sample CSV files", parent)
        samples_layout = QtWidgets.QVBoxLayout(samples)
        self.sample_list = SampleFileList(sample_files(), samples)
        rows = self.sample_list.count()
        self.sample_list.setFixedHeight(rows * self.sample_list.sizeHintForRow(0)
                                        + 2 * self.sample_list.frameWidth() + 4)
        samples_layout.addWidget(self.sample_list)
        column.addWidget(samples)
        # As narrow as the labels, the legend and the file names allow.
        names = self.sample_list.sizeHintForColumn(0) + 2 * self.sample_list.frameWidth() + 8
        width = max(box.minimumSizeHint().width(), samples.minimumSizeHint().width(),
                    names + samples.minimumSizeHint().width() - self.sample_list.minimumSizeHint().width())
        for group in (box, samples):
            group.setFixedWidth(width)
        return column

    def _build_figures(self, parent):
        column = QtWidgets.QVBoxLayout()
        column.setSpacing(2)
        self.figures = {}
        for key, caption, geom_only in FIGURES:
            column.addWidget(QtWidgets.QLabel(caption, parent))
            fig = GeometryModelFigure(parent, None, geom_only=geom_only)
            fig.setObjectName(f"figure:{key}")
            # Margins fitted to the tick labels at every draw (the widget's
            # fixed ones cut off the "100" of a narrow figure): the axes is
            # placed in a one-cell grid, which the tight layout can adjust.
            fig.ax.set_subplotspec(fig.fig.add_gridspec(1, 1)[0])
            fig.fig.set_layout_engine(TightWhenChanged(pad=0.4))
            # The axes has no axis labels: placing them (beside the tick
            # labels, measured again at every redraw) is skipped.
            fig.ax.xaxis.set_label_coords(0.5, -0.1)
            fig.ax.yaxis.set_label_coords(-0.1, 0.5)
            fig.mpl_connect("resize_event", functools.partial(self._refit, key))
            fig.geom_dropped.connect(functools.partial(self._on_geom_dropped, key))
            fig.csv_dropped.connect(functools.partial(self._on_csv_dropped, key))
            fig.installEventFilter(self)
            column.addWidget(fig, 1)
            self.figures[key] = fig
        return column

    def _build_element_panel(self, parent):
        box = QtWidgets.QGroupBox("Elements", parent)
        box.setMinimumWidth(230)
        layout = QtWidgets.QVBoxLayout(box)
        self.element_list = QtWidgets.QListWidget(box)
        self.element_list.currentRowChanged.connect(self._on_row_changed)
        layout.addWidget(self.element_list, 1)

        buttons = QtWidgets.QHBoxLayout()
        self.delete_button = QtWidgets.QPushButton("Delete", box)
        self.delete_button.clicked.connect(self.delete_selected)
        self.clear_button = QtWidgets.QPushButton("Clear all", box)
        self.clear_button.clicked.connect(self.clear_all)
        buttons.addWidget(self.delete_button)
        buttons.addWidget(self.clear_button)
        layout.addLayout(buttons)
        delete_key = QtGui.QShortcut(QtGui.QKeySequence(QtGui.QKeySequence.StandardKey.Delete),
                                     self.element_list)
        delete_key.activated.connect(self.delete_selected)

        form = QtWidgets.QFormLayout()
        self.scale_spin = ScaleBox(*SCALES, box)
        self.scale_spin.setValue(1.0)
        self.scale_spin.valueChanged.connect(self.rescale_selected)
        self.scale_spin.refused.connect(self._on_scale_refused)
        form.addRow("Scale selected ({:g}–{:g})".format(*SCALES), self.scale_spin)
        layout.addLayout(form)

        self.dark_check = QtWidgets.QCheckBox("Dark style", box)
        self.dark_check.toggled.connect(self.set_dark)
        layout.addWidget(self.dark_check)
        return box

    # -- element operations -------------------------------------------------
    # The model is what the window shows.  A change goes to the model and
    # then to the figure through the widget; when the widget (or matplotlib
    # under it) fails, the figure is rebuilt from the model and the message
    # says what failed.  An element is added to the model only once its
    # figure could show it.

    def _call(self, key, method, *args):
        """Call figure ``key``'s ``method``; None, or what went wrong (the
        figure is then rebuilt from the model)."""
        try:
            method(*args)
        except Exception as e:  # noqa: BLE001 - any failure leaves the figure as the model says
            return self.rebuild(key, problem(e))
        return None

    def rebuild(self, key, why=None):
        """Make figure ``key`` show the model again without the widget's own
        calls: its lines remade from the elements, its selection and resting
        face colour, drawn; returns ``why``, with any failure of the redraw."""
        fig, state = self.figures[key], self.model.figures[key]
        try:
            for line in list(fig.ax.lines):
                line.remove()
            fig.artists = []
            for index, element in enumerate(state.elements):
                fig.artists.append(element.plot(fig.ax, color=RESTING_LINE["color"]))
                style = SELECTED_LINE if self.model.current == (key, index) else RESTING_LINE
                for line in fig.artists[-1]:
                    line.set(**style)
            fig.ax.set_facecolor(fig._axcolor0)
            fig.draw()
        except Exception as e:  # noqa: BLE001 - nothing more to try; the message says so
            return f"{why}; rebuilding the figure failed too ({problem(e)})"
        return why

    def figure_columns(self, key):
        """The pixel columns of figure ``key``'s plot area."""
        return max(1, math.ceil(self.figures[key].ax.bbox.width))

    def _refit(self, key, _event=None):
        """Draw the figure's elements from display copies of its new width
        (before the redraw that follows a resize)."""
        columns = self.figure_columns(key)
        for lines, element in zip(self.figures[key].artists, self.model.figures[key].elements):
            if element.fit(columns):
                for line, x, y in zip(lines, element.drawn[0], element.values_2d()):
                    line.set_data(x, y)

    def _failed(self, what, key, why, names=()):
        self.model.notify(f"{what}; the {key} figure failed ({why}) and was redrawn.",
                          error=True, names=names)

    def add_element(self, key, element):
        """Show ``element`` on figure ``key`` and add it to the model, named
        apart from the figure's other elements; returns None, or what went
        wrong (then nothing is added)."""
        element.name = self.model.unique_name(key, element.name)
        element.fit(self.figure_columns(key))
        why = self._call(key, self.figures[key].add_element, element)
        if why is None:
            self.model.add(key, element)
            self._show_selection_only_in(key)
        return why

    def _on_geom_dropped(self, key, name, isgeom):
        try:
            element = make_library_element(name)
        except KeyError:
            self.model.notify(f"'{name}' is not in the label library; nothing added.", error=True)
            return
        why = self.add_element(key, element)
        if why is None:
            self.model.notify(f"Added {element.name} to the {key} figure.", names=(element.name,))
        else:
            self.model.notify(f"{name} not added: the {key} figure could not show it ({why}).",
                              error=True, names=(name,))

    def _on_csv_dropped(self, key, path):
        """Queue the file for reading; the figure's drop handler then clears
        the drag tint at once, and the plot follows when the data is ready."""
        if self._dropping is not None and self._dropping[0] == key:
            path = self._dropping[1]  # what the widget made of the URL loses bytes that are not UTF-8
        ahead = self.loader.load(key, path)
        self.setCursor(Qt.CursorShape.BusyCursor)
        self._loading_changed()
        name, reading = display_name(path), self._reading()
        if ahead:
            self.model.notify(f"{name} waits until {reading} is read "
                              f"({ahead} {'file' if ahead == 1 else 'files'} ahead).", names=(name, reading))
        else:
            self.model.notify(f"Reading {name}…", names=(name,))

    def _reading(self):
        jobs = self.loader.jobs()
        return display_name(jobs[0][1]) if jobs else ""

    def _then_reading(self):
        return f" Reading {self._reading()}…" if self.loader.busy else ""

    def _on_csv_loaded(self, key, path, element):
        self._loading_changed()
        name = display_name(path)
        why = self.add_element(key, element)
        if why is not None:
            self._on_csv_failed(key, path, f"{name}: the {key} figure could not show it ({why})")
            return
        lines = "1 line" if element.nlines == 1 else f"{element.nlines} lines"
        note = f"; {element.x_note()}" if element.x_range else ""
        as_ = f" as {element.name}" if element.name != os.path.splitext(name)[0] else ""
        self.model.notify(f"Added {name}{as_} ({lines}) to the {key} figure{note}." + self._then_reading(),
                          names=(name, self._reading()))

    def _on_csv_failed(self, key, path, message):
        self._loading_changed()
        self.model.notify(f"CSV file not added: {message}" + self._then_reading(), error=True,
                          names=(display_name(path), self._reading()))

    def _loading_changed(self):
        self.model.set_loading([(key, display_name(path)) for key, path in self.loader.jobs()])

    def select(self, key, index):
        """Highlight element ``index`` of figure ``key`` (as the list does)."""
        self.model.select(key, index)
        why = self._call(key, self.figures[key].set_selection, index)
        self._show_selection_only_in(key)
        if why is not None:
            name = self.model.element(key, index).name
            self._failed(f"Selected {name}", key, why, names=(name,))

    def _show_selection_only_in(self, key):
        """One element is selected across both figures: the others show none."""
        for other, fig in self.figures.items():
            if other != key and self.highlighted(other):
                why = self._call(other, self._rest_lines, fig)
                if why is not None:
                    self._failed("Highlight moved", other, why)

    @staticmethod
    def _rest_lines(fig):
        for lines in fig.artists:
            for line in lines:
                line.set(**RESTING_LINE)
        fig.draw()

    def delete_selected(self):
        if self.model.current is None:
            self.model.notify("Select an element to delete.", error=True)
            return
        key, index = self.model.current
        name = self.model.element(key, index).name
        new = DemoModel.successor(len(self.model.figures[key].elements), index)
        self.model.remove(key, index)
        why = self._call(key, self.figures[key].remove_element, index, new)
        if why is None:
            self.model.notify(f"Removed {name} from the {key} figure.", names=(name,))
        else:
            self._failed(f"Removed {name}", key, why, names=(name,))

    def clear_all(self):
        reading, forgotten = self._reading(), self.loader.cancel()
        self._loading_changed()
        self.model.clear()
        failures = [(key, why) for key, fig in self.figures.items()
                    if (why := self._call(key, fig.clear)) is not None]
        if failures:
            self._failed("Removed all elements", *failures[0])
        elif forgotten:
            more = f" and {forgotten - 1} queued" if forgotten > 1 else ""
            self.model.notify(f"Removed all elements; {reading}{more} will not be added.", names=(reading,))
        else:
            self.model.notify("Removed all elements.")

    def rescale_selected(self, scale):
        if self._syncing or self.model.current is None:
            return
        key, index = self.model.current
        element = self.model.element(key, index)
        element.scale = float(scale)
        why = self._call(key, self.figures[key].set_artist_value, index, element.values())
        if why is None:
            self.model.notify(f"Scaled {element.name} by {element.scale:g}.", names=(element.name,))
        else:
            self._failed(f"Scaled {element.name} by {element.scale:g}", key, why, names=(element.name,))

    def _on_scale_refused(self, text):
        low, high = SCALES
        self.model.notify(f"Scale {text!r} refused: type a number from {low:g} to {high:g}.", error=True)

    def set_dark(self, dark):
        self._apply_look(dark)
        self.model.set_dark(dark)

    def _apply_look(self, dark):
        """Switch the window's palette, then colour everything by the style
        the widgets see in it."""
        self.setPalette(theme.dark_palette() if dark else self._light_palette)
        dark = bool(is_dark(self))
        self._dark_look = dark
        for name, label in self.labels.items():
            label.setStyleSheet(theme.LABEL_STYLES[LIBRARY[name][0], dark])
        background, text = theme.LOOKS[dark]
        for key, fig in self.figures.items():
            fig._axcolor1 = theme.DRAG_TINT[dark]
            why = self._call(key, self._paint_look, fig, background, text)
            if why is not None:
                self._failed(f"Dark style {'on' if dark else 'off'}", key, why)
        self._style_message()

    @staticmethod
    def _paint_look(fig, background, text):
        fig.set_bgcolor(background)
        fig.set_fontcolor(text)
        fig.draw()

    def _style_message(self):
        error = self.model.message_is_error
        colour = theme.ERROR_COLOURS[self._dark_look]
        self.message_label.setStyleSheet(f"color: {colour}; font-weight: bold;" if error else "")

    # -- keeping the widgets in step with the model --------------------------
    def _on_row_changed(self, row):
        if self._syncing or row < 0:
            return
        key, index, _ = self.model.entries()[row]
        self.select(key, index)

    def _on_model_changed(self):
        self._update_controls()
        if self.state_file:
            self._state_timer.start()

    @staticmethod
    def entry_text(title, element):
        note = element.x_note(short=True)
        # The note on a line of its own, so the entry fits a narrow list.
        return f"{title}: {element.name}" + (f"\n    {note}" if note else "")

    def _update_controls(self):
        self._syncing = True
        try:
            entries = self.model.entries()
            titles = {key: fig.title.split(":")[0] for key, fig in self.model.figures.items()}
            texts = [self.entry_text(titles[key], el) for key, _, el in entries]
            if texts != [self.element_list.item(i).text() for i in range(self.element_list.count())]:
                self.element_list.clear()
                self.element_list.addItems(texts)
                for i, (_, _, el) in enumerate(entries):
                    self.element_list.item(i).setToolTip(el.x_note())
            current = self.model.current
            row = next((r for r, (key, i, _) in enumerate(entries) if (key, i) == current), -1)
            self.element_list.setCurrentRow(row)
            self.delete_button.setEnabled(current is not None)
            self.scale_spin.setEnabled(current is not None)
            # Only a different value is written back: rewriting the box's
            # text would disturb a value being typed.
            if current is not None and self.scale_spin.value() != self.model.element(*current).scale:
                self.scale_spin.setValue(self.model.element(*current).scale)
            self.clear_button.setEnabled(bool(entries or self.model.loading))
            self.dark_check.setChecked(self.model.dark)
            self.message_label.set_message(self.model.message, self.model.message_names)
            self._style_message()
        finally:
            self._syncing = False

    _DRAG_EVENTS = {QtCore.QEvent.Type.DragEnter: "enter", QtCore.QEvent.Type.DragLeave: "leave",
                    QtCore.QEvent.Type.Drop: "drop"}

    def eventFilter(self, watched, event):
        """Drag events of the figures, handed to the figure's own handler here
        so that a refusal can be explained and a failure repaired."""
        kind = self._DRAG_EVENTS.get(event.type())
        key = next((k for k, fig in self.figures.items() if fig is watched), None)
        if kind is None or key is None:
            return super().eventFilter(watched, event)
        fig = self.figures[key]
        if kind != "leave":
            self.model.count_drag(key, kind)
        if kind == "drop":
            urls = event.mimeData().urls() if event.mimeData().hasUrls() else []
            self._dropping = (key, local_path(urls[0])) if urls and urls[0].isLocalFile() else None
        handler = {"enter": fig.dragEnterEvent, "leave": fig.dragLeaveEvent, "drop": fig.dropEvent}[kind]
        why = self._call(key, handler, event)
        self._dropping = None
        if why is not None:
            self._failed(f"Drag {kind}", key, why)
        elif kind == "enter" and not event.isAccepted():
            self.model.notify(self.refusal(key, event.mimeData()), error=True)
        return True

    def refusal(self, key, mime):
        """Why figure ``key`` refuses a drag of ``mime``."""
        source = mime.parent()
        if isinstance(source, GeometryLabelDraggable):
            return (f"The {key} figure takes geometry labels (blue) only; {source.name} is not "
                    "a geometry: drop it on the workbench.")
        if not mime.hasUrls():
            return "The figures take labels from the library and CSV files."
        urls = mime.urls()
        if len(urls) > 1:
            return f"One file at a time: {len(urls)} files were dragged."
        if not urls[0].isLocalFile():
            return f"Only files on this computer can be dropped, not {urls[0].toString()}."
        return f"Only .csv files can be dropped: {urls[0].fileName()} is not one."

    def fit_to_screen(self):
        """Take the preferred size, or as much of it as the screen leaves room for."""
        room = self.screen().availableGeometry()
        frame = self.frameGeometry().size() - self.geometry().size()
        self.resize(min(PREFERRED_SIZE[0], room.width() - frame.width()),
                    min(PREFERRED_SIZE[1], room.height() - frame.height()))

    def closeEvent(self, event):
        self.loader.shutdown()
        super().closeEvent(event)

    # -- state for tests and tools --------------------------------------------
    def highlighted(self, key):
        """Indices of the figure's elements whose lines are all orange."""
        return [i for i, lines in enumerate(self.figures[key].artists)
                if lines and all(same_color(line.get_color(), "orange") for line in lines)]

    @staticmethod
    def _shown_scale(lines, element):
        """The scale an element's lines show: the largest drawn value by the largest
        value of the display copy (None if all are 0)."""
        peak = float(abs(element.drawn[1]).max())
        return max(float(abs(line.get_ydata()).max()) for line in lines) / peak if peak else None

    def _rect(self, widget):
        top_left = widget.mapToGlobal(QtCore.QPoint(0, 0))
        return [top_left.x(), top_left.y(), widget.width(), widget.height()]

    def _item_rect(self, view, item):
        rect = view.visualItemRect(item)
        top_left = view.viewport().mapToGlobal(rect.topLeft())
        return [top_left.x(), top_left.y(), rect.width(), rect.height()]

    def state(self):
        data = self.model.snapshot()
        for key, fig in self.figures.items():
            data["figures"][key]["artists"] = len(fig.artists)
            data["figures"][key]["highlighted"] = self.highlighted(key)
            data["figures"][key]["shown_scales"] = [
                self._shown_scale(lines, element)
                for lines, element in zip(fig.artists, self.model.figures[key].elements)]
        data["scale_text"] = self.scale_spin.text()
        data["visible"] = self.isVisible()
        data["busy_cursor"] = self.cursor().shape() == Qt.CursorShape.BusyCursor
        frame = self.frameGeometry()
        data["widgets"] = {
            "window": [frame.x(), frame.y(), frame.width(), frame.height()],
            "labels": {name: self._rect(label) for name, label in self.labels.items()},
            "figures": {key: self._rect(fig) for key, fig in self.figures.items()},
            "samples": {item.text(): self._item_rect(self.sample_list, item)
                        for item in map(self.sample_list.item, range(self.sample_list.count()))},
            "entries": [self._item_rect(self.element_list, item)
                        for item in map(self.element_list.item, range(self.element_list.count()))],
            "controls": {name: self._rect(widget) for name, widget in (
                ("delete", self.delete_button), ("scale", self.scale_spin), ("dark", self.dark_check))},
        }
        return data

    def write_state(self):
        """Write ``state()`` as JSON to the state file, replacing it whole."""
        if not self.state_file:
            return
        tmp = f"{self.state_file}.{os.getpid()}.tmp"
        with open(tmp, "w", encoding="utf-8") as f:
            json.dump(self.state(), f, indent=1)
        os.replace(tmp, self.state_file)

    def showEvent(self, event):
        super().showEvent(event)
        if self.state_file:
            self._state_timer.start()

    def moveEvent(self, event):
        super().moveEvent(event)
        if self.state_file:
            self._state_timer.start()

    def resizeEvent(self, event):
        super().resizeEvent(event)
        if self.state_file:
            self._state_timer.start()
