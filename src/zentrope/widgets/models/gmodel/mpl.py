"""Stand-in for the native module when it is not built here.

The import system prefers an extension module to a source file of the same
name in the same directory, so this file runs only when no build of ``mpl``
for the running interpreter sits beside it: in the source tree, which holds
no build, or in an installation built for another CPython.  It turns the bare
``ModuleNotFoundError`` of those cases into one line that says what to do.
"""
import glob
import os
import sys


def _message() -> str:
    here = os.path.dirname(os.path.abspath(__file__))
    package = os.path.dirname(os.path.dirname(os.path.dirname(here)))
    version = "%d.%d" % sys.version_info[:2]
    builds = sorted(os.path.basename(p) for p in glob.glob(os.path.join(here, "mpl.*.so")))
    if builds:
        return (f"{__name__} is built here only for another Python ({', '.join(builds)}), "
                f"not for this CPython {version}; install zentrope with this interpreter "
                f"(python{version} -m pip install ., or bash scripts/setup.sh {version})")
    return (f"{__name__} is not built: the zentrope package at {package} has no native "
            f"module (a source tree?); install the package (pip install ., or bash "
            f"scripts/setup.sh) and import that")


raise ModuleNotFoundError(_message(), name=__name__, path=__file__)
