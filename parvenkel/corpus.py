"""Corpora on one machine: word counts and batch calls on every core.

``WordCounter(stop_words=())``
    Counts of normalised words, exactly as ``extract_keywords`` counts them,
    kept across calls: ``update`` adds the words of a ``str``, of an
    iterable of ``str`` or the counts of another counter; ``most_common(n)``
    gives the pairs by count, highest first, equal counts in code point
    order of the word. It pickles as one compact blob.

``keywords_many(texts, stop_words, top_n, *, workers=1)``
    One ``extract_keywords`` list per text, with ties in code point order.

``score_many(articles, query, *, workers=1)`` and
``rank_articles(articles, query, top_n=None, *, workers=1, include_zero=False)``
    ``score_article`` of many articles, and the best of them.

Every call checks its arguments before any work starts, then works on
``workers`` threads (``-1``: one per core) with the interpreter released, so
other Python threads run meanwhile and a call on each of several threads
runs at once.
"""

from __future__ import annotations

from collections.abc import Iterable
from typing import NamedTuple, SupportsIndex

from parvenkel._corpus import WordCounter, keywords_many, rank_rows, score_many

__all__ = ["RankedArticle", "WordCounter", "keywords_many", "rank_articles", "score_many"]


class RankedArticle(NamedTuple):
    """One article of a ranking."""

    #: The article's score, as ``score_article`` gives it.
    score: float
    #: Its position in the input, from 0.
    position: int
    #: The article itself, as it was in the input.
    article: object


def rank_articles(
    articles: Iterable[object],
    query: str,
    top_n: SupportsIndex | None = None,
    *,
    workers: SupportsIndex = 1,
    include_zero: bool = False,
) -> list[RankedArticle]:
    """The ``top_n`` (all when ``None``) articles that score highest for
    ``query``: highest score first, equal scores in input order. An article
    is a ``(title, content)`` pair of ``str`` or a mapping with ``"title"``
    and ``"content"``. Articles scoring 0 are left out unless
    ``include_zero`` is true."""
    return rank_rows(
        articles, query, top_n, workers=workers, include_zero=include_zero, row_type=RankedArticle
    )
