"""zentrope: desktop application package (plotting widgets and their helpers)."""
import os

__version__ = "0.1.0"

# matplotlib picks its Qt binding from QT_API when no binding has been
# imported yet; the application is built on PySide6.
os.environ.setdefault("QT_API", "pyside6")
