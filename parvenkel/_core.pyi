"""Types of the compiled module parvenkel._core."""

from collections.abc import Sequence
from typing import SupportsIndex

__all__ = ["extract_keywords", "score_article"]

def score_article(title: str, content: str, query: str) -> float:
    """Score an article title + content against a query.

    One of 0.0, 100.0, 500.0, 600.0, 1000.0 and 1100.0.
    """

def extract_keywords(
    text: str, stop_words: Sequence[str], top_n: SupportsIndex
) -> list[tuple[str, int]]:
    """Extract top-N keywords from text, excluding stop words.

    Returns list of (word, count) sorted by frequency descending. A ``str``
    passes for ``Sequence[str]`` here but is refused with ``TypeError`` at run
    time; ``top_n`` must lie in 0 to 2**64 - 1 (``OverflowError`` otherwise).
    """
