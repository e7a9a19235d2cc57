"""Plain-Python twin of zentrope.widgets.models.gmodel.mpl, for benchmarking.

The two classes below do, statement by statement, what the native module's
methods do: the same attribute look-ups, calls and branches in the same
order, module globals looked up at each use, ``super()`` where the native
method uses it. The one deliberate difference is the canvas base: the native
classes derive from matplotlib's FigureCanvasQTAgg, these from a stand-in
whose methods do nothing, so that timing a method measures the method's own
steps. The same file, compiled by Cython, is the Cython twin (see impls.py),
and the differential fuzzer (tests/fuzz/worker.py) executes it with the real
FigureCanvasQTAgg in place of the stand-in by rewriting the one import line
below that names the canvas base: keep that line as it is.
"""
from zentrope.widgets.style import is_dark
from zentrope.widgets._basic.mpl import _SavableFigure
from zentrope.widgets.library.labels import GeometryLabelDraggable
import matplotlib.pyplot as plt
from standins import StandInCanvas as FigureCanvas
from PySide6 import QtWidgets, QtCore, QtGui
import matplotlib as mpl


class _MPLDragWidget(FigureCanvas):
    def __init__(self, parent=None, geom_only=False):
        from matplotlib.figure import Figure
        self.fig = Figure(dpi=100)
        self.geom_only = geom_only
        self.ax = self.fig.add_axes([0.1, 0.1, 0.88, 0.88])
        self.ax.set_xmargin(0)
        dark = is_dark(parent)
        self._axcolor0 = (0.9, 0.9, 0.9)
        self._axcolor1 = (0.3, 0.3, 0.3) if dark else (0.7, 0.7, 0.7)
        self.ax.set_xlim(0, 100)
        self.ax.set_facecolor(self._axcolor0)
        plt.setp(self.ax.get_xticklabels() + self.ax.get_yticklabels(), size=6)
        super().__init__(self.fig)
        self.setParent(parent)
        super().setSizePolicy(QtWidgets.QSizePolicy.Policy.Expanding,
                              QtWidgets.QSizePolicy.Policy.Expanding)
        super().updateGeometry()
        self.setAcceptDrops(True)
        self.draw()

    def dragEnterEvent(self, e):
        accept = False
        parent = e.mimeData().parent()
        if isinstance(parent, GeometryLabelDraggable):
            if not self.geom_only:
                accept = True
            elif parent.isgeom:
                accept = True
        elif e.mimeData().hasUrls():
            urls = e.mimeData().urls()
            if len(urls) == 1:
                fpath = urls[0].toLocalFile()
                if fpath.lower().endswith(".csv"):
                    accept = True
        if not accept:
            return
        e.accept()
        self.ax.set_facecolor(self._axcolor1)
        self.draw()

    def dragLeaveEvent(self, e):
        self.ax.set_facecolor(self._axcolor0)
        self.draw()

    def draw(self):
        self.ax.relim()
        self.ax.autoscale_view()
        super().draw()

    def set_bgcolor(self, c):
        self.fig.patch.set_facecolor(c)
        self.fig.set_edgecolor(c)

    def set_fontcolor(self, c):
        self.ax.tick_params(colors=c)
        self.ax.xaxis.label.set_color(c)


class GeometryModelFigure(_MPLDragWidget, _SavableFigure):
    geom_dropped = QtCore.Signal(str, bool)
    csv_dropped = QtCore.Signal(str)

    def __init__(self, parent, gcontrols, geom_only=False):
        super().__init__(parent, geom_only=geom_only)
        self.artists = []
        self.setMinimumSize(300, 200)

    def add_element(self, g):
        h = g.plot(self.ax, color="0.7")
        self.artists.append(h)
        self.set_selection(-1)

    def clear(self):
        for h in self.artists:
            for a in h:
                a.remove()
        self.artists = []
        self.draw()

    def dropEvent(self, e):
        if isinstance(e.mimeData().parent(), GeometryLabelDraggable):
            name = e.mimeData().parent().name
            isgeom = e.mimeData().parent().isgeom
            self.geom_dropped.emit(name, isgeom)
        elif e.mimeData().hasUrls():
            fpath = e.mimeData().urls()[0].toLocalFile()
            self.csv_dropped.emit(fpath)
        self.ax.set_facecolor(self._axcolor0)
        self.draw()

    def remove_element(self, ind, ind_new):
        if ind >= 0:
            for a in self.artists[ind]:
                a.remove()
            self.artists.pop(ind)
            if ind_new >= 0:
                self.set_selection(ind_new)
            else:
                self.draw()

    def set_artist_value(self, ind, y):
        if y.ndim == 1:
            self.artists[ind][0].set_ydata(y)
        else:
            for aa, yy in zip(self.artists[ind], y):
                aa.set_ydata(yy)
        self.draw()

    def set_selection(self, i):
        for a in self.artists:
            plt.setp(a, color="0.7", lw=1, zorder=0)
        plt.setp(self.artists[i], color="orange", lw=2, zorder=1)
        self.draw()
