"""The pure-Python code a user would write instead of parvenkel.

Both functions are written the way a careful Python programmer would write
them with the standard library alone (``str.split``, a regular expression,
``str.lower``, ``collections.Counter``; ``str.lower``, ``startswith`` and
``in``), tuned for speed where that costs no readability, and kept as close
to parvenkel's results as plain Python gets. The differences that remain
come from Python's own notions of letter, space and case:

* ``str.split()`` also splits at U+001C..U+001F, which are not White_Space;
* the letter filter keeps what ``re``'s ``\\w`` keeps minus digits and the
  low line, i.e. ``str.isalpha()`` letters plus a few non-decimal numerals
  (such as U+00B2), and drops the combining marks that Unicode counts as
  Alphabetic (Other_Alphabetic, e.g. Indic vowel signs);
* ``str.lower()`` follows CPython's Unicode database (16.0.0 in 3.14), not
  17.0.0; and the whole text is lowercased at once, so the final-sigma rule
  sees the neighbouring words (on ordinary prose this changes nothing,
  because the letters of one piece are never next to another piece's).

On the real prose used by the benchmarks both functions agree with
parvenkel's results; ``run.py --check`` compares them.
"""

from __future__ import annotations

import re
from collections import Counter

# Everything that is neither a letter nor white space: \W is "not a word
# character", and \d and _ are word characters that are not letters.
_NOT_LETTER_OR_SPACE = re.compile(r"[^\w\s]+|[\d_]+")

TITLE_PREFIX_SCORE = 1000.0
TITLE_CONTAINS_SCORE = 500.0
CONTENT_CONTAINS_BONUS = 100.0


def extract_keywords(text: str, stop_words, top_n: int) -> list[tuple[str, int]]:
    """The ``top_n`` most frequent words of ``text`` (letters only,
    lowercased, at least 3 UTF-8 bytes, not in ``stop_words``)."""
    stop = set(stop_words)
    counts = Counter(_NOT_LETTER_OR_SPACE.sub("", text).lower().split())
    # Filter the distinct words, not every occurrence: len(word) >= 3 settles
    # most of them without encoding; a shorter one is long enough when its
    # UTF-8 form has 3 bytes or more.
    for word in [
        w for w in counts
        if (len(w) < 3 and len(w.encode("utf-8")) < 3) or w in stop
    ]:
        del counts[word]
    return counts.most_common(top_n)


def score_article(title: str, content: str, query: str) -> float:
    """1000 if the title starts with the query, else 500 if it contains it,
    plus 100 if the body contains it; all after lowercasing."""
    query = query.lower()
    if not query:
        return 0.0
    title = title.lower()
    if title.startswith(query):
        score = TITLE_PREFIX_SCORE
    elif query in title:
        score = TITLE_CONTAINS_SCORE
    else:
        score = 0.0
    if query in content.lower():
        score += CONTENT_CONTAINS_BONUS
    return score
