"""Two controls of the demo window: the scale box and the status message."""
from PySide6 import QtCore, QtGui, QtWidgets

Qt = QtCore.Qt
State = QtGui.QValidator.State


class ScaleBox(QtWidgets.QDoubleSpinBox):
    """A spin box that ends every edit showing the value it holds.

    The arrows apply at once.  Typed text is taken on Enter, when the box
    loses focus, or at a mouse press anywhere else in the application (the
    box watches for one while it holds typed text).  Text that is not a
    number within the range is refused: ``refused`` is emitted with it, and
    the box shows its value again.
    """

    refused = QtCore.Signal(str)

    def __init__(self, minimum, maximum, parent=None):
        super().__init__(parent)
        self.setRange(minimum, maximum)
        self.setSingleStep(0.1)
        self.setKeyboardTracking(False)
        self.setToolTip(f"from {minimum:g} to {maximum:g}: the arrows apply at once, "
                        "a typed value on Enter or a click elsewhere")
        self._watching = False
        self.lineEdit().textEdited.connect(self._watch)

    def validate(self, text, pos):
        state, text, pos = super().validate(text, pos)
        if state == State.Invalid and self.locale().toDouble(text.strip())[1]:
            state = State.Intermediate  # a number out of range: shown, refused when taken
        return state, text, pos

    def commit(self):
        """Take the typed text, or refuse it; either way the box then shows its value."""
        self._unwatch()
        text = self.lineEdit().text()
        if text != self.textFromValue(self.value()):
            if QtWidgets.QDoubleSpinBox.validate(self, text, 0)[0] == State.Acceptable:
                self.interpretText()
            else:
                self.refused.emit(text.strip())
            self.lineEdit().setText(self.textFromValue(self.value()))

    def keyPressEvent(self, event):
        if event.key() in (Qt.Key.Key_Return, Qt.Key.Key_Enter):
            self.commit()
        super().keyPressEvent(event)

    def focusOutEvent(self, event):
        self.commit()
        super().focusOutEvent(event)

    def _watch(self):
        if not self._watching:
            self._watching = True
            QtWidgets.QApplication.instance().installEventFilter(self)

    def _unwatch(self):
        if self._watching:
            self._watching = False
            QtWidgets.QApplication.instance().removeEventFilter(self)

    def eventFilter(self, watched, event):
        if (event.type() == QtCore.QEvent.Type.MouseButtonPress and isinstance(watched, QtWidgets.QWidget)
                and watched is not self and not self.isAncestorOf(watched)):
            self.commit()
        return False


class MessageLabel(QtWidgets.QLabel):
    """A status message, whole, in two lines.

    Names given with the message (file and element names) are shortened in
    the middle until the message fits; a message that still does not fit
    loses its end.  The tooltip then holds the full text.
    """

    LINES = 2

    def __init__(self, parent=None):
        super().__init__(parent)
        self.setWordWrap(True)
        # A fixed height: a status bar that grew and shrank with its message
        # would resize (and so redraw) both figures each time.
        self.setFixedHeight(self.LINES * self.fontMetrics().lineSpacing() + 4)
        self.setMinimumWidth(1)  # the message is fitted to any width, not the other way round
        self._message, self._names = "", ()

    def set_message(self, text, names=()):
        self._message, self._names = text, tuple(n for n in names if n)
        self._fit()

    def message(self):
        return self._message

    def resizeEvent(self, event):
        super().resizeEvent(event)
        self._fit()

    def _fits(self, text):
        area = self.contentsRect()
        bound = self.fontMetrics().boundingRect(QtCore.QRect(0, 0, area.width(), 1 << 20),
                                                Qt.TextFlag.TextWordWrap, text)
        return bound.width() <= area.width() and bound.height() <= area.height()

    def _fit(self):
        text, metrics = self._message, self.fontMetrics()
        budget = max(self.contentsRect().width(), 1)
        while not self._fits(text) and budget >= 4 * metrics.averageCharWidth():
            text = self._message
            for name in self._names:
                text = text.replace(name, metrics.elidedText(name, Qt.TextElideMode.ElideMiddle, budget))
            budget = budget * 3 // 4
        if not self._fits(text):  # too long even so: keep what fits of its start
            keep = len(text)
            while keep > 1 and not self._fits(text[:keep] + "…"):
                keep = keep * 9 // 10
            text = text[:keep] + "…"
        self.setText(text)
        self.setToolTip(self._message if text != self._message else "")
