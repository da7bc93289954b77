"""Types of the compiled module parvenkel._corpus."""

from collections.abc import Iterable
from typing import SupportsIndex, TypeVar, final, overload

@final
class WordCounter:
    """Counts of normalised words, as extract_keywords counts them, kept across calls."""

    def __new__(cls, stop_words: Iterable[str] = ()) -> WordCounter: ...
    def update(self, texts: str | Iterable[str] | WordCounter, *, workers: SupportsIndex = 1) -> None:
        """Count the words of a str or of an iterable of str, or add the counts of
        another WordCounter."""
    def most_common(self, n: SupportsIndex | None = None) -> list[tuple[str, int]]:
        """The n most common words (all when n is None) as (word, count) pairs."""
    def items(self) -> list[tuple[str, int]]:
        """Every (word, count) pair, in the order of most_common()."""
    def total(self) -> int:
        """The sum of all counts."""
    def __getitem__(self, word: str, /) -> int: ...
    def __contains__(self, word: object, /) -> bool: ...
    def __len__(self) -> int: ...
    def __eq__(self, other: object, /) -> bool: ...
    def __ne__(self, other: object, /) -> bool: ...
    __hash__: None  # type: ignore[assignment]
    def __reduce__(self) -> tuple[object, tuple[bytes]]: ...

def keywords_many(
    texts: Iterable[str], stop_words: Iterable[str], top_n: SupportsIndex, *, workers: SupportsIndex = 1
) -> list[list[tuple[str, int]]]:
    """The top_n most frequent words of each text."""

def score_many(articles: Iterable[object], query: str, *, workers: SupportsIndex = 1) -> list[float]:
    """score_article of every (title, content) article against query."""

_Row = TypeVar("_Row", bound=tuple[float, int, object])

@overload
def rank_rows(
    articles: Iterable[object],
    query: str,
    top_n: SupportsIndex | None = None,
    *,
    workers: SupportsIndex = 1,
    include_zero: bool = False,
    row_type: None = None,
) -> list[tuple[float, int, object]]:
    """The best articles as (score, position, article) rows, best first."""

@overload
def rank_rows(
    articles: Iterable[object],
    query: str,
    top_n: SupportsIndex | None = None,
    *,
    workers: SupportsIndex = 1,
    include_zero: bool = False,
    row_type: type[_Row],
) -> list[_Row]: ...

def _from_blob(data: bytes, /) -> WordCounter:
    """A WordCounter from its pickled form."""
