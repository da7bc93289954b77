"""The queries of index_bench.py, picked from the corpus itself.

For each language, words (for CJK text, runs of three Han or kana
characters) are counted by the number of articles of that language that
hold them, lowercased, over a sample of at most SAMPLE of its articles
taken at an even stride. Three classes are picked by that document
frequency, the word nearest (in ratio) to a share of the language's
articles, ties broken by a hash of the word (not its first letters), so
that the same corpus always gives the same queries:

* selective: about 0.02% of the articles (at least 2 of the sample),
* middling: about 1%,
* common: about 10%.

Words have at least 5 letters, all of the language's script, and are
found in no earlier language of the same script (so that English left
untranslated in the German pages is not taken for German). Then short
queries of 1 and 2 characters, which trigram indexes of characters cannot
answer from their index: a single ASCII letter, two ASCII letters, a
Cyrillic letter, a Greek letter, and two pairs of Han characters: one that
Chinese and Japanese share ("use"), one of Japanese only ("image", absent
from the synthetic corpus).
"""

from __future__ import annotations

import math
import re
import zlib
from collections import Counter
from typing import Sequence

SAMPLE = 20_000
BANDS = {"selective": 0.0002, "middling": 0.01, "common": 0.1}
SHORT = ["e", "th", "\u044b", "\u03c3", "\u4f7f\u7528", "\u753b\u50cf"]  # e, th, ы, σ, 使用, 画像

_WORD = re.compile(r"[^\W\d_]{5,}")
_CJK = re.compile(r"[\u3040-\u30ff\u4e00-\u9fff]{3,}")
_SCRIPTS = {
    "Latin": re.compile(r"[a-z\u00c0-\u024f]+"),
    "Cyrillic": re.compile(r"[\u0400-\u04ff]+"),
    "Greek": re.compile(r"[\u0370-\u03ff\u1f00-\u1fff]+"),
}


def _terms(text: str, script: str) -> set[str]:
    """The words (CJK: runs of three characters) of a field, less its first
    and last word, which may be cut (the synthetic articles are cut out of
    running text)."""
    text = text.lower()
    if script == "CJK":
        runs = _CJK.findall(text)[1:-1]
        return {run[i : i + 3] for run in runs for i in range(len(run) - 2)}
    full = _SCRIPTS[script]
    return {w for w in _WORD.findall(text)[1:-1] if full.fullmatch(w)}


def pick(
    articles: Sequence[tuple[str, str]],
    languages: Sequence[str],
    scripts: dict[str, str],
) -> list[tuple[str, str, str]]:
    """(class, language, query) for each language of ``scripts`` (in its
    order) and class, then the short queries (language "-")."""
    positions: dict[str, list[int]] = {language: [] for language in scripts}
    for k, language in enumerate(languages):
        if language in positions:
            positions[language].append(k)
    frequencies: dict[str, Counter[str]] = {}
    sizes: dict[str, int] = {}
    for language, script in scripts.items():
        mine = positions[language]
        stride = max(1, len(mine) // SAMPLE)
        sample = mine[::stride][:SAMPLE]
        frequency: Counter[str] = Counter()
        for k in sample:
            title, content = articles[k]
            frequency.update(_terms(title, script) | _terms(content, script))
        frequencies[language], sizes[language] = frequency, len(sample)
    picked: list[tuple[str, str, str]] = []
    for language, script in scripts.items():
        # Not a word of an earlier language of the same script (the English
        # left untranslated in the German pages, names, markup).
        earlier = list(scripts)[: list(scripts).index(language)]
        others = [frequencies[other] for other in earlier if scripts[other] == script]
        own = {w: n for w, n in frequencies[language].items() if not any(w in f for f in others)}
        for band, share in BANDS.items():
            target = max(2.0, share * sizes[language])
            best = min(
                (w for w, n in own.items() if n >= 2 or band != "selective"),
                key=lambda w: (abs(math.log(own[w] / target)), zlib.crc32(w.encode()), w),
                default=None,
            )
            if best is not None:
                picked.append((band, language, best))
    bands, order = list(BANDS), list(scripts)
    picked.sort(key=lambda row: (bands.index(row[0]), order.index(row[1])))
    picked += [("short", "-", q) for q in SHORT]
    return picked
