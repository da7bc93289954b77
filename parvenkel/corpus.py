"""Corpora on one machine: word counts and batch calls on every core.

``WordCounter(stop_words=())``
    Counts of normalised words, exactly as ``extract_keywords`` counts them,
    kept across calls: ``update`` adds the words of a ``str``, of an
    iterable of ``str`` or the counts of another counter; ``most_common(n)``
    gives the pairs by count, highest first, equal counts in code point
    order of the word. It is a read-only mapping of words to counts, adds up
    with ``+`` and pickles as one compact blob.

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

from collections import Counter
from collections.abc import Iterable, Iterator, Mapping
from typing import Generic, NamedTuple, SupportsIndex, TypeVar

from parvenkel import _corpus
from parvenkel._corpus import keywords_many, rank_rows

__all__ = ["RankedArticle", "WordCounter", "keywords_many", "rank_articles", "score_many"]

#: The fields of an article given as a mapping, unless the call names others.
TITLE_FIELD = "title"
CONTENT_FIELD = "content"


#: The type of the articles of a ranking.
A = TypeVar("A", default=object)


class RankedArticle(NamedTuple, Generic[A]):
    """One article of a ranking; ``A`` is the type of the articles ranked."""

    score: float
    """The article's score, as ``score_article`` gives it."""
    position: int
    """Its position in the input, from 0."""
    article: A
    """The article itself, as it was in the input (from ``ArticleIndex``,
    the ``(title, content)`` pair the index holds)."""


def _field(article: Mapping[str, object], name: str, k: int, fields: tuple[str, str]) -> object:
    try:
        return article[name]
    except KeyError as missing:
        # The compiled converter's wording for the usual fields.
        raise TypeError(
            f"article {k} is a {type(article).__name__!r} object without {name!r}, not a"
            f" (title, content) pair or a mapping with {fields[0]!r} and {fields[1]!r}"
        ) from missing


def _as_given(articles: object, title_field: str, content_field: str) -> bool:
    """Whether the compiled call takes `articles` as they are: with the
    usual fields, and when they are no iterable of articles at all (the call
    refuses them with its own message)."""
    if title_field == TITLE_FIELD and content_field == CONTENT_FIELD:
        return True
    return isinstance(articles, (str, bytes)) or not isinstance(articles, Iterable)


def _pairs(articles: Iterable[object], title_field: str, content_field: str) -> list[object]:
    """The articles with each mapping among them read as a (title, content)
    pair through the named fields; other articles are left as they are, for
    the compiled call to check."""
    fields = (title_field, content_field)
    return [
        (_field(a, title_field, k, fields), _field(a, content_field, k, fields))
        if isinstance(a, Mapping)
        else a
        for k, a in enumerate(articles)
    ]


def score_many(
    articles: Iterable[object],
    query: str,
    *,
    workers: SupportsIndex = 1,
    title_field: str = TITLE_FIELD,
    content_field: str = CONTENT_FIELD,
) -> list[float]:
    """``score_article`` of every article against ``query``, in input order.
    An article is a ``(title, content)`` pair of ``str`` (a tuple, a named
    tuple or a list of two) or a mapping whose ``title_field`` and
    ``content_field`` hold them."""
    if _as_given(articles, title_field, content_field):
        return _corpus.score_many(articles, query, workers=workers)
    return _corpus.score_many(_pairs(articles, title_field, content_field), query, workers=workers)


def rank_articles[A](
    articles: Iterable[A],
    query: str,
    top_n: SupportsIndex | None = None,
    *,
    workers: SupportsIndex = 1,
    include_zero: bool = False,
    title_field: str = TITLE_FIELD,
    content_field: str = CONTENT_FIELD,
) -> list[RankedArticle[A]]:
    """The ``top_n`` (all when ``None``) articles that score highest for
    ``query``: highest score first, equal scores in input order. An article
    is a ``(title, content)`` pair of ``str`` or a mapping whose
    ``title_field`` and ``content_field`` (``"title"`` and ``"content"``
    unless named) hold them; each comes back as it was in the input.
    Articles scoring 0 are left out unless ``include_zero`` is true."""
    if _as_given(articles, title_field, content_field):
        return rank_rows(
            articles, query, top_n, workers=workers, include_zero=include_zero, row_type=RankedArticle
        )
    given = list(articles)
    rows = rank_rows(
        _pairs(given, title_field, content_field),
        query,
        top_n,
        workers=workers,
        include_zero=include_zero,
    )
    return [RankedArticle(score, position, given[position]) for score, position, _ in rows]


def _counter_from_blob(data: bytes) -> WordCounter:
    """A WordCounter from its pickled form (see WordCounter.__reduce__)."""
    counter = WordCounter.__new__(WordCounter)
    counter._native = _corpus._from_blob(data)
    return counter


class WordCounter(Mapping[str, int]):
    """Counts of normalised words, as ``extract_keywords`` counts them, kept
    across calls.

    A read-only mapping of each counted word to its count: ``counter[word]``
    (0 for a word never counted, as ``collections.Counter`` gives),
    ``word in counter``, ``len``, iteration in ``most_common`` order,
    ``get``, ``keys``, ``values`` and ``items``. ``==`` compares as
    ``Counter`` does: with another ``WordCounter`` or a ``Counter`` by
    counts, a missing word counting as 0; with any other mapping as
    ``dict`` does. ``a + b`` is a new counter with the counts of both (and
    the stop words of ``a``); ``a += b`` adds ``b`` into ``a``. Counter's
    ``-``, ``|`` and ``&`` are not offered: counts come only from counting
    text, so a counter cannot hold a count taken away or a minimum of two.

    ``items()`` is the list of ``(word, count)`` pairs in ``most_common``
    order, not a view: it is taken from the counter at once.
    """

    __slots__ = ("_native",)
    __hash__ = None  # type: ignore[assignment]

    _native: _corpus.WordCounter

    def __init__(self, stop_words: Iterable[str] = ()) -> None:
        self._native = _corpus.WordCounter(stop_words)

    def update(self, texts: str | Iterable[str] | WordCounter, *, workers: SupportsIndex = 1) -> None:
        """Count the words of a ``str`` or of an iterable of ``str``, or add
        the counts of another ``WordCounter``."""
        if isinstance(texts, WordCounter):
            self._native.update(texts._native, workers=workers)
        else:
            self._native.update(texts, workers=workers)

    def most_common(self, n: SupportsIndex | None = None) -> list[tuple[str, int]]:
        """The ``n`` most common words (all when ``n`` is ``None``) as
        ``(word, count)`` pairs: highest count first, equal counts in code
        point order of the word."""
        return self._native.most_common(n)

    def items(self) -> list[tuple[str, int]]:  # type: ignore[override]
        """Every ``(word, count)`` pair, in the order of ``most_common()``."""
        return self._native.items()

    def total(self) -> int:
        """The sum of all counts."""
        return self._native.total()

    def copy(self) -> WordCounter:
        """A new counter with the same counts and stop words."""
        return _counter_from_blob(self._blob())

    def __getitem__(self, word: str) -> int:
        return self._native[word]

    def get[D](self, word: str, default: D | None = None) -> int | D | None:  # type: ignore[override]
        """The count of ``word``, or ``default`` if it was never counted."""
        return self._native[word] if word in self._native else default

    def __contains__(self, word: object) -> bool:
        return word in self._native

    def __len__(self) -> int:
        return len(self._native)

    def __iter__(self) -> Iterator[str]:
        return (word for word, _ in self._native.items())

    def __eq__(self, other: object) -> bool:
        if isinstance(other, WordCounter):
            return self._native == other._native
        if isinstance(other, Counter):
            return all(c == (self[w] if isinstance(w, str) else 0) for w, c in other.items()) and all(
                other[w] == c for w, c in self._native.items()
            )
        if isinstance(other, Mapping):
            return len(other) == len(self) and all(
                w in other and other[w] == c for w, c in self._native.items()
            )
        return NotImplemented

    def __ne__(self, other: object) -> bool:
        same = self.__eq__(other)
        return same if same is NotImplemented else not same

    def __add__(self, other: WordCounter) -> WordCounter:
        if not isinstance(other, WordCounter):
            return NotImplemented
        total = self.copy()
        total.update(other)
        return total

    def __iadd__(self, other: WordCounter) -> WordCounter:
        if not isinstance(other, WordCounter):
            return NotImplemented
        self.update(other)
        return self

    def _blob(self) -> bytes:
        _, (data,) = self._native.__reduce__()
        return data

    def __reduce__(self) -> tuple[object, tuple[bytes]]:
        return _counter_from_blob, (self._blob(),)

    def __repr__(self) -> str:
        return repr(self._native)
