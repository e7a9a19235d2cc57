"""Reading CSV files off the GUI thread.

``CsvLoader.load`` queues a file and returns at once.  One worker thread
reads the files in the order they were queued; each result comes back to the
GUI thread through a queued signal, so that the window only ever touches its
widgets from the GUI thread and stays responsive while a large file is read.
"""
import collections
import os
from concurrent.futures import ThreadPoolExecutor

from PySide6 import QtCore

from .elements import CsvError, display_name, read_csv


class CsvLoader(QtCore.QObject):
    # The path goes as a Python object: a QString would lose the bytes of a
    # file name that are not UTF-8.
    #: (key, path, Element) of a file that was read
    loaded = QtCore.Signal(str, object, object)
    #: (key, path, message) of a file that could not be read
    failed = QtCore.Signal(str, object, str)
    #: the queue has run empty
    idle = QtCore.Signal()
    # emitted on the worker thread, received on the loader's (GUI) thread
    _done = QtCore.Signal(object)
    # a job to start once the GUI thread is back in its event loop
    _start = QtCore.Signal(object)

    def __init__(self, parent=None, read=read_csv):
        super().__init__(parent)
        self._read = read
        self._queue = collections.deque()
        self._current = None
        self._executor = ThreadPoolExecutor(max_workers=1, thread_name_prefix="csv-reader")
        self._done.connect(self._on_done, QtCore.Qt.ConnectionType.QueuedConnection)
        self._start.connect(self._submit, QtCore.Qt.ConnectionType.QueuedConnection)

    @property
    def busy(self):
        return self._current is not None

    def jobs(self):
        """(key, path) of the file being read, then of the queued ones."""
        return ([self._current] if self._current else []) + list(self._queue)

    def load(self, key, path):
        """Queue ``path`` for figure ``key``; returns how many files are ahead of it."""
        ahead = len(self.jobs())
        self._queue.append((key, os.fspath(path)))
        if self._current is None:
            self._start_next()
        return ahead

    def cancel(self):
        """Forget the queued files and the one being read (its result is
        discarded when it comes); returns how many files were forgotten."""
        forgotten = len(self.jobs())
        self._queue.clear()
        self._current = None
        if forgotten:
            self.idle.emit()
        return forgotten

    def shutdown(self):
        """Drop the queued files, and wait for the one being read (its result
        is discarded): the loader must not be deleted while the worker may
        still signal it."""
        self._queue.clear()
        self._current = None
        self._executor.shutdown(wait=True, cancel_futures=True)

    def _start_next(self):
        job = self._current = self._queue.popleft()
        # The read starts when the GUI thread is back in its event loop: the
        # parser competes with it for the interpreter lock, and the event that
        # queued the file (a drop and its redraw, or the previous file's plot)
        # would otherwise take twice as long to show.
        self._start.emit(job)

    def _submit(self, job):
        if job is not self._current:  # cancelled or shut down meanwhile
            return
        future = self._executor.submit(self._read, job[1])
        future.job = job
        future.add_done_callback(self._deliver)

    def _deliver(self, future):  # on the worker thread
        self._done.emit(future)

    def _on_done(self, future):
        if future.job is not self._current:  # cancelled or shut down meanwhile
            return
        key, path = self._current
        self._current = None
        if self._queue:  # the next file is read while this one is shown
            self._start_next()
        try:
            try:
                element = future.result()
            except CsvError as e:
                self.failed.emit(key, path, str(e))
            except Exception as e:  # noqa: BLE001 - shown to the user, never dropped
                self.failed.emit(key, path, f"{display_name(path)}: {type(e).__name__}: {e}")
            else:
                self.loaded.emit(key, path, element)
        finally:
            if self._current is None:
                self.idle.emit()
