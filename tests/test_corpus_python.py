"""The Python side of the corpus layer: WordCounter as a read-only mapping
with Counter's comparison and addition, and field names for mappings."""

import pickle
from collections import Counter
from collections.abc import Mapping

import pytest

from parvenkel import RankedArticle, WordCounter, rank_articles, score_many
from parvenkel.dask_support import rank_articles as dask_rank_articles


def counter(text, stop_words=()):
    c = WordCounter(stop_words)
    c.update(text)
    return c


def test_word_counter_is_a_read_only_mapping():
    c = counter("beta alpha beta gamma ÉCLAIR")
    assert isinstance(c, Mapping)
    assert list(c) == ["beta", "alpha", "gamma", "éclair"] == list(c.keys())
    assert list(c.values()) == [2, 1, 1, 1]
    assert c.items() == c.most_common() == [("beta", 2), ("alpha", 1), ("gamma", 1), ("éclair", 1)]
    assert dict(c) == {"beta": 2, "alpha": 1, "gamma": 1, "éclair": 1}
    # As Counter: a word never counted reads 0, and get gives the default.
    assert (c["delta"], c.get("delta"), c.get("delta", 7), c.get("beta", 7)) == (0, None, 7, 2)
    assert ("beta" in c, "delta" in c, 1 in c) == (True, False, False)
    with pytest.raises(TypeError, match="a WordCounter's words are str, not 'int'"):
        c[1]
    with pytest.raises(TypeError):
        c["x"] = 1
    with pytest.raises(TypeError, match="unhashable"):
        hash(c)


@pytest.mark.parametrize(
    "other, equal",
    [
        ({"beta": 2, "alpha": 1}, True),
        (Counter(beta=2, alpha=1), True),
        (Counter(beta=2, alpha=1, delta=0), True),  # Counter: a missing word counts 0
        ({"beta": 2, "alpha": 1, "delta": 0}, False),  # dict: every key counts
        ({"beta": 2}, False),
        ({"beta": 2, "alpha": 2}, False),
        (Counter({"beta": 2, "alpha": 1, 5: 0}), True),
        (counter("alpha beta beta"), True),
        (counter("alpha beta"), False),
        ([("beta", 2), ("alpha", 1)], False),
    ],
)
def test_word_counter_compares_as_counter_does(other, equal):
    c = counter("beta alpha beta")
    assert (c == other, other == c, c != other, other != c) == (equal, equal, not equal, not equal)


def test_word_counter_adds_up():
    a, b = counter("alpha beta the", ["the"]), counter("beta gamma the")
    total = a + b  # the counts of b, less the stop words of a
    assert total == {"alpha": 1, "beta": 2, "gamma": 1}
    assert a == {"alpha": 1, "beta": 1} and b == {"beta": 1, "gamma": 1, "the": 1}
    total.update("the theta")  # the sum keeps the stop words of the left side
    assert total["the"] == 0 and total["theta"] == 1
    copy = a.copy()
    a += b
    assert a is not copy and copy == {"alpha": 1, "beta": 1} and a["beta"] == 2
    with pytest.raises(TypeError):
        a + {"beta": 1}
    for c in (a, total, WordCounter()):
        again = pickle.loads(pickle.dumps(c))
        assert type(again) is WordCounter and again == c and again.most_common() == c.most_common()


ROWS = [{"headline": "Market", "body": "x"}, ("Other", "the market"), {"headline": "none", "body": ""}]


@pytest.mark.parametrize(
    "call, expected",
    [
        (lambda: score_many(ROWS, "market", title_field="headline", content_field="body"), [1000.0, 100.0, 0.0]),
        (
            lambda: rank_articles(ROWS, "market", title_field="headline", content_field="body", workers=2),
            [RankedArticle(1000.0, 0, ROWS[0]), RankedArticle(100.0, 1, ROWS[1])],
        ),
        (
            lambda: rank_articles(iter(ROWS), "MARKET", 1, title_field="headline", content_field="body"),
            [RankedArticle(1000.0, 0, ROWS[0])],
        ),
        (lambda: score_many([{"title": "t", "body": "market"}], "market", content_field="body"), [100.0]),
    ],
)
def test_field_names(call, expected):
    assert call() == expected


@pytest.mark.parametrize(
    "call, error, message",
    [
        (lambda: score_many(ROWS, "q", content_field="body"), TypeError, "article 0 is a 'dict' object without 'title', not a .* mapping with 'title' and 'body'$"),
        (lambda: rank_articles([ROWS[1], {"h": "t"}], "q", title_field="h"), TypeError, "article 1 is a 'dict' object without 'content'"),
        (lambda: score_many("ab", "q", title_field="h"), TypeError, "articles must be an iterable"),
        (lambda: rank_articles(5, "q", title_field="h"), TypeError, "articles must be an iterable"),
    ],
)
def test_field_name_errors(call, error, message):
    with pytest.raises(error, match=message):
        call()


def test_dask_ranking_gives_ranked_articles():
    assert dask_rank_articles([[("market", "")]], "market", 1) == [RankedArticle(1000.0, 0, ("market", ""))]
