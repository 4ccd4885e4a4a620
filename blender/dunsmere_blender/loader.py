"""Finds the compiled module: the copy shipped inside the add-on, else one on
sys.path (a build tree's, for development). When neither imports, the panel
shows one line naming both Pythons instead of a traceback."""

import importlib
import os
import re
import sys

module = None
problem = ""


def _built_for():
    """The Python the shipped module was built for, from its ABI tag
    (_dunsmere.cpython-311-x86_64-linux-gnu.so is 3.11)."""
    folder = os.path.join(os.path.dirname(__file__), "dunsmere")
    for name in sorted(os.listdir(folder)) if os.path.isdir(folder) else []:
        found = re.match(r"_dunsmere\.cpython-(\d)(\d+)", name)
        if found:
            return "%s.%s" % found.groups()
    return None


def load():
    global module, problem
    if module is not None:
        return module
    running = "%d.%d" % sys.version_info[:2]
    errors = []
    for name in (__package__ + ".dunsmere", "dunsmere"):
        try:
            module = importlib.import_module(name)
            problem = ""
            return module
        except Exception as e:  # any failure ends in the one line below
            errors.append(str(e).splitlines()[0] if str(e) else type(e).__name__)
    built = _built_for()
    if built is None:
        problem = "Dunsmere's module is missing from the add-on (Blender's Python is %s)" % running
    elif built != running:
        problem = "Dunsmere's module is built for Python %s; Blender's Python is %s" % (built, running)
    else:
        problem = "Dunsmere's module (Python %s) does not load: %s" % (built, errors[0])
    print("Dunsmere:", problem, file=sys.stderr)
    return None
