"""Shared test configuration: import path for the test helpers and Hypothesis profiles."""

import os
import sys
from pathlib import Path

import pytest
from hypothesis import settings

# Test helpers (ucd_model, reference) are plain modules next to the tests.
_TESTS_DIR = Path(__file__).resolve().parent
if str(_TESTS_DIR) not in sys.path:
    sys.path.insert(0, str(_TESTS_DIR))

# `python -m pytest` run from the repository root puts the root first on
# sys.path, where the source directory parvenkel/ (without the compiled
# module) would shadow the installed package. Search the root last.
_ROOT = _TESTS_DIR.parent
for _entry in [e for e in sys.path if Path(e or ".").resolve() == _ROOT]:
    sys.path.remove(_entry)
    sys.path.append(_entry)

# The allocation-failure tests (test_extremes.py) make the Nth allocation of
# the whole process fail, whichever thread asks for it: a thread of another
# library that wakes meanwhile can take the failure and die of it. Two such
# threads outlive the tests that start them, and neither is started here:
# tqdm's monitor (it wakes every 10 s, left running after the command
# line's progress bars) and distributed's profiler of a test cluster's loop
# (every few milliseconds, as long as the loop object lives).
os.environ.setdefault("DASK_DISTRIBUTED__WORKER__PROFILE__ENABLED", "False")
try:
    import tqdm
except ImportError:
    pass
else:
    tqdm.tqdm.monitor_interval = 0

# "ci" keeps the whole suite quick; "long" is for soak runs:
#   HYPOTHESIS_PROFILE=long python -m pytest tests
settings.register_profile("ci", max_examples=100, deadline=None)
settings.register_profile("long", max_examples=5000, deadline=None)
settings.load_profile(os.environ.get("HYPOTHESIS_PROFILE", "ci"))


@pytest.fixture
def quiet_unraisable():
    """Swallows the reports of the unraisable hook: some error texts cannot
    be printed, and the module reports that for every call."""
    previous = sys.unraisablehook
    sys.unraisablehook = lambda report: None
    try:
        yield
    finally:
        sys.unraisablehook = previous
