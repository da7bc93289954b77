"""benchmarks/run.py fails when the pure-Python baseline disagrees with parvenkel."""

import runpy
import sys
from pathlib import Path
from types import SimpleNamespace

import pytest

import parvenkel

RUN = Path(__file__).resolve().parent.parent / "benchmarks" / "run.py"
pytestmark = pytest.mark.skipif(not RUN.exists(), reason="no benchmarks folder here")

TEXTS = [SimpleNamespace(name="en", text="The cat sat on the cat's hat, the CAT!"),
         SimpleNamespace(name="el", text="Ο ΟΔΥΣΣΕΥΣ έφυγε. Καλημέρα κόσμε, κόσμε")]
ARTICLES = [SimpleNamespace(title=t, content="a hat", query=q)
            for t, q in [("Cat news", "cat"), ("The CAT", "cat"), ("Dogs", "hat"), ("Dogs", "x")]]


@pytest.fixture(scope="module")
def run():
    path = list(sys.path)  # run.py puts benchmarks/ first on the path
    names = runpy.run_path(str(RUN), run_name="benchmarks_run")
    sys.path[:] = path
    return SimpleNamespace(**names)


def check(run):
    run.exit_on_disagreement(run.agreement(parvenkel, TEXTS, [], [SimpleNamespace(articles=ARTICLES)]))


def test_same_results_pass(run):
    check(run)


@pytest.mark.parametrize("name", ["extract_keywords", "score_article"])
def test_a_difference_exits(run, monkeypatch, name):
    real = getattr(run.pure_python, name)
    wrong = {"extract_keywords": lambda *a: real(*a)[1:], "score_article": lambda *a: real(*a) + 100}
    monkeypatch.setattr(run.pure_python, name, wrong[name])
    with pytest.raises(SystemExit, match=f"disagree:\n  {name}"):
        check(run)
