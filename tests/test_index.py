"""ArticleIndex against rank_articles and score_many, which define its
results, through every path of its life (built, added to, saved, loaded,
saved again), and its file: every kind of damage is refused by name, a
failed save leaves the old file and nothing else."""

import os
import random
import re
import signal
import subprocess
import sys
from collections import UserDict
from typing import NamedTuple

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st
from strategies import articles, documents

from parvenkel import ArticleIndex, rank_articles, score_many

ID_TEXTS = ["", "a.jsonl:1", "\u4e2d-7", "\U0001f600 x", "\u039f\u0394\u039f\u03a3"]


@st.composite
def shared_articles(draw):
    """(title, content, query) of words that many articles share, so that a
    query matches the titles of several and the contents of more; the query
    a piece of one to three characters (1 to 6 bytes) of the article."""
    title = draw(documents(4))
    content = draw(documents(12))
    source = draw(st.sampled_from([title, content]))
    start = draw(st.integers(0, len(source)))
    return title, content, source[start : start + draw(st.integers(1, 3))]


@settings(max_examples=150, deadline=None)
@given(
    items=st.lists(st.one_of(articles(), shared_articles()), max_size=25),
    extra=st.lists(st.integers(0, 24), max_size=5),
    cut=st.integers(0, 25),
    top_n=st.sampled_from([None, 0, 1, 3, 40]),
    workers=st.sampled_from([1, 2]),
)
def test_same_results_as_the_scan(tmp_path_factory, items, extra, cut, top_n, workers):
    # The best few are found titles first, then contents in position order
    # until enough, over the loaded segment and then the added one: every
    # cut of those, and queries of every length around the trigram's.
    pairs = [(title, content) for title, content, _ in items]
    queries = [query for _, _, query in items] + ["", "\u0130", "\u03a3", "\u03c2 ", "the", "\u4e2d", "ma"]
    queries += [pairs[k % len(pairs)][0][:3] for k in extra if pairs]
    # Built in two steps, the first saved and loaded again in between.
    index = ArticleIndex(pairs[:cut], workers=workers)
    path = tmp_path_factory.mktemp("index") / "articles.idx"
    index.save(path)
    loaded = ArticleIndex.load(path)
    index.add(pairs[cut:])
    loaded.add([{"title": title, "content": content} for title, content in pairs[cut:]])
    for built in (index, loaded):
        assert len(built) == len(pairs)
        for query in queries:
            assert built.scores(query) == score_many(pairs, query)
            for include_zero in (False, True):
                expected = rank_articles(pairs, query, top_n, include_zero=include_zero)
                assert built.rank(query, top_n, include_zero=include_zero) == expected
        for include_zero in (False, True):
            one_by_one = [built.rank(query, top_n, include_zero=include_zero) for query in queries]
            assert built.rank_many(iter(queries), top_n, include_zero=include_zero, workers=workers) == one_by_one


@settings(max_examples=80, deadline=None)
@given(
    items=st.lists(articles(), max_size=20),
    steps=st.lists(st.tuples(st.sampled_from(["add", "save"]), st.integers(0, 8), st.integers(0, 3)), max_size=7),
    top_n=st.sampled_from([None, 2]),
)
def test_every_lifecycle_answers_as_the_scan(tmp_path_factory, items, steps, top_n):
    # Any sequence of adds (ids given each way, or none) and of saves, each
    # followed by a load: a loaded index saved again, with or without
    # articles added since, keeps every article, score and id.
    pairs = [(title, content) for title, content, _ in items]
    ids = [None if k % 4 == 3 else f"{ID_TEXTS[k % len(ID_TEXTS)]}{k}" for k in range(len(pairs))]
    stored = [(t, c) if i is None else (t, c, i) for (t, c), i in zip(pairs, ids)]
    queries = [query for _, _, query in items][:6] + ["", "\u03a3", "zz"]
    path = tmp_path_factory.mktemp("index") / "articles.idx"
    index = ArticleIndex()
    held = 0
    for action, count, form in steps + [("add", len(pairs), 0), ("save", 0, 0)]:
        if action == "save":
            index.save(path)
            index = ArticleIndex.load(path)
        else:
            chunk = slice(held, min(len(pairs), held + count))
            if form == 0:
                index.add(pairs[chunk], ids=ids[chunk], workers=2)
            elif form == 1:
                index.add([{"title": t, "content": c, "id": i} for (t, c), i in zip(pairs[chunk], ids[chunk])])
            elif form == 2:
                index.add(stored[chunk])
            else:  # without ids
                index.add([list(p) for p in pairs[chunk]])
                stored[chunk] = pairs[chunk]
            held = min(len(pairs), held + count)
        assert len(index) == held
        assert [index.article(k) for k in range(held)] == stored[:held]
        for query in queries:
            assert index.scores(query) == score_many(pairs[:held], query)
            for include_zero in (False, True):
                expected = [
                    (score, k, stored[k])
                    for score, k, _ in rank_articles(pairs[:held], query, top_n, include_zero=include_zero)
                ]
                assert index.rank(query, top_n, include_zero=include_zero) == expected


# Titles that have some of the query's trigrams but not the query, before
# articles whose content has it: the contents' lists leave out the articles
# whose title has the trigram, and must not lose them for a longer query.
@pytest.mark.parametrize(
    ("pairs", "query"),
    [
        ([("xabc", "abcd"), ("q", "x"), ("bcd abc", "zabcd"), ("abcd", "abcd"), ("r", "abcd")], "abcd"),
        ([("\u03c3\u03bf\u03c6", "\u03c3\u03bf\u03c6\u03af\u03b1"), ("y", "\u03a3\u03bf\u03c6\u03af\u03b1"), ("\u03c6\u03af\u03b1", "y")], "\u03c3\u03bf\u03c6\u03af"),
        ([("the", "the"), ("th", "the"), ("x the", "y"), ("he", "the end")], "the"),
    ],
)
def test_titles_with_some_of_the_trigrams(tmp_path, pairs, query):
    index = ArticleIndex(pairs[:2])
    index.save(tmp_path / "articles.idx")
    loaded = ArticleIndex.load(tmp_path / "articles.idx")
    for built in (index, loaded):
        built.add(pairs[2:])
        assert built.scores(query) == score_many(pairs, query)
        for top_n in (1, 2, 3):
            assert built.rank(query, top_n) == rank_articles(pairs, query, top_n), top_n


# Ranges of one UTF-8 length each (Latin-1 apart from ASCII): a str's
# width is that of its widest character.
WIDTH_RANGES = [(0x20, 0x7E), (0xA0, 0xFF), (0x100, 0x7FF), (0x800, 0xD7FF), (0xE000, 0xFFFF), (0x10000, 0x10FFFF)]


@st.composite
def runs_of_widths(draw):
    """A text of runs of characters of one range each, from the ranges up to
    a widest one: long runs fill whole blocks of the decoder with one
    length, short ones mix lengths inside its windows."""
    widest = draw(st.integers(0, len(WIDTH_RANGES) - 1))
    runs = draw(st.lists(st.tuples(st.integers(0, widest), st.integers(1, 120)), max_size=8))
    return "".join(
        "".join(chr(draw(st.integers(*WIDTH_RANGES[r]))) for _ in range(n)) for r, n in runs
    )


# The size of a str of each width without a UTF-8 copy, less its units
# (and the ending 0): made by repetition, which keeps none.
_BASES = {w: sys.getsizeof(chr(c) * 3) - 4 * w for w, c in ((1, 0xE9), (2, 0x100), (4, 0x10000))}
_ASCII_BASE = sys.getsizeof("a" * 3) - 4


def narrowest_size(s: str) -> int:
    """The size of a new str of ``s`` in the narrowest form its characters
    allow (ASCII, then one, two or four bytes a character)."""
    top = max(map(ord, s), default=0)
    if top < 0x80:
        return _ASCII_BASE + len(s) + 1
    width = 1 if top < 0x100 else 2 if top < 0x10000 else 4
    return _BASES[width] + (len(s) + 1) * width


@settings(max_examples=60, deadline=None)
@given(texts=st.lists(runs_of_widths(), min_size=1, max_size=6))
def test_articles_come_back_whole_at_every_width(tmp_path_factory, texts):
    """Every article comes back as it went in, from ``article``, ``rank``
    and ``rank_many`` on two threads, whose batch of strs (over 64 kB) is
    made with the interpreter released, of an index built and of one
    loaded (whose strs' shapes are counted as its text is checked). Only
    the contents hold the query, U+001F. Each str is in the interpreter's
    own form, of the narrowest width its characters allow, as one it
    decodes itself: its size tells."""
    articles = [
        (text[: k % 50], (text + "\x1f") * (1 + 6000 // (len(text) + 1))) for k, text in enumerate(texts * 12)
    ]
    path = tmp_path_factory.mktemp("index") / "articles.idx"
    ArticleIndex(articles).save(path)
    for index in (ArticleIndex(articles), ArticleIndex.load(path)):
        given = [index.article(k) for k in range(len(articles))]
        assert given == articles
        assert all(sys.getsizeof(s) == narrowest_size(s) for a in given for s in a)
        assert sorted(index.rank("\x1f"), key=lambda row: row.position) == [
            (100.0, k, article) for k, article in enumerate(articles)
        ]
        for rows in index.rank_many(["\x1f", "\x1f"], workers=2):
            assert {row.position: row.article for row in rows} == dict(enumerate(articles))
            assert all(sys.getsizeof(s) == narrowest_size(s) for row in rows for s in row.article)


def test_long_lists_built_in_steps(tmp_path):
    # Lists far longer than what building holds of a list at a time, and
    # differences of one to three bytes (articles up to 17,000 apart).
    words = ["Market", "\u03a3\u03bf\u03c6\u03af\u03b1", "\u4e2d\u6587\u5b57", "the", "\u039f\u0394\u039f\u03a3", "zz"]
    pairs = []
    for k in range(36_000):
        content = " ".join(w for j, w in enumerate(words) if k % (j + 2) == 0)
        pairs.append((f"{words[k % 6]} {k}", content + " qqq" * (k % 17_000 == 5)))
    queries = ["market", "qqq", "\u03c3\u03bf\u03c6", "\u4e2d\u6587", "the 1", "zz 7", "\u03bf\u03b4\u03bf\u03c2", "ar"]
    index = ArticleIndex(pairs[:7_000])
    index.save(tmp_path / "articles.idx")
    loaded = ArticleIndex.load(tmp_path / "articles.idx")
    for built in (index, loaded):
        built.add(pairs[7_000:20_000], workers=2)
        built.add(pairs[20_000:])
    # A file's lists are packed in blocks of 128 numbers and the numbers
    # left over: a save of a loaded index with articles added goes on from
    # the numbers after its last whole block.
    loaded.save(tmp_path / "again.idx")
    again = ArticleIndex.load(tmp_path / "again.idx")
    again.add(pairs[:333])
    again.save(tmp_path / "again.idx")
    for built in (index, loaded, ArticleIndex(pairs, workers=2), ArticleIndex.load(tmp_path / "again.idx")):
        for query in queries:
            assert built.scores(query)[: len(pairs)] == score_many(pairs, query), query
    for query in queries:
        assert ArticleIndex.load(tmp_path / "again.idx").scores(query)[len(pairs) :] == score_many(pairs[:333], query)


@pytest.mark.parametrize(("seed", "cut"), [(1, 0), (2, 900), (3, 2_999), (4, 1_700)])
def test_best_few_from_long_lists_read_as_needed(tmp_path, seed, cut):
    # Lists of a few hundred to thousands of articles, most of which hold
    # every gram of a query but not the query: the best few are found by
    # reading the lists only as far as needed, in step, through the segment
    # loaded and then the one added after it.
    rng = random.Random(seed)
    pieces = ["abcx", "xbcd", "abcd", "\u03c3\u03bf\u03c6x", "x\u03bf\u03c6\u03af", "\u03c3\u03bf\u03c6\u03af", "\u4e2d\u6587", "\u6587\u5b57", "q"]
    weights = [30, 30, 1, 30, 30, 1, 20, 20, 40]

    def text(words):
        return " ".join(rng.choices(pieces, weights, k=words))

    pairs = [(text(rng.choice([1, 3])), text(rng.randint(0, 40))) for _ in range(3_000)]
    index = ArticleIndex(pairs[:cut])
    index.save(tmp_path / "articles.idx")
    loaded = ArticleIndex.load(tmp_path / "articles.idx")
    loaded.add(pairs[cut:])
    # The walk takes candidates a few ahead of the one it tests: queries of
    # 3 bytes, whose lists are exact, and full answers go through it too.
    for query in ["abcd", "bcd abc", "\u03c3\u03bf\u03c6\u03af", "\u4e2d\u6587\u5b57", "abcx xbcd", "q abcd", "bcd", "\u6587"]:
        for top_n in (1, 10, 200, None):
            expected = rank_articles(pairs, query, top_n)
            assert loaded.rank(query, top_n) == expected, (query, top_n)
        many = [loaded.rank(query, top_n) for top_n in (1, 10, 200)]
        assert loaded.rank_many([query] * 3, 10, workers=2) == [many[1]] * 3


class Pair(NamedTuple):
    title: str
    content: str


def test_every_article_shape_of_rank_articles_is_taken():
    shapes = [Pair("Market news", "the market"), ["Markets", "\u039f\u0394\u039f\u03a3"], {"title": "x", "content": "market"}, UserDict(title="M", content="market"), ("market", "")]
    index = ArticleIndex(shapes)
    expected = [(title, content) for title, content in [tuple(shapes[0]), tuple(shapes[1]), ("x", "market"), ("M", "market"), shapes[4]]]
    assert [index.article(k) for k in range(len(index))] == expected
    assert all(type(index.article(k)) is tuple for k in range(len(index)))
    ranked = index.rank("market", include_zero=True)
    assert [(row.score, row.position) for row in ranked] == [(row.score, row.position) for row in rank_articles(shapes, "market", include_zero=True)]
    assert [row.article for row in ranked] == [expected[row.position] for row in ranked]


# Argument errors of each method; a failing call changes nothing.
ARGUMENT_ERRORS = [
    (lambda index: index.add([("t", "c"), ("t", 1)]), TypeError, "argument 'content' of article 1: 'int' object is not an instance of 'str'"),
    (lambda index: index.add([("t", "\ud800")]), UnicodeEncodeError, "surrogates not allowed"),
    (lambda index: index.add([{"title": "t"}]), TypeError, "article 0 is a 'dict' object without 'content', not a (title, content) pair or a mapping with 'title' and 'content'"),
    (lambda index: index.add([("t", "c", "x", "y")]), TypeError, "article 0 is a 'tuple' object, not a (title, content) pair"),
    (lambda index: index.add("tc"), TypeError, "articles must be an iterable of articles, not a 'str'"),
    (lambda index: index.add(5), TypeError, "articles must be an iterable, not 'int'"),
    (lambda index: index.add([("t", "c")], workers=-(2**70)), ValueError, "workers must be a positive int, or -1 for every core"),
    (lambda index: index.add([("t", "c")], workers=-2), ValueError, "workers must be a positive int, or -1 for every core"),
    (lambda index: index.add([("t", "c")], workers="2"), TypeError, "workers must be an int, not 'str'"),
    (lambda index: index.rank(b"q"), TypeError, "query must be a str, not 'bytes'"),
    (lambda index: index.rank("q", -1), ValueError, "top_n must not be negative"),
    (lambda index: index.rank("q", 1.0), TypeError, "top_n must be an int or None, not 'float'"),
    (lambda index: index.scores(None), TypeError, "query must be a str, not 'NoneType'"),
    (lambda index: index.rank_many("q"), TypeError, "queries must be an iterable of str, not a 'str'"),
    (lambda index: index.rank_many(b"q"), TypeError, "queries must be an iterable of str, not a 'bytes'"),
    (lambda index: index.rank_many(5), TypeError, "queries must be an iterable of str, not 'int'"),
    (lambda index: index.rank_many(["q", b"q"]), TypeError, "query 1 must be a str, not 'bytes'"),
    (lambda index: index.rank_many(["q", "m", "\udc00"]), UnicodeEncodeError, "surrogates not allowed"),
    (lambda index: index.rank_many(failing_queries()), TypeError, "raised while iterating"),
    (lambda index: index.rank_many(["q"], -1), ValueError, "top_n must not be negative"),
    (lambda index: index.rank_many(["q"], 1.0), TypeError, "top_n must be an int or None, not 'float'"),
    (lambda index: index.rank_many(["q"], workers=0), ValueError, "workers must be a positive int, or -1 for every core"),
    (lambda index: index.rank_many(["q"], workers=None), TypeError, "workers must be an int, not 'NoneType'"),
    (lambda index: index._native.rank_many(["q"], row_type=list), TypeError, "row_type must be a tuple subclass without fields of its own"),
    (lambda index: index._native.rank_many(["q"], 1, 2), TypeError, "rank_many() takes from 1 to 2 positional arguments but 3 were given"),
    (lambda index: index._native.rank_many(), TypeError, "rank_many() missing 1 required positional argument: 'queries'"),
    (lambda index: index.scores("\udc00"), UnicodeEncodeError, "surrogates not allowed"),
    (lambda index: index.article(1), IndexError, "article position out of range"),
    (lambda index: index.article(-1), IndexError, "article position out of range"),
    (lambda index: index.article(2**70), IndexError, "cannot fit 'int' into an index-sized integer"),
    (lambda index: index.article("0"), TypeError, "'str' object cannot be interpreted as an integer"),
    (lambda index: index._native.rank("q", row_type=list), TypeError, "row_type must be a tuple subclass without fields of its own"),
    (lambda index: index._native.rank("q", 1, 2), TypeError, "rank() takes from 1 to 2 positional arguments but 3 were given"),
    (lambda index: index._native.add(), TypeError, "add() missing 1 required positional argument: 'articles'"),
    (lambda index: index._native.add([], worker=2), TypeError, "add() got an unexpected keyword argument 'worker'"),
]


def failing_queries():
    yield "market"
    raise TypeError("raised while iterating")


@pytest.mark.parametrize(("call", "error", "message"), ARGUMENT_ERRORS)
def test_argument_errors(call, error, message):
    index = ArticleIndex([("Market", "news")])
    with pytest.raises(error, match=re.escape(message)):
        call(index)
    assert len(index) == 1 and index.article(0) == ("Market", "news")
    assert index.rank("market") == rank_articles([("Market", "news")], "market")


# A file of the first format (no ids), as its save wrote it for these two
# articles; zlib-compressed, base64.
V1_ARTICLES = [("Market news", "the market"), ("\u039f\u0394\u039f\u03a3", "zz")]
V1_FILE = (
    "eNoLCPP29HNxjWBkYGBwAGImBgiwg9LCaLTd8pWPP/c7MjzLtFq9SVI1ghsqLgqlFaC0FpQ2gtImUNoGzXzfxKLs1BKFvNTy"
    "4pKMVIVcMDcXm+C5+eemAPHiqqpz+89tObf/fFNVFQNDYq4CAyMDJkjNQxWHsbOLElHEYf7NVUhFEWeG+acEVZwFSheXo4qz"
    "wtSnZqCIs0HpktRsFHF2KF2UmIsizgGly1PzUMQ5Yf7KLkIR54LSeQolKOKweEnNQBXngdLAIASLw+R4oTQwYFHE+aB003lU"
    "cX4oDYwJFHEBmPh+VHFBKH0eTVwIS9wxMIIBAH8wRvU="
)


def test_a_file_of_the_first_format_loads_and_is_saved_in_the_current_one(tmp_path):
    import base64
    import zlib

    path = tmp_path / "v1.idx"
    path.write_bytes(zlib.decompress(base64.b64decode(V1_FILE)))
    assert path.read_bytes()[8] == 1
    old = ArticleIndex.load(path)
    old.add([("Market zz", "\u03bf\u03b4\u03bf\u03c2", "new")])
    pairs = V1_ARTICLES + [("Market zz", "\u03bf\u03b4\u03bf\u03c2")]
    old.save(path)
    assert path.read_bytes()[8] == 4
    for index in (old, ArticleIndex.load(path)):
        assert [index.article(k) for k in range(3)] == V1_ARTICLES + [("Market zz", "\u03bf\u03b4\u03bf\u03c2", "new")]
        for query in ("market", "zz", "\u03bf\u03b4\u03bf\u03c3", "ma"):
            assert index.scores(query) == score_many(pairs, query)


# A file of the second format (one list a trigram for both fields), as its
# save wrote it for these articles, the last added after the others;
# zlib-compressed, base64. Its lists are a superset of each field's.
V2_ARTICLES = [("Market news", "the market"), ("\u039f\u0394\u039f\u03a3 zz", "zz \u03c3\u03b1 market", "b"), ("The end", "Market\u4e2d\u6587"), ("ab", "thethe")]
V2_FILE = (
    "eNptlEFLG0EUx3cnrVBb26IoWFCmrbVaa9Q2vXi1HqQ05FCkBy8bMxAIu4VkSCBewiYQkPYikmsP7TWHgIeczCfo7pcIOfoZHGf/L+SlDrv8dn7z9s2bnd3NHX85yn4+/C4cx8mZ84GTtAtwA8yArsNbqlqT1xn9d/9X6+b4LP3vMfwiKMF34CfwAMyCJ+Ap+AOsgiHYAs/Bn1P1ojVcXi/1G1+9cklpGahaRReV9G3Xv09Gv6NLc/6RddNk3Ix6NDCIrqJBHP438M3cq4JCMsWw3x112jpR/oTy8kaag5gUlke9gZK2ZjH1nD1fWje1LkcFku1JCjSVWU9jtK/NmPuHYKns2Xtp3hnKLxWr5xHow1ObBQsBj6f3QWoe/wQswlPdc+BQ8zxPwUqN53lG+VXRxlL8c1AbP5l/fuxLbL0LYNnzmV8Caypg8y7T8ymVWfwL2kepWfwKxRe1jad6VsH+ULP1vgRjWWf79YrWW+f+Ne27DJlfA3tRk/k3YGfUZfOuj/e3x+LfgubdZ57+D6Nun+XZBM2XwuLpPxDG3G/RunoR8+9B88kxv01+wH2antuU36H8Ycz8LuVpcr8HdvtDtq4PYLszYv4jKIx17w5hLlNmVKSSvmNP4QrXNOEmtNfiFne1mFE="
)
V2_QUERIES = ["market", "the", "zz", "\u03c3", "\u03c3\u03b1", "\u4e2d", "mar", "end", "th", "e", "\u03bf\u03b4\u03bf\u03c3"]


V2_ADDED = [("Themarket", "the end", "new"), ("zz", "The market \u03c3")]


# A file of the third format (lists of trigrams of bytes, each field
# apart), as its save wrote it for these articles, the last added after the
# others; zlib-compressed, base64. Articles added to it are listed by grams
# of characters: a query then reads lists of both kinds, and a save makes
# the old articles' lists again.
V3_ARTICLES = [
    ("Gr\u00f6\u00dfe und Ma\u00dfe", "die gr\u00f6\u00dfe der bilder", "a"),
    ("\u0418\u0437\u043e\u0431\u0440\u0430\u0436\u0435\u043d\u0438\u044f", "\u0440\u0430\u0437\u043c\u0435\u0440 \u0438\u0437\u043e\u0431\u0440\u0430\u0436\u0435\u043d\u0438\u044f", "b"),
    ("\u30ec\u30a4\u30e4\u30fc", "\u753b\u50cf\u306e\u30ec\u30a4\u30e4\u30fc\u3092\u4f7f\u7528"),
    ("\u03c3\u03ba\u03bf\u03c0\u03cc\u03c2", "\u039f \u03a3\u039a\u039f\u03a0\u039f\u03a3 the end \U0001f600x", "d"),
]
V3_FILE = (
    "eNqNlslvG1Ucx2dh3ymFlrK9lrXs+1IoBboRSttASymlLDYztQ22AZNIPaHJzIFLJEuRDxYSGqTm0EMUJQcvSmwPkq/VzPO/"
    "wCSy4JQTR8TE/v0e/poideTRx/74Oz+/N+/Ne548dWTi2IGDp01N0yaT8ypteJzTh/xeQ5oaHn90tmz/u7/th+Nnd0Rnft/z"
    "4+3kHyW+SjxGtIg/EX8h/ka8RPyT+BdxK7VHEPcSJ3RsL0EzkA63+3CpW+/6tpguWuJoKnln5WyRIWnZJZHO5RNkRmKF/4/J"
    "qmzIjlzuOXJJ1mVNtmWzVx58asiWrPUcIZuXi1zeXsGFsbcQu/Oxl7xa/crquleOZxZHZezOrbWDfuXilScjL1wJg8iJZiM3"
    "9EV4Ifw59MNfk/OCmMrawk5uwoZfdc5DMBD8MTldDGpaKj0c6VRBqDEZPYrT6Pm9302B53EsCAs8j+e0sMHz/O2WMuCvZp8q"
    "gL+GKKwi+GuJ9W4J/HU8j4vT4K8nzkbOwHP7biAuyaHna24kxvPuwHE/b1LeA38z+wX0txBXQg9+91aiG82Cv437a/vQfn5u"
    "vXge6m/hOvEC+Dv4/sgl6NdWotNbBn8nsS1r4O9S416H9mwj1mQd8tuJHdkAfzexIZvgdxDLPfT3EINwBe7PvcSmbEP+PuKy"
    "7IC/n/sbBVDnAaLtd6FfgudhHf1OYvJEQZ1dxChA/yB7JwL/ENfx0D/M+Vn0jxCTNQb6xet3bxn9Y5yvod/Nvo7+cfYN9E+w"
    "b6J/kn93zD/F+Tb6p9l30D/D3umBf5Y478Ywn59j76F/nrgw5l8gtsb8i8RcWuij4/sSzwcL/cu8HtpDz+PyCrGUwTzvp9kp"
    "zL/Gz2+Efo+az0PPtV7n524D828Q87k0/O5e4oawIP8mt9O2IL+P+5tD/xavn8IG/zbnyXP9d4iZsfx+tQ5j/gA/ZyXMH1Tr"
    "Xhbyh5TPQf4w18+jf1eNYx78xL/7CNR/j5gWJcgf4TrZKci/z/NWODBeR9V65UCe/1fFizP66Dw8TpwSLuQniWtzLuQ/4Dpl"
    "D/yH7FvoTxBn4jL4k7zOr82B/4i4vloBf4p43qlCOz/mdbXqgz+t9qlFqPOJWv+X4L6dUftRDfyn/PzKBvizXH99Fep/pvaj"
    "FuQ/V/tjC/JfEPtBG/yXvA6LAPqVUvs1+jSx0g+gzlc834IQ8vz/OnQi8DbnXfTneL2tSehXhudhC32W6zg98Dni4kwM7fya"
    "OOei/4bnc3sNfJ73a28dfIF4sdIHXySujvlviVV/A/r73X/+iZq6YRimqRmGniSTUzeTV+I3D10dScjYLJM4c1DN1BR10zCN"
    "wWGam1UMffBueD198Q92mdzi"
)
V3_ADDED = [
    ("gr\u00f6\u00dfe", "\u753b\u50cf \u0438\u0437\u043e\u0431\u0440\u0430\u0436\u0435\u043d\u0438\u044f", "e"),
    ("\u0421\u041a\u041e\u041f\u041e", "\u03c3\u03ba\u03bf\u03c0\u03cc\u03c2 \u30ec\u30a4\u30e4\u30fc \U0001f600"),
]
V3_QUERIES = [
    "gr\u00f6\u00dfe", "\u00f6\u00df", "\u00dfe", "\u0438\u0437\u043e\u0431\u0440", "\u0437\u043e", "\u30ec\u30a4\u30e4", "\u30a4", "\u753b\u50cf",
    "\u03c3\u03ba\u03bf\u03c0\u03cc", "\u03c3\u03ba", "\u03c2", "\U0001f600", "\U0001f600x", "end", "the", "e",
]


OLD_FILES = {2: (V2_FILE, V2_ARTICLES, V2_ADDED, V2_QUERIES), 3: (V3_FILE, V3_ARTICLES, V3_ADDED, V3_QUERIES)}


@pytest.mark.parametrize("version", sorted(OLD_FILES))
def test_a_file_of_an_older_format_answers_exactly_and_is_saved_in_the_current_one(tmp_path, version):
    import base64
    import zlib

    data, articles, added, queries = OLD_FILES[version]
    path = tmp_path / "old.idx"
    path.write_bytes(zlib.decompress(base64.b64decode(data)))
    assert path.read_bytes()[8] == version
    old = ArticleIndex.load(path)
    old.add(added)
    stored = articles + added
    pairs = [(t, c) for t, c, *_ in stored]
    old.save(tmp_path / "new.idx")
    assert (tmp_path / "new.idx").read_bytes()[8] == 4
    # The file alone, with articles added (lists of both kinds), and saved.
    for index in (ArticleIndex.load(path), old, ArticleIndex.load(tmp_path / "new.idx")):
        held = pairs[: len(index)]
        assert [index.article(k) for k in range(len(index))] == [tuple(a) for a in stored[: len(index)]]
        for query in queries:
            assert index.scores(query) == score_many(held, query)
            for top_n in (None, 1, 2, 3):
                assert [(r.score, r.position) for r in index.rank(query, top_n)] == [
                    (r.score, r.position) for r in rank_articles(held, query, top_n)
                ], (query, top_n)


def damaged(data, kind):
    if kind == "truncated":
        return data[:-5]
    if kind == "shorter than the header":
        return data[:20]
    if kind == "trailing bytes":
        return data + b"\0"
    if kind == "body bit":
        return data[:-3] + bytes([data[-3] ^ 0x10]) + data[-2:]
    if kind == "header bit":
        return data[:17] + bytes([data[17] ^ 1]) + data[18:]
    if kind == "version":
        return data[:8] + (99).to_bytes(4, "little") + data[12:]
    if kind == "foreign":
        return b"SQLite format 3\0" + data[16:]
    return b""


@pytest.mark.parametrize(
    ("kind", "message"),
    [
        ("truncated", r"truncated: \d+ bytes of \d+"),
        ("shorter than the header", "truncated: 20 bytes, shorter than the header"),
        ("trailing bytes", "1 bytes of unknown data after the index"),
        ("body bit", r"damaged \(checksum mismatch\)"),
        ("header bit", r"damaged header \(checksum mismatch\)"),
        ("version", r"unsupported format version 99 \(this version of parvenkel reads versions 1 to 4\)"),
        ("foreign", r"not a parvenkel article index \(wrong magic number\)"),
        ("empty", r"not a parvenkel article index \(0 bytes\)"),
    ],
)
def test_a_damaged_file_is_refused_by_name(tmp_path, kind, message):
    path = tmp_path / "articles.idx"
    ArticleIndex([("Market news", "the market"), ("\u039f\u0394\u039f\u03a3", "")]).save(path)
    path.write_bytes(damaged(path.read_bytes(), kind))
    with pytest.raises(ValueError, match=f"^article index file '{path}': {message}$"):
        ArticleIndex.load(path)


NOT_A_FILE_LOAD = """
import sys
from parvenkel import ArticleIndex
try:
    ArticleIndex.load(sys.argv[1])
except ValueError as error:
    print(error)
"""


@pytest.mark.parametrize("kind", ["folder", "named pipe", "device"])
def test_what_is_not_a_file_is_refused_by_name(tmp_path, kind):
    # A named pipe with no writer is refused at once, not waited on: in a
    # process of its own, so that a wait fails this test, not the run.
    path = {"folder": tmp_path, "named pipe": tmp_path / "pipe", "device": "/dev/null"}[kind]
    if kind == "named pipe":
        os.mkfifo(path)
    run = subprocess.run([sys.executable, "-c", NOT_A_FILE_LOAD, path], capture_output=True, text=True, timeout=60)
    assert run.stdout == f"article index file '{path}': not a regular file\n"


# Python ignores SIGXFSZ: a write past the limit fails with EFBIG. With
# the default action the process is killed in the middle of the write.
CRASHING_SAVE = """
import resource, signal, sys
signal.signal(signal.SIGXFSZ, getattr(signal, sys.argv[2]))
from parvenkel import ArticleIndex
index = ArticleIndex([("t%d" % k, "some text %d" % k) for k in range(20000)])
resource.setrlimit(resource.RLIMIT_FSIZE, (100_000, 100_000))
index.save(sys.argv[1])
"""


@pytest.mark.parametrize("killed", [True, False])
def test_a_save_that_fails_half_way_leaves_the_old_file(tmp_path, killed):
    path = tmp_path / "articles.idx"
    old = ArticleIndex([("Market", "old")])
    old.save(path)
    before = path.read_bytes()
    action = "SIG_DFL" if killed else "SIG_IGN"
    run = subprocess.run([sys.executable, "-c", CRASHING_SAVE, path, action], capture_output=True, text=True)
    if killed:
        assert run.returncode == -signal.SIGXFSZ
    else:
        assert run.returncode == 1 and f"OSError: [Errno 27] File too large: '{path}'" in run.stderr
    assert os.listdir(tmp_path) == ["articles.idx"]  # no temporary file, even of a killed save
    assert path.read_bytes() == before
    assert ArticleIndex.load(path).rank("market") == old.rank("market")


@pytest.mark.parametrize(
    ("target", "error"),
    [("missing/articles.idx", FileNotFoundError), ("folder", IsADirectoryError)],
)
def test_a_save_that_cannot_be_made_names_the_path_given(tmp_path, target, error):
    (tmp_path / "folder").mkdir()
    path = tmp_path / target
    with pytest.raises(error) as raised:
        ArticleIndex([("Market", "old")]).save(path)
    assert raised.value.filename == str(path)
    assert sorted(os.listdir(tmp_path)) == ["folder"]


@pytest.mark.parametrize("change", ["replaced in place", "truncated", "removed"])
def test_a_loaded_index_does_not_depend_on_its_file(tmp_path, change):
    path = tmp_path / "articles.idx"
    pairs = [(f"Market {k}", "the market " * (k % 50)) for k in range(3000)]
    ArticleIndex(pairs).save(path)
    ArticleIndex([("Other", "text")]).save(tmp_path / "other.idx")
    loaded = ArticleIndex.load(path)
    if change == "replaced in place":  # as cp does: the same file, truncated and written
        with open(path, "r+b") as f:
            f.truncate(0)
            f.write((tmp_path / "other.idx").read_bytes())
    elif change == "truncated":
        os.truncate(path, 100)
    else:
        os.unlink(path)
    assert loaded.scores("market") == score_many(pairs, "market")
    assert loaded.article(2999) == pairs[2999]


@pytest.mark.parametrize(
    ("articles", "ids", "error", "message"),
    [
        ([("a", "b")], ["x", "y"], ValueError, "2 ids for 1 articles"),
        ([("a", "b")], "x", TypeError, "ids must be an iterable of str or None, not 'str'"),
        ([("a", "b")], [7], TypeError, "the id of article 0 must be a str or None, not 'int'"),
        ([("a", "b"), {"title": "a", "content": "b", "id": b"x"}], None, TypeError,
         "the id of article 1 must be a str or None, not 'bytes'"),
        ([("a", "b", "\ud800")], None, UnicodeEncodeError, "surrogates not allowed"),
    ],
)
def test_ids_that_are_refused(articles, ids, error, message):
    index = ArticleIndex([("kept", "")])
    with pytest.raises(error, match=message):
        index.add(articles, ids=ids)
    assert len(index) == 1


def test_a_large_article_among_small_ones(tmp_path):
    # An article of 2**22 code units or more is built apart from the blocks
    # of the others, and its trigrams are put a window of 65,536 bytes at a
    # time: a word across the first window's end, and one at the very end
    # after a final sigma, must be found, and the small articles around it
    # keep their numbers and ids.
    body = ("Market \u039f\u0394\u039f\u03a3 \u4e2d\u6587 " * 300_000)[: 2**22]
    body = "y" * 65_534 + "qzqwk" + body[65_539:] + " \u03a4\u0388\u039b\u039f\u03a3"
    pairs = [("first", "ma"), ("Large", body), ("last \u03a3", "qzqwk")]
    ids = ["a", None, "c"]
    index = ArticleIndex(pairs, ids=ids, workers=2)
    index.save(tmp_path / "articles.idx")
    for built in (index, ArticleIndex.load(tmp_path / "articles.idx")):
        assert [built.article(k)[2:] for k in range(3)] == [("a",), (), ("c",)]
        assert built.article(1)[1] == body
        for query in ("qzqwk", "\u03c4\u03ad\u03bb\u03bf\u03c2", "\u03bf\u03b4\u03bf\u03c2 ", "\u4e2d\u6587 m", "ma", "st \u03c3"):
            assert built.scores(query) == score_many(pairs, query), query


@pytest.mark.parametrize(
    ("word", "filler"),
    [("qzk", "y"), ("\u03b6\u03be\u03ba", "\u03c9"), ("\u4e2d\u6587\u5b57", "\u3042"), ("\U0001f600\U0001f601\U0001f602", "\U0001f603")],
)
def test_words_across_the_windows_of_a_long_field(word, filler):
    # A field longer than 65,536 bytes has its grams put a window at a
    # time, each window cut at the start of a character: a word of three
    # characters of one to four bytes, at every byte around the first cut,
    # must be found in a title and in a content.
    width = len(filler.encode())
    pairs = []
    for shift in range(-12, 13):
        units = (65_536 + shift) // width
        text = filler * units + word + filler * 40
        pairs += [(text, "x"), ("x", text)]
    pairs.append(("x", filler * 30_000))
    index = ArticleIndex(pairs)
    for query in (word, word[:2], word[1:], word[0] + word[1]):
        assert index.scores(query) == score_many(pairs, query), query
        assert index.rank(query, 5) == rank_articles(pairs, query, 5)


@pytest.mark.parametrize("added", [1, 127, 128, 129, 300])
def test_lists_new_to_a_loaded_index_are_saved_after_its_articles(tmp_path, added):
    # A list is saved in blocks of 128 numbers and those left over; a list
    # that only the added articles have starts after the loaded ones, its
    # numbers shifted, whether it makes a block or not.
    pairs = [(f"alpha {k}", "x \u03b2\u03b3\u03b4") for k in range(200)]
    ArticleIndex(pairs).save(tmp_path / "a.idx")
    loaded = ArticleIndex.load(tmp_path / "a.idx")
    new = [(f"omega {k}", f"zeta \u4e2d \u03b2\u03b3\u03b4 {k % 3}") for k in range(added)]
    loaded.add(new)
    loaded.save(tmp_path / "b.idx")
    pairs += new
    for index in (loaded, ArticleIndex.load(tmp_path / "b.idx")):
        for query in ("omega", "zeta", "\u4e2d", "\u03b2\u03b3\u03b4", "alpha", " 2"):
            assert index.scores(query) == score_many(pairs, query), query
