"""What `extract_keywords` does to each piece of a text, asked of the module itself.

`extract_keywords` cuts its text at Unicode White_Space, keeps the Alphabetic
characters of each piece, lowercases them, drops words under 3 bytes of UTF-8
and drops stop words, which it compares unchanged. This module answers "what
did this piece become, and why was it kept or dropped" without a Unicode
table of its own: every answer comes from calling the compiled module, so it
cannot drift from it.

Two observations make that possible:

* A character's class (white space, letter, anything else) shows in how
  ``extract_keywords`` treats it between two copies of a padding letter.
* A piece's normalised word is what ``extract_keywords`` makes of the piece
  followed by the padding letter, less that letter at the end. The padding
  letter, U+4E00, is Alphabetic, lowercases to itself, and is neither Cased
  nor Case_Ignorable, so it changes nothing in how the letters before it are
  lowercased (the final-sigma rule treats it like the end of the word), and it
  makes the word long enough to be counted whatever the piece is.
"""

from __future__ import annotations

import enum
from collections.abc import Iterable, Sequence
from dataclasses import dataclass

from parvenkel._core import extract_keywords

__all__ = [
    "MIN_KEYWORD_BYTES",
    "Explanation",
    "StopWordProblem",
    "Verdict",
    "check_stop_words",
    "explain",
    "normalise",
    "split",
]

#: Normalised words shorter than this many bytes of UTF-8 are never counted.
MIN_KEYWORD_BYTES = 3

# U+4E00, a CJK ideograph: Alphabetic, its own lowercase form, not Cased and
# not Case_Ignorable, and 3 bytes long on its own.
_PAD = "\u4e00"


class _Class(enum.Enum):
    WHITE_SPACE = "white space"
    LETTER = "letter"
    OTHER = "other"


# Character -> class, filled as characters are met. The module is pure, so an
# answer never goes stale.
_classes: dict[str, _Class] = {}


def _probe(char: str) -> _Class:
    """The class of one character, as `extract_keywords` shows it."""
    got = extract_keywords(_PAD + char + _PAD, (), 2)
    if got == [(_PAD, 2)]:
        return _Class.WHITE_SPACE  # the character cut the text in two
    if got == [(_PAD + _PAD, 1)]:
        return _Class.OTHER  # the character was left out of the word
    return _Class.LETTER  # the character stayed, lowercased


def _class_of(char: str) -> _Class:
    cls = _classes.get(char)
    if cls is None:
        cls = _classes[char] = _probe(char)
    return cls


def _white_space_in(text: str) -> frozenset[str]:
    return frozenset(c for c in set(text) if _class_of(c) is _Class.WHITE_SPACE)


def split(text: str) -> list[str]:
    """The pieces `extract_keywords` sees: maximal runs of characters that are
    not White_Space, in text order (no empty pieces)."""
    white = _white_space_in(text)
    if not white:
        return [text] if text else []
    pieces: list[str] = []
    start = 0
    for i, char in enumerate(text):
        if char in white:
            if i > start:
                pieces.append(text[start:i])
            start = i + 1
    if start < len(text):
        pieces.append(text[start:])
    return pieces


def _normalise_piece(piece: str) -> str:
    # One piece, with a counted word: exactly one (word, 1) pair comes back.
    ((word, _),) = extract_keywords(piece + _PAD, (), 1)
    return word[: -len(_PAD)]


def normalise(piece: str) -> str:
    """The word `extract_keywords` makes of one piece of text: its Alphabetic
    characters, lowercased (empty when it has none). The piece must not hold
    White_Space, since that would make it several pieces."""
    if any(_class_of(c) is _Class.WHITE_SPACE for c in set(piece)):
        raise ValueError(f"{piece!r} holds white space, so it is more than one piece")
    return _normalise_piece(piece)


def _utf8_len(word: str) -> int:
    return len(word.encode("utf-8"))


class Verdict(enum.StrEnum):
    """Why a piece was counted or not, in the order the checks are made."""

    KEPT = "kept"
    NO_LETTERS = "no letters"
    TOO_SHORT = "under 3 bytes"
    STOP_WORD = "stop word"


@dataclass(frozen=True, slots=True)
class Explanation:
    """One piece of a text and what `extract_keywords` made of it."""

    piece: str
    """The piece as it stands in the text (a run of non-White_Space characters)."""
    word: str
    """Its normalised word: the letters, lowercased; empty if it has none."""
    removed: str
    """The characters left out because they are not letters, in order."""
    verdict: Verdict
    """Whether the word counts, and if not, why."""

    @property
    def word_bytes(self) -> int:
        """The length of the word in bytes of UTF-8, the measure of the 3-byte rule."""
        return _utf8_len(self.word)

    @property
    def kept(self) -> bool:
        """Whether the word counts."""
        return self.verdict is Verdict.KEPT


def explain(text: str, stop_words: Sequence[str] = ()) -> list[Explanation]:
    """Each piece of `text`, the word it becomes and why it is kept or dropped,
    exactly as ``extract_keywords(text, stop_words, n)`` treats it.

    The arguments are checked by `extract_keywords` itself, so a wrong type or
    a lone surrogate raises what it raises. The kept pieces, counted, give the
    counts `extract_keywords` returns.
    """
    extract_keywords(text, stop_words, 0)  # the module's own argument checks
    stop_set = frozenset(stop_words)
    explanations = []
    for piece in split(text):
        word = _normalise_piece(piece)
        removed = "".join(c for c in piece if _class_of(c) is not _Class.LETTER)
        if not word:
            verdict = Verdict.NO_LETTERS
        elif _utf8_len(word) < MIN_KEYWORD_BYTES:
            verdict = Verdict.TOO_SHORT
        elif word in stop_set:
            verdict = Verdict.STOP_WORD
        else:
            verdict = Verdict.KEPT
        explanations.append(Explanation(piece, word, removed, verdict))
    return explanations


@dataclass(frozen=True, slots=True)
class StopWordProblem:
    """A stop word that can never match a word of any text."""

    index: int
    """Its position in the list that was checked."""
    entry: str
    """The entry itself."""
    reason: str
    """Why it can never match, in a few words."""
    suggestion: str | None
    """What it would have to be to match, or None when no stop word is needed
    (it has no letters, or its words are too short to be counted anyway)."""

    def __str__(self) -> str:
        text = f"stop word {self.entry!r} can never match: {self.reason}"
        if self.suggestion is not None:
            text += f"; it would have to be {self.suggestion!r}"
        return text


def _is_a_word(entry: str) -> bool:
    """True when some piece of text normalises to `entry` (which holds no
    white space).

    A word is the lowercase form of a string of letters. Lowercasing a
    lowercase form changes nothing, and letters lowercase to letters, with one
    exception in Unicode 17.0.0: U+0130 (capital I with dot above) becomes
    "i" followed by U+0307, which is not a letter. So `entry` is a word when
    it normalises to itself, or when it does so with each "i" + U+0307 put
    back as U+0130.
    """
    if _normalise_piece(entry) == entry:
        return True
    dotted = entry.replace("i\u0307", "\u0130")
    return dotted != entry and _normalise_piece(dotted) == entry


def _problem(index: int, entry: str) -> StopWordProblem | None:
    try:
        entry.encode("utf-8")
    except UnicodeEncodeError as e:
        return StopWordProblem(
            index,
            entry,
            f"it holds a lone surrogate (U+{ord(entry[e.start]):04X}), which has no "
            "UTF-8 form, so extract_keywords raises UnicodeEncodeError",
            None,
        )
    if not entry:
        return StopWordProblem(index, entry, "it is empty", None)
    classes = [_class_of(c) for c in entry]
    if _Class.WHITE_SPACE in classes:
        return StopWordProblem(
            index, entry, "it holds white space, which always separates words", None
        )
    if _utf8_len(entry) >= MIN_KEYWORD_BYTES and _is_a_word(entry):
        return None
    word = _normalise_piece(entry)
    if not word:
        return StopWordProblem(index, entry, "it has no letters", None)
    if _utf8_len(word) < MIN_KEYWORD_BYTES:
        return StopWordProblem(
            index,
            entry,
            f"words under {MIN_KEYWORD_BYTES} bytes of UTF-8 are never counted, "
            "so no stop word is needed",
            None,
        )
    removed = [c for c, cls in zip(entry, classes) if cls is not _Class.LETTER]
    letters = "".join(c for c, cls in zip(entry, classes) if cls is _Class.LETTER)
    reasons = []
    if removed:
        shown = ", ".join(repr(c) for c in dict.fromkeys(removed))
        reasons.append(f"it holds characters that are not letters ({shown})")
    if _normalise_piece(letters) != letters:
        reasons.append("it is not in lower case")
    return StopWordProblem(index, entry, " and ".join(reasons), word)


def check_stop_words(stop_words: Iterable[str]) -> list[StopWordProblem]:
    """The entries of a stop-word list that can never match a word.

    `extract_keywords` compares stop words unchanged with normalised words
    (letters only, lowercased, at least 3 bytes of UTF-8), so an entry with a
    capital letter, a digit, punctuation or white space, or one shorter than
    3 bytes, never matches anything. Each problem names the entry, its index,
    why, and the form that would match where there is one.
    """
    problems = []
    for index, entry in enumerate(stop_words):
        if not isinstance(entry, str):
            raise TypeError(
                f"stop word {index}: {type(entry).__qualname__!r} object is not a str"
            )
        problem = _problem(index, entry)
        if problem is not None:
            problems.append(problem)
    return problems
