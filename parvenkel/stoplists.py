"""Small built-in stop-word lists, and the stop-word file format.

A stop-word file is UTF-8 text with one entry per line. Lines are cut at line
feeds only, and a carriage return at the end of a line is dropped; nothing
else is trimmed, since `extract_keywords` uses stop words exactly as given.
Empty lines and lines starting with "#" are skipped (a "#" is not a letter, so
such an entry could never match a word anyway).

The built-in lists hold common function words of a few languages, already in
the form `extract_keywords` compares against: letters only, lower case, at
least 3 bytes of UTF-8 (shorter words are never counted, so they need no stop
word).
"""

from __future__ import annotations

from importlib import resources
from importlib.resources.abc import Traversable

from parvenkel._sources import lines

__all__ = ["load", "names", "parse"]


def _folder() -> Traversable:
    return resources.files("parvenkel").joinpath("stopwords")


def names() -> list[str]:
    """The names of the built-in lists, sorted ("english", "german", ...)."""
    return sorted(
        entry.name.removesuffix(".txt")
        for entry in _folder().iterdir()
        if entry.name.endswith(".txt")
    )


def parse(text: str) -> list[tuple[int, str]]:
    """The entries of a stop-word file's text, each with its line number (from 1)."""
    return [(n, line) for n, line in lines(iter([text])) if line and not line.startswith("#")]


def load(name: str) -> list[str]:
    """The entries of a built-in list, in file order."""
    if name not in names():
        raise ValueError(f"no built-in stop-word list {name!r}; there are: {', '.join(names())}")
    text = _folder().joinpath(f"{name}.txt").read_text(encoding="utf-8")
    return [entry for _, entry in parse(text)]
