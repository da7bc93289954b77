"""An exact index of articles, for many queries against one corpus.

``ArticleIndex(articles=(), *, ids=None, workers=1)`` lowercases each title
and body once, as ``score_article`` does, and keeps the trigrams of
characters of the lowercased text (and each CJK character). A query is
answered from the articles that have all of its trigrams, each scored
exactly, so ``rank`` and ``scores`` give what
``rank_articles`` and ``score_many`` give over the same articles, article
for article. ``rank_many`` answers many queries in one call, on several
threads.

An article may have an id (a ``str``): from ``ids``, one per article (or
None), from an ``"id"`` in a mapping, or as the third item of a
``(title, content, id)`` tuple. The index keeps it, saves it, and gives the
article back as ``(title, content, id)`` (from ``article`` and in the rows of
``rank``) where an article without one is ``(title, content)``.

``save(path)`` writes the index to a file (through a temporary file that is
put in place only once complete); ``ArticleIndex.load(path)`` reads one
into memory, after which the file may be replaced or removed.
"""

from __future__ import annotations

import os
from collections.abc import Iterable
from typing import SupportsIndex

from parvenkel import _index
from parvenkel.corpus import RankedArticle

__all__ = ["ArticleIndex"]


class ArticleIndex:
    """An index of ``(title, content)`` articles that ranks them for a query
    exactly as ``rank_articles`` does, without reading every article."""

    __slots__ = ("_native",)

    def __init__(
        self,
        articles: Iterable[object] = (),
        *,
        ids: Iterable[str | None] | None = None,
        workers: SupportsIndex = 1,
    ) -> None:
        self._native = _index.Index()
        self.add(articles, ids=ids, workers=workers)

    def add(
        self, articles: Iterable[object], *, ids: Iterable[str | None] | None = None, workers: SupportsIndex = 1
    ) -> None:
        """Adds articles after those already held; their positions go on
        from ``len(self)``. An article is what ``rank_articles`` takes (a
        ``(title, content)`` pair of ``str``, a named tuple too, or a mapping
        with ``"title"`` and ``"content"``), or a ``(title, content, id)``
        triple, or a mapping with an ``"id"`` as well. ``ids``, if given,
        has one id (``str`` or None) for each article, in place of any the
        articles carry."""
        self._native.add(articles, ids=ids, workers=workers)

    def __len__(self) -> int:
        return len(self._native)

    def article(self, position: SupportsIndex) -> tuple[str, str] | tuple[str, str, str]:
        """The ``(title, content)`` of the article at ``position``, or its
        ``(title, content, id)`` when it has an id."""
        return self._native.article(position)

    def scores(self, query: str) -> list[float]:
        """``score_article`` of every article against ``query``, in order."""
        return self._native.scores(query)

    def rank(
        self, query: str, top_n: SupportsIndex | None = None, *, include_zero: bool = False
    ) -> list[RankedArticle[tuple[str, str] | tuple[str, str, str]]]:
        """The ``top_n`` (all when ``None``) articles that score highest for
        ``query``, as ``rank_articles`` gives them; each article is as
        ``article`` gives it."""
        return self._native.rank(query, top_n, include_zero=include_zero, row_type=RankedArticle)

    def rank_many(
        self,
        queries: Iterable[str],
        top_n: SupportsIndex | None = None,
        *,
        include_zero: bool = False,
        workers: SupportsIndex = 1,
    ) -> list[list[RankedArticle[tuple[str, str] | tuple[str, str, str]]]]:
        """For each of ``queries`` in order, what ``rank(query, top_n,
        include_zero=include_zero)`` gives. Every query is checked before
        any is answered (a query that is not a ``str`` raises ``TypeError``
        naming its position); the queries are then shared out between
        ``workers`` threads (``-1``: one a core) with the interpreter
        released, and the index waits for them: an ``add`` from another
        thread meanwhile waits until they are answered."""
        return self._native.rank_many(
            queries, top_n, include_zero=include_zero, workers=workers, row_type=RankedArticle
        )

    def save(self, path: str | os.PathLike[str]) -> None:
        """Writes the index to ``path``, replacing it only once complete."""
        self._native.save(os.fsdecode(path))

    @classmethod
    def load(cls, path: str | os.PathLike[str]) -> ArticleIndex:
        """Reads an index file written by ``save`` into memory. A file that
        is truncated, damaged or not an index raises ``ValueError`` naming
        the file and the problem."""
        index = cls.__new__(cls)
        index._native = _index.load(os.fsdecode(path))
        return index

    def __repr__(self) -> str:
        return f"<ArticleIndex of {len(self)} articles>"
