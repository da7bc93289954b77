"""Types of the compiled module parvenkel._index."""

from typing import SupportsIndex, TypeVar, final

_Row = TypeVar("_Row", bound=tuple[float, int, object])

@final
class Index:
    """The native article index."""

    def __new__(cls) -> Index: ...
    def add(self, pairs: list[tuple[object, ...]], workers: SupportsIndex, /) -> None:
        """Adds (title, content[, id]) tuples of str."""
    def scores(self, query: str, /) -> list[float]:
        """The score of every article."""
    def rank(self, query: str, top_n: SupportsIndex | None, include_zero: object, row_type: type[_Row], /) -> list[_Row]:
        """The best articles as (score, position, (title, content[, id])) rows."""
    def article(self, position: SupportsIndex, /) -> tuple[str, str] | tuple[str, str, str]:
        """The (title, content[, id]) of one article."""
    def save(self, path: str, /) -> None:
        """Writes the index to a file."""
    def __len__(self) -> int: ...

def load(path: str, /) -> Index:
    """An Index opened from its file."""
