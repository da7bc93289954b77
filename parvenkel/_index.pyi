"""Types of the compiled module parvenkel._index."""

from collections.abc import Iterable
from typing import SupportsIndex, TypeVar, final, overload

_Row = TypeVar("_Row", bound=tuple[float, int, object])

@final
class Index:
    """The native article index."""

    def __new__(cls) -> Index: ...
    def add(
        self, articles: Iterable[object], *, ids: Iterable[str | None] | None = None, workers: SupportsIndex = 1
    ) -> None:
        """Adds articles: (title, content[, id]) tuples or mappings with 'title',
        'content' and an optional 'id'."""
    def scores(self, query: str, /) -> list[float]:
        """The score of every article."""
    @overload
    def rank(
        self, query: str, top_n: SupportsIndex | None = None, *, include_zero: object = False, row_type: None = None
    ) -> list[tuple[float, int, tuple[str, str] | tuple[str, str, str]]]:
        """The best articles as (score, position, (title, content[, id])) rows."""
    @overload
    def rank(
        self, query: str, top_n: SupportsIndex | None = None, *, include_zero: object = False, row_type: type[_Row]
    ) -> list[_Row]: ...
    @overload
    def rank_many(
        self,
        queries: Iterable[str],
        top_n: SupportsIndex | None = None,
        *,
        include_zero: object = False,
        workers: SupportsIndex = 1,
        row_type: None = None,
    ) -> list[list[tuple[float, int, tuple[str, str] | tuple[str, str, str]]]]:
        """For each query in turn, the rows rank gives, the queries shared out
        between workers threads."""
    @overload
    def rank_many(
        self,
        queries: Iterable[str],
        top_n: SupportsIndex | None = None,
        *,
        include_zero: object = False,
        workers: SupportsIndex = 1,
        row_type: type[_Row],
    ) -> list[list[_Row]]: ...
    def article(self, position: SupportsIndex, /) -> tuple[str, str] | tuple[str, str, str]:
        """The (title, content[, id]) of one article."""
    def save(self, path: str, /) -> None:
        """Writes the index to a file."""
    def __len__(self) -> int: ...

def load(path: str, /) -> Index:
    """An Index opened from its file."""
