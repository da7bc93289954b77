"""An article index in shards, one a partition, built and queried on Dask.

A corpus whose index does not fit one machine is indexed partition by
partition: each partition of a Dask bag becomes one ``ArticleIndex`` file,
written by the worker that holds the partition into a folder that every
worker reaches (a shared file system on a cluster; any folder for a
``LocalCluster``). A query ranks every shard on the workers and merges their
best rows, so that the answer is the one a single index over all the
articles would give: the same scores, the same rows in the same order,
positions counted over all the shards in partition order.

``build_shards(articles, folder)``
    One index file a partition, ``shard-00000.idx`` on; the result (lazy
    for a bag: ``.compute()`` it) is a ``ShardedIndex`` that lists the files
    and their numbers of articles. It is small, pickles, and can be kept
    with ``ShardedIndex.save``/``ShardedIndex.load`` beside the shards.

``rank_shards(index, query, top_n=None, *, include_zero=False)``
    The ``top_n`` best articles of all the shards, as a lazy
    ``dask.bag.Item`` of ``RankedArticle`` rows. Each worker keeps the shards
    it has loaded (a few dozen, the most recently used), so that a stream of
    queries reads each file once.

``ShardedIndex.rank(query, top_n=None, *, include_zero=False)``
    The same answer computed here, in this process, one shard after another.

A worker lost in a build or a query (killed, out of memory) costs only
time, as for the counting: Dask computes its tasks again on another worker,
which reads or writes the same files (a shard is saved whole or not at all),
and the answer is the same.
"""

from __future__ import annotations

import heapq
import json
import os
import sys
import threading
from collections import OrderedDict
from collections.abc import Iterable, Iterator
from itertools import islice
from operator import index as operator_index
from functools import partial
from typing import TYPE_CHECKING, Any, NamedTuple, SupportsIndex, cast

from parvenkel._core import score_article
from parvenkel.corpus import RankedArticle
from parvenkel.dask_support import _check_stop_words_and_top_n, _is_bag, _List, _plain_partitions
from parvenkel.index import ArticleIndex

if TYPE_CHECKING:
    from dask.bag import Item
    from dask.delayed import Delayed

__all__ = ["Shard", "ShardedIndex", "build_shards", "rank_shards"]

# A row of an index's ranking: the article, with its id if it has one.
_Row = RankedArticle[tuple[str, str] | tuple[str, str, str]]

#: The name of the file that ShardedIndex.save writes into the folder.
LIST_NAME = "shards.json"

# Loaded shards kept by each process, the most recently used last.
_CACHE_SHARDS = 32


class Shard(NamedTuple):
    """One shard: its file, relative to the index's folder, and the number
    of articles it holds."""

    name: str
    articles: int


class ShardedIndex:
    """The shards of one corpus, in partition order, in one folder.

    Positions count from the first article of the first shard: the article
    at position ``p`` of shard ``k`` has the position
    ``p + sum(len(shard) for shard before k)``.
    """

    __slots__ = ("_offsets", "folder", "shards")

    def __init__(self, folder: str | os.PathLike[str], shards: Iterable[Shard]) -> None:
        self.folder = os.fspath(folder)
        self.shards = tuple(Shard(str(name), operator_index(count)) for name, count in shards)
        offsets = []
        start = 0
        for shard in self.shards:
            offsets.append(start)
            start += shard.articles
        self._offsets = tuple(offsets)

    def __len__(self) -> int:
        return sum(shard.articles for shard in self.shards)

    def __eq__(self, other: object) -> bool:
        if not isinstance(other, ShardedIndex):
            return NotImplemented
        return (self.folder, self.shards) == (other.folder, other.shards)

    __hash__ = None  # type: ignore[assignment]

    def __repr__(self) -> str:
        return f"<ShardedIndex of {len(self)} articles in {len(self.shards)} shards at {self.folder!r}>"

    def __reduce__(self) -> tuple[type[ShardedIndex], tuple[str, tuple[Shard, ...]]]:
        return (ShardedIndex, (self.folder, self.shards))

    def paths(self) -> list[str]:
        """The shards' files, in order."""
        return [os.path.join(self.folder, shard.name) for shard in self.shards]

    def _tasks(self) -> list[tuple[str, int]]:
        return [(path, offset) for path, offset in zip(self.paths(), self._offsets)]

    def rank(
        self, query: str, top_n: SupportsIndex | None = None, *, include_zero: bool = False
    ) -> list[_Row]:
        """The answer of ``rank_shards``, computed in this process."""
        n = _check_query(query, top_n)
        partials = [
            _rank_shard(path, offset, query, n, bool(include_zero)) for path, offset in self._tasks()
        ]
        return _final(_merge(partials, n))

    def save(self) -> str:
        """Writes the list of shards into the folder (``shards.json``, replaced
        whole) and returns its path."""
        path = os.path.join(self.folder, LIST_NAME)
        temporary = f"{path}.{os.getpid()}.tmp"
        record = {"shards": [{"name": s.name, "articles": s.articles} for s in self.shards]}
        try:
            with open(temporary, "w", encoding="utf-8") as out:
                json.dump(record, out)
                out.flush()
                os.fsync(out.fileno())
            os.replace(temporary, path)
        except BaseException:
            try:
                os.unlink(temporary)
            except FileNotFoundError:
                pass
            raise
        return path

    @classmethod
    def load(cls, folder: str | os.PathLike[str]) -> ShardedIndex:
        """The index whose list ``save`` wrote into ``folder``."""
        folder = os.fspath(folder)
        with open(os.path.join(folder, LIST_NAME), encoding="utf-8") as listed:
            record = json.load(listed)
        try:
            shards = [Shard(entry["name"], entry["articles"]) for entry in record["shards"]]
        except (KeyError, TypeError) as error:
            raise ValueError(f"{os.path.join(folder, LIST_NAME)!r} is not a list of shards") from error
        return cls(folder, shards)


def _check_query(query: str, top_n: SupportsIndex | None) -> int:
    # The compiled functions check the query and top_n, with their own
    # errors, before any work is sent out.
    score_article("", "", query)
    if top_n is None:
        return sys.maxsize
    _, n = _check_stop_words_and_top_n((), top_n)
    return min(n, sys.maxsize)


def shard_name(number: int) -> str:
    """The file name of the shard of partition ``number``."""
    return f"shard-{number:05d}.idx"


def _build_shard(articles: Iterable[object], folder: str, number: int) -> Shard:
    """The index of one partition's articles, saved into the folder."""
    index = ArticleIndex(articles)
    name = shard_name(number)
    index.save(os.path.join(folder, name))
    return Shard(name, len(index))


def _collect(shards: Iterable[Shard], folder: str) -> ShardedIndex:
    return ShardedIndex(folder, shards)


def build_shards(
    articles: Any, folder: str | os.PathLike[str]
) -> Delayed | ShardedIndex:
    """One index file a partition of ``articles``, in ``folder``.

    ``articles`` is a Dask bag (each partition is indexed on the worker that
    holds it; the result is a lazy ``Delayed``) or an iterable of partitions,
    each an iterable of articles (indexed here; the result is the
    ``ShardedIndex``). An article is whatever ``ArticleIndex`` takes. The
    folder is made if it does not exist; files of an earlier build of the
    same partitions are replaced.
    """
    folder = os.fspath(folder)
    os.makedirs(folder, exist_ok=True)
    if _is_bag(articles):
        import dask

        delayed = cast(Any, dask).delayed
        parts = cast(Any, articles).to_delayed(optimize_graph=True)
        shards = [
            delayed(_build_shard, pure=False)(part, folder, number) for number, part in enumerate(parts)
        ]
        return cast("Delayed", delayed(_collect, pure=True)(shards, folder))
    parts = _plain_partitions(cast(Iterable[Iterable[object]], articles), "articles")
    return ShardedIndex(folder, [_build_shard(part, folder, n) for n, part in enumerate(parts)])


# --- queries ------------------------------------------------------------------

_cache: OrderedDict[tuple[str, int, int, int, int], ArticleIndex] = OrderedDict()
_cache_lock = threading.Lock()


def _loaded(path: str) -> ArticleIndex:
    """The index of the file at ``path``, loaded once per process while the
    file stays the same one (a shard built again is loaded again)."""
    status = os.stat(path)
    key = (path, status.st_dev, status.st_ino, status.st_size, status.st_mtime_ns)
    with _cache_lock:
        index = _cache.get(key)
        if index is not None:
            _cache.move_to_end(key)
            return index
    index = ArticleIndex.load(path)
    with _cache_lock:
        _cache[key] = index
        while len(_cache) > _CACHE_SHARDS:
            _cache.popitem(last=False)
    return index


# One row of a partial answer: (-score, position over all shards, row).
_Scored = tuple[float, int, _Row]


def _rank_shard(path: str, offset: int, query: str, top_n: int, include_zero: bool) -> list[_Scored]:
    """The best top_n rows of one shard, best first, positions shifted."""
    rows = _loaded(path).rank(query, top_n, include_zero=include_zero)
    return [(-row.score, offset + row.position, row._replace(position=offset + row.position)) for row in rows]


def _key(scored: _Scored) -> tuple[float, int]:
    return (scored[0], scored[1])


def _merge(partials: Iterable[list[_Scored]], top_n: int) -> list[_Scored]:
    return _List(islice(heapq.merge(*partials, key=_key), top_n))


def _rank_partition(
    tasks: Iterable[tuple[str, int]], query: str, top_n: int, include_zero: bool
) -> list[_Scored]:
    return _merge((_rank_shard(path, offset, query, top_n, include_zero) for path, offset in tasks), top_n)


def _final(merged: Iterable[_Scored]) -> list[_Row]:
    return _List(row for _, _, row in merged)


def _merge_partials(partials: Iterator[list[_Scored]], top_n: int) -> list[_Scored]:
    return _merge(list(partials), top_n)


def rank_shards(
    index: ShardedIndex,
    query: str,
    top_n: SupportsIndex | None = None,
    *,
    include_zero: bool = False,
    split_every: int | None = None,
) -> Item:
    """The ``top_n`` (all when ``None``) articles of all the shards that score
    highest for ``query``, as one ``ArticleIndex`` over all the articles
    ranks them: a lazy ``dask.bag.Item`` of ``RankedArticle`` rows, highest
    score first, equal scores by position. Each shard is ranked on a worker;
    ``split_every`` is the fan-in of the merge tree (Dask's default, 8, when
    ``None``)."""
    import dask.bag as db

    n = _check_query(query, top_n)
    tasks = index._tasks()
    bag = cast(Any, db).from_sequence(tasks, npartitions=max(len(tasks), 1))
    rank = partial(_rank_partition, query=query, top_n=n, include_zero=bool(include_zero))
    merge = partial(_merge_partials, top_n=n)
    merged = bag.reduction(rank, merge, split_every=split_every, name="parvenkel-shards")
    return cast("Item", merged.apply(_final))
