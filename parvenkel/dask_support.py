"""Corpus-wide keywords and article rankings on Dask, with exact counts.

Partitions are counted into ``WordCounter``s and scored with
``score_many``, which release the interpreter while they work: the threads
of one worker process run at once, and more processes and machines add
more. This module spreads that work with Dask (``pip install
'parvenkel[dask]'``): the same code runs on a laptop's
``distributed.LocalCluster`` and on a cluster. For a corpus that fits one
machine, ``parvenkel.corpus`` does the same without Dask.

``corpus_keywords(texts, stop_words, top_n)``
    The ``top_n`` most frequent words of a whole corpus, with exact counts.
    Every partition counts all of its words into a ``WordCounter``; the
    partial counters are merged in a tree reduction on the workers, and the
    top ``top_n`` are taken at the end. The counts equal, word for word, those
    of ``extract_keywords`` on all texts joined by a space: white space ends
    every word, so no word spans two texts and the counts of separate texts
    add up exactly. Stop words are handed to ``extract_keywords`` unchanged,
    so they apply exactly as there (unchanged comparison with the normalised
    words). Words of equal count come in the order of the word (code point
    order, which is also UTF-8 byte order), so that a cut inside a run of
    equal counts always keeps the same words.

``rank_articles(articles, query, top_n)``
    The ``top_n`` articles that score highest by ``score_article``, with their
    scores and their positions in the input, computed partition by partition
    and merged. Equal scores come in input order. Articles that score 0 are
    left out unless ``include_zero=True``.

Both take a Dask bag and then return a lazy ``dask.bag.Item``: call
``.compute()`` (or pass it to ``dask.compute`` with other work). Both also
take any iterable of partitions (each an iterable of items), for example a
list of lists; that is computed here, in this process, with the same merge,
and the result is returned directly. Dask is imported only for a bag.

Arguments are checked here, before any work is sent out, with the errors of
the compiled functions: ``stop_words`` and ``top_n`` as ``extract_keywords``
checks them, ``query`` as ``score_article`` checks it.

Counting and scoring release the interpreter, so a worker process with
several threads uses them (``LocalCluster(threads_per_worker=N)``); a
partial counter travels between processes as one compact pickle. A worker lost in a run (killed,
out of memory) costs only time: Dask computes its parts again elsewhere and
the answer is the same.
"""

from __future__ import annotations

import heapq
import sys
from collections.abc import Iterable, Sequence
from functools import partial
from itertools import islice
from operator import index as operator_index
from typing import TYPE_CHECKING, Any, NamedTuple, SupportsIndex, TypeVar, cast, overload

from parvenkel._core import extract_keywords, score_article
from parvenkel.corpus import RankedArticle, WordCounter, score_many

if TYPE_CHECKING:
    from dask.bag import Bag, Item

__all__ = ["RankedArticle", "corpus_keywords", "rank_articles"]

#: The largest ``top_n`` that ``extract_keywords`` takes: every word.
ALL_WORDS = 2**64 - 1

# Texts of a partition are joined into pieces of about this many characters,
# so that one call counts many short texts while a partition of any size
# needs only one such piece at a time next to its counts.
_PIECE_CHARS = 1 << 24

# What one task hands to the next, and the result, are of classes of their
# own rather than plain dicts, lists and tuples: distributed sends a plain
# dict or list between processes one element at a time (a frame each, some
# 30 microseconds apiece: seconds for the counts of a large vocabulary) but
# pickles any other object in one piece. A WordCounter pickles as one blob;
# for lists a subclass is enough.


_T = TypeVar("_T")


class _List(list[_T]):
    """A list; the results are of this class only to travel in one piece."""

    __slots__ = ()


# One scored article inside a partial ranking: (-score, position, article).
# The position is counted from the start of the partial ranking's first
# partition; the key (-score, position) is unique, so articles are never
# compared themselves.
_Scored = tuple[float, int, object]


class _Partial(NamedTuple):
    """A partial ranking: the number of articles it covers (empty partitions
    included), and its best scored articles, best first."""

    length: int
    best: list[_Scored]


def _is_bag(obj: object) -> bool:
    # A bag can only exist once dask.bag has been imported.
    bag_module = sys.modules.get("dask.bag")
    return bag_module is not None and isinstance(obj, bag_module.Bag)


def _plain_partitions(partitions: Iterable[Iterable[object]], what: str) -> Iterable[Iterable[object]]:
    # A str is an iterable, of characters: taken for partitions or for one
    # partition it would count letters, or rank characters, without a word.
    if isinstance(partitions, (str, bytes, bytearray)):
        raise TypeError(
            f"{what} is a Dask bag or an iterable of partitions, "
            f"not a {type(partitions).__name__!r} object"
        )
    for part in partitions:
        if isinstance(part, (str, bytes, bytearray)):
            raise TypeError(
                f"a partition is an iterable of {what}, not a {type(part).__name__!r} object"
            )
        yield part


def _check_stop_words_and_top_n(stop_words: Sequence[str], top_n: SupportsIndex) -> tuple[list[str], int]:
    # The compiled function itself checks the arguments (types, the range of
    # top_n) and raises its own errors; the empty text makes this call free.
    extract_keywords("", stop_words, top_n)
    return list(stop_words), operator_index(top_n)


def _count_partition(texts: Iterable[str], stop_words: list[str]) -> WordCounter:
    """Every word of a partition's texts with its count."""
    counter = WordCounter(stop_words)
    piece: list[str] = []
    size = 0
    for position, text in enumerate(texts):
        if not isinstance(text, str):
            raise TypeError(
                f"text {position} of a partition is a {type(text).__name__!r} object, not a str"
            )
        piece.append(text)
        size += len(text)
        if size >= _PIECE_CHARS:
            counter.update(piece)
            piece.clear()
            size = 0
    if piece:
        counter.update(piece)
    return counter


def _merge_counts(partials: Iterable[WordCounter]) -> WordCounter:
    """The sum of several partial counters, as a new counter.

    The inputs are left as they are (a scheduler may hold on to them and hand
    them to a retried task).
    """
    merged = WordCounter()
    for part in partials:
        merged.update(part)
    return merged


def _top_keywords(counts: WordCounter, top_n: int) -> list[tuple[str, int]]:
    """The top_n most frequent words, ties in the order of the word."""
    return _List(counts.most_common(top_n))


@overload
def corpus_keywords(
    texts: Bag, stop_words: Sequence[str], top_n: SupportsIndex, *, split_every: int | None = None
) -> Item: ...
@overload
def corpus_keywords(
    texts: Iterable[Iterable[str]],
    stop_words: Sequence[str],
    top_n: SupportsIndex,
    *,
    split_every: int | None = None,
) -> list[tuple[str, int]]: ...
def corpus_keywords(
    texts: Bag | Iterable[Iterable[str]],
    stop_words: Sequence[str],
    top_n: SupportsIndex,
    *,
    split_every: int | None = None,
) -> Item | list[tuple[str, int]]:
    """The ``top_n`` most frequent words of a corpus, as ``(word, count)`` pairs.

    ``texts`` is a Dask bag of ``str`` (the result is then a lazy
    ``dask.bag.Item``) or an iterable of partitions, each an iterable of
    ``str`` (computed here; the result is the list). The counts are those of
    ``extract_keywords`` on all texts joined by a space; most frequent first,
    words of equal count in code point order. ``split_every`` is the fan-in of
    the tree that sums the partial counts (Dask's default, 8, when ``None``).
    """
    stops, n = _check_stop_words_and_top_n(stop_words, top_n)
    count = partial(_count_partition, stop_words=stops)
    top = partial(_top_keywords, top_n=n)
    if _is_bag(texts):
        bag = cast(Any, texts)
        summed = bag.reduction(count, _merge_counts, split_every=split_every, name="parvenkel-keywords")
        return cast("Item", summed.apply(top))
    counts = WordCounter()
    for part in _plain_partitions(cast(Iterable[Iterable[str]], texts), "texts"):
        counts.update(count(cast(Iterable[str], part)))
    return top(counts)


def _scored_key(scored: _Scored) -> tuple[float, int]:
    return (scored[0], scored[1])


def _rank_partition(articles: Iterable[object], query: str, top_n: int, include_zero: bool) -> _Partial:
    """The best top_n articles of one partition, and its number of articles."""
    items = list(articles)
    # score_many reads every shape of article and refuses any other with
    # the article's position in the partition.
    scores = score_many(items, query)
    scored: list[_Scored] = [
        (-score, position, items[position])
        for position, score in enumerate(scores)
        if score > 0.0 or include_zero
    ]
    if top_n < len(scored):
        return _Partial(len(items), heapq.nsmallest(top_n, scored, key=_scored_key))
    scored.sort(key=_scored_key)
    return _Partial(len(items), scored)


def _merge_rankings(partials: Iterable[_Partial], top_n: int) -> _Partial:
    """One partial ranking of several consecutive ones, given in input order."""
    start = 0
    shifted: list[list[_Scored]] = []
    for length, best in partials:
        if start:
            best = [(key, start + position, article) for key, position, article in best]
        shifted.append(best)
        start += length
    merged = heapq.merge(*shifted, key=_scored_key)
    # islice stops at sys.maxsize at most; a larger top_n keeps everything too.
    return _Partial(start, list(islice(merged, min(top_n, sys.maxsize))))


def _final_ranking(partial_ranking: _Partial) -> list[RankedArticle]:
    return _List(
        RankedArticle(-key, position, article) for key, position, article in partial_ranking.best
    )


@overload
def rank_articles(
    articles: Bag,
    query: str,
    top_n: SupportsIndex,
    *,
    include_zero: bool = False,
    split_every: int | None = None,
) -> Item: ...
@overload
def rank_articles(
    articles: Iterable[Iterable[object]],
    query: str,
    top_n: SupportsIndex,
    *,
    include_zero: bool = False,
    split_every: int | None = None,
) -> list[RankedArticle]: ...
def rank_articles(
    articles: Bag | Iterable[Iterable[object]],
    query: str,
    top_n: SupportsIndex,
    *,
    include_zero: bool = False,
    split_every: int | None = None,
) -> Item | list[RankedArticle]:
    """The ``top_n`` articles that score highest for ``query``, best first.

    ``articles`` is a Dask bag (the result is then a lazy ``dask.bag.Item``)
    or an iterable of partitions, each an iterable of articles (computed here;
    the result is the list). An article is a ``(title, content)`` pair of
    ``str`` or a mapping with the keys ``"title"`` and ``"content"``. Each
    result is a ``RankedArticle(score, position, article)``: highest score first,
    equal scores by ``position``, the article's place in the input (from 0,
    counted over all partitions in order). Articles
    scoring 0 are left out unless ``include_zero`` is true. ``split_every``
    is the fan-in of the merge tree (Dask's default, 8, when ``None``).
    """
    score_article("", "", query)  # the compiled function's own check of the query
    _, n = _check_stop_words_and_top_n((), top_n)
    rank = partial(_rank_partition, query=query, top_n=n, include_zero=bool(include_zero))
    merge = partial(_merge_rankings, top_n=n)
    if _is_bag(articles):
        bag = cast(Any, articles)
        merged = bag.reduction(rank, merge, split_every=split_every, name="parvenkel-ranking")
        return cast("Item", merged.apply(_final_ranking))
    parts = _plain_partitions(cast(Iterable[Iterable[object]], articles), "articles")
    partials = [rank(part) for part in parts]
    return _final_ranking(merge(partials))
