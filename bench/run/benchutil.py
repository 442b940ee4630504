"""What every part of the whole-run benchmark shares."""
import os
import shutil

from pytools.common import ToolError

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), '..', '..'))


class BenchError(ToolError):
    pass


def remove(path):
    if os.path.isdir(path) and not os.path.islink(path):
        shutil.rmtree(path)
    elif os.path.lexists(path):
        os.remove(path)
