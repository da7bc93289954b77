"""ArticleIndex against rank_articles and score_many, which define its
results, and its file: every kind of damage is refused by name."""

import os
import re
import signal
import subprocess
import sys

import pytest
from collections import UserDict
from typing import NamedTuple

from hypothesis import given, settings
from hypothesis import strategies as st
from strategies import articles

from parvenkel import ArticleIndex, rank_articles, score_many


@settings(max_examples=150, deadline=None)
@given(
    items=st.lists(articles(), max_size=25),
    extra=st.lists(st.integers(0, 24), max_size=5),
    cut=st.integers(0, 25),
    top_n=st.sampled_from([None, 0, 1, 3, 40]),
    workers=st.sampled_from([1, 2]),
)
def test_same_results_as_the_scan(tmp_path_factory, items, extra, cut, top_n, workers):
    pairs = [(title, content) for title, content, _ in items]
    queries = [query for _, _, query in items] + ["", "\u0130", "\u03a3", "\u03c2 "]
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
    for built in (index, loaded, ArticleIndex(pairs, workers=2)):
        for query in queries:
            assert built.scores(query) == score_many(pairs, query), query


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
    (lambda index: index.add([("t", "c", "x")]), TypeError, "article 0 is a 'tuple' object, not a (title, content) pair"),
    (lambda index: index.add("tc"), TypeError, "articles must be an iterable of articles, not a 'str'"),
    (lambda index: index.add(5), TypeError, "articles must be an iterable, not 'int'"),
    (lambda index: index.add([("t", "c")], workers=-(2**70)), ValueError, "workers must be a positive int, or -1 for every core"),
    (lambda index: index.add([("t", "c")], workers=-2), ValueError, "workers must be a positive int, or -1 for every core"),
    (lambda index: index.add([("t", "c")], workers="2"), TypeError, "workers must be an int, not 'str'"),
    (lambda index: index.rank(b"q"), TypeError, "query must be a str, not 'bytes'"),
    (lambda index: index.rank("q", -1), ValueError, "top_n must not be negative"),
    (lambda index: index.rank("q", 1.0), TypeError, "top_n must be an int or None, not 'float'"),
    (lambda index: index.scores(None), TypeError, "query must be a str, not 'NoneType'"),
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


@pytest.mark.parametrize(("call", "error", "message"), ARGUMENT_ERRORS)
def test_argument_errors(call, error, message):
    index = ArticleIndex([("Market", "news")])
    with pytest.raises(error, match=re.escape(message)):
        call(index)
    assert len(index) == 1 and index.article(0) == ("Market", "news")
    assert index.rank("market") == rank_articles([("Market", "news")], "market")


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
        ("version", r"unsupported format version 99 \(this version of parvenkel reads version 1\)"),
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
        assert run.returncode == 1 and "OSError: [Errno 27] File too large" in run.stderr
        assert os.listdir(tmp_path) == ["articles.idx"]  # the temporary file is gone
    assert path.read_bytes() == before
    assert ArticleIndex.load(path).rank("market") == old.rank("market")
