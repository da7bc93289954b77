"""Benchmark inputs: real prose in several scripts, synthetic stress texts and
short articles, all built in memory at run time from the cached corpora
(see corpora.py) and deterministic generators."""

from __future__ import annotations

import dataclasses
import random

import corpora

# A small, realistic stop list: common English words plus a few of the other
# languages (stop words are compared with the already lowercased words).
STOP_WORDS = [
    "the", "and", "for", "that", "this", "with", "you", "are", "not", "but",
    "can", "from", "have", "has", "was", "will", "your", "all", "any", "one",
    "which", "their", "there", "these", "they", "use", "also", "may", "its",
    "les", "des", "une", "pour", "dans", "est", "par", "sur", "que", "qui",
    "для", "что", "или", "как", "это", "при", "если",
    "και", "του", "της", "των", "για", "στο", "στην", "από", "που", "μια",
]
TOP_N = 20

SIZES = {
    # bytes of UTF-8: prose bodies, synthetic stress texts, the big text
    # (characters, not bytes, for the periodic bodies)
    "full": {"prose": 1_000_000, "synthetic": 4_000_000, "big": 100_000_000, "articles": 1000,
             "periodic": 2_000_000},
    "quick": {"prose": 250_000, "synthetic": 500_000, "big": 10_000_000, "articles": 200,
              "periodic": 500_000},
}


@dataclasses.dataclass
class Text:
    name: str
    kind: str  # "prose", "synthetic" or "big"
    script: str
    text: str
    note: str = ""

    @property
    def nbytes(self) -> int:
        return utf8_len(self.text)


@dataclasses.dataclass
class Article:
    title: str
    content: str
    query: str

    @property
    def nbytes(self) -> int:
        return utf8_len(self.title) + utf8_len(self.content) + utf8_len(self.query)


@dataclasses.dataclass
class ScoreInput:
    name: str
    script: str
    article: Article
    note: str = ""


@dataclasses.dataclass
class ArticlePool:
    name: str
    script: str
    articles: list[Article]


def utf8_len(s: str) -> int:
    return len(s.encode("utf-8")) if not s.isascii() else len(s)


def fresh(s: str) -> str:
    """An equal string that is a new object: the UTF-8 form CPython caches
    inside a str after its first conversion is not there yet, as for a text
    just read from a file or a socket."""
    return s.encode("utf-8").decode("utf-8")


def tile(text: str, nbytes: int) -> str:
    """``text`` repeated (whole lines) until it has at least ``nbytes`` bytes."""
    lines = text.splitlines(keepends=True)
    out: list[str] = []
    size = 0
    while size < nbytes:
        for line in lines:
            out.append(line)
            size += utf8_len(line)
            if size >= nbytes:
                break
    return "".join(out)


def repeat_to(unit: str, nbytes: int) -> str:
    """``unit * k`` with the smallest k giving ``nbytes`` bytes or more,
    built in one allocation (no temporary larger than the result)."""
    k = -(-nbytes // max(1, utf8_len(unit)))
    return unit * k


def ascii_only(text: str) -> str:
    return text.encode("ascii", "ignore").decode("ascii")


def _title_line(text: str, rng: random.Random, lo: int = 40, hi: int = 80) -> str:
    lines = [ln for ln in text.splitlines() if lo <= utf8_len(ln) <= hi]
    return rng.choice(lines) if lines else text[:40]


def _cut(text: str, start: int, nbytes: int) -> str:
    """About ``nbytes`` bytes of ``text`` from character ``start``."""
    per_char = max(1.0, utf8_len(text) / max(1, len(text)))
    n = max(1, int(nbytes / per_char))
    start %= max(1, len(text) - n)
    return text[start : start + n]


def _word_at(text: str, pos: int, nbytes: int = 10) -> str:
    """A run of letters of about ``nbytes`` bytes (9 at least) found at or
    after ``pos``; else the longest run there is after ``pos``."""
    n = len(text)
    best = ""
    start = pos
    while start < n:
        if not text[start].isalpha():
            start += 1
            continue
        end = start
        size = 0
        while end < n and text[end].isalpha() and size < nbytes:
            size += utf8_len(text[end])
            end += 1
        if size >= min(nbytes, 9):
            return text[start:end]
        if end - start > len(best):
            best = text[start:end]
        while end < n and text[end].isalpha():
            end += 1
        start = end
    return best or "absent"


def _absent_query(present: str, *haystacks: str) -> str:
    lowered = [h.lower() for h in haystacks]
    for cand in (present[::-1], present[::-1] + present[0], "zqxjkvwpyq"):
        if all(cand.lower() not in h for h in lowered):
            return cand
    raise RuntimeError("no absent query found")


def prose_texts(corpus: dict[str, str], size: dict) -> list[Text]:
    scripts = corpora.scripts()
    return [
        Text(f"prose-{name}", "prose", scripts[name], tile(text, size["prose"]),
             "Debian installation guide")
        for name, text in corpus.items()
    ]


def _huge_vocabulary(nbytes: int) -> str:
    # Distinct 6-letter words: i * an odd multiplier that is prime to 13 is a
    # permutation of 0 .. 26**6 - 1, so every word differs. Built in chunks
    # into one buffer, so that no big temporary list outlives the build.
    letters = "abcdefghijklmnopqrstuvwxyz"
    modulus = 26**6
    buf = bytearray()
    count = nbytes // 7 + 1
    for lo in range(0, count, 65536):
        words = []
        for i in range(lo, min(count, lo + 65536)):
            v = (i * 2654435761) % modulus
            w = []
            for _ in range(6):
                v, r = divmod(v, 26)
                w.append(letters[r])
            words.append("".join(w))
        buf += (" ".join(words) + " ").encode("ascii")
    text = buf.decode("ascii")
    del buf
    return text


def _tiny_words(nbytes: int) -> str:
    rng = random.Random(7)
    pool = ["a", "I", "x", "of", "to", "in", "is", "it", "an", "be", "on", "we", "At", "No"]
    unit = " ".join(rng.choice(pool) for _ in range(5000)) + "\n"
    return repeat_to(unit, nbytes)


def _white_space(nbytes: int) -> str:
    rng = random.Random(11)
    unit = "".join(rng.choice("    \t\n\r") for _ in range(8192))
    return repeat_to(unit, nbytes)


def synthetic_texts(corpus: dict[str, str], size: dict) -> list[Text]:
    n = size["synthetic"]
    en_no_space = "".join(corpus["en"].split())
    return [
        Text("huge-vocabulary", "synthetic", "Latin", _huge_vocabulary(n),
             f"{n // 7:,} distinct 6-letter words"),
        Text("tiny-words", "synthetic", "Latin", _tiny_words(n),
             "1-2 letter words only (all below 3 bytes)"),
        Text("white-space", "synthetic", "-", _white_space(n),
             "spaces, tabs, CR and LF only"),
        Text("giant-word", "synthetic", "Latin", repeat_to(en_no_space, n),
             "English prose with its white space removed: one word"),
        Text("greek-capitals", "synthetic", "Greek", tile(corpus["el"].upper(), n),
             "Greek prose in capitals (final sigma everywhere)"),
    ]


def mixed_unit(corpus: dict[str, str]) -> str:
    return "\n".join(corpus.values()) + "\n"


def big_text(corpus: dict[str, str], nbytes: int, which: str = "mixed") -> Text:
    if which == "mixed":
        text, script, note = repeat_to(mixed_unit(corpus), nbytes), "all", "all six corpora, repeated"
    elif which == "ascii":
        text, script, note = (repeat_to(ascii_only(corpus["en"]), nbytes), "ASCII",
                              "English prose, ASCII only, repeated")
    elif which == "huge-vocabulary":
        text, script, note = _huge_vocabulary(nbytes), "Latin", "distinct 6-letter words"
    else:
        raise ValueError(which)
    return Text(f"{which}-{round(utf8_len(text) / 1e6)}MB", "big", script, text, note)


def _insert_middle(body: str, word: str) -> str:
    """``body`` with `` word `` put in at the white space nearest its middle
    (or at the middle itself in text without white space)."""
    mid = len(body) // 2
    space = body.find(" ", mid, mid + 200)
    at = space if space >= 0 else mid
    return body[:at] + " " + word + " " + body[at:]


def score_inputs(corpus: dict[str, str], size: dict) -> list[ScoreInput]:
    """Large bodies: the query is a word of the script, reversed so that it
    occurs nowhere ("absent"), or the same query put in once at the middle of
    the body ("present": its first and only match is halfway in)."""
    scripts = corpora.scripts()
    rng = random.Random(3)
    bodies = {f"prose-{name}": (scripts[name], text) for name, text in corpus.items()}
    bodies["ascii-en"] = ("ASCII", ascii_only(corpus["en"]))
    out = []
    for name, (script, text) in bodies.items():
        body = tile(text, size["prose"])
        title = _title_line(text, rng)
        word = _word_at(body, len(body) // 2)
        query = _absent_query(word, title, body)
        # The query in title case: lowercasing has something to do.
        query = query[0].upper() + query[1:]
        out.append(ScoreInput(f"{name} query absent", script, Article(title, body, query)))
        out.append(ScoreInput(f"{name} query present", script,
                              Article(title, _insert_middle(body, query), query),
                              "one match, halfway into the body"))
    return out


def article_pools(corpus: dict[str, str], size: dict) -> list[ArticlePool]:
    """Short articles: a title of about 60 bytes, a body of about 2 KB and a
    query of about 10 bytes; a quarter of the queries start the title, a
    quarter occur in the body only, half occur nowhere."""
    scripts = corpora.scripts()
    pools = []
    for name, text in corpus.items():
        rng = random.Random(name)
        arts = []
        for i in range(size["articles"]):
            title = _cut(_title_line(text, rng, 50, 70), 0, 60)
            body = _cut(text, rng.randrange(len(text)), 2000)
            kind = i % 4
            if kind == 0:
                query = _word_at(title, 0)
                title = title[title.find(query):] if query in title else title
            elif kind == 1:
                query = _word_at(body, rng.randrange(len(body)))
            else:
                query = _absent_query(_word_at(body, rng.randrange(len(body))), title, body)
            arts.append(Article(title, body, query))
        pools.append(ArticlePool(f"short-{name}", scripts[name], arts))
    ascii_text = ascii_only(corpus["en"])
    rng = random.Random("ascii")
    arts = []
    for i in range(size["articles"]):
        title = _cut(_title_line(ascii_text, rng, 50, 70), 0, 60)
        body = _cut(ascii_text, rng.randrange(len(ascii_text)), 2000)
        query = _word_at(body, rng.randrange(len(body)))
        if i % 2:
            query = _absent_query(query, title, body)
        arts.append(Article(title, body, query))
    pools.append(ArticlePool("short-ascii", "ASCII", arts))
    return pools


# One character of each form CPython keeps a str in, and another of the same
# form for the query's middle.
PERIODIC_CHARS = {
    "ASCII": ("a", "b"),
    "Latin-1": ("\u00e9", "\u00ea"),
    "UCS-2": ("\u0436", "\u0437"),
    "UCS-4": ("\U00010428", "\U00010429"),
}
PERIODIC_QUERY_LENGTHS = (3, 64, 20_000, 200_000)


def periodic_inputs(size: dict) -> list[ScoreInput]:
    """The worst case of a naive substring search: a body of one character
    repeated, and a query of that character with one other character in
    its middle, which occurs nowhere but almost matches everywhere."""
    n = size["periodic"]
    out = []
    for form, (char, other) in PERIODIC_CHARS.items():
        body = char * n
        for m in PERIODIC_QUERY_LENGTHS:
            query = char * (m // 2) + other + char * (m - m // 2 - 1)
            out.append(ScoreInput(f"periodic {form} query {m:,}", form, Article("t", body, query),
                                  f"{n:,} characters; the query occurs nowhere"))
    return out
