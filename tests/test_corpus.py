"""The corpus layer (WordCounter, keywords_many, score_many, rank_articles)
against the functions of one text, which define its results."""

import pickle
import re
import threading

import pytest
from hypothesis import given
from hypothesis import strategies as st
from strategies import VOCABULARY, articles, documents

from parvenkel import (
    RankedArticle,
    WordCounter,
    extract_keywords,
    keywords_many,
    rank_articles,
    score_article,
    score_many,
    stoplists,
)
from parvenkel import _corpus
from parvenkel._corpus import _from_blob, rank_rows

ALL = 2**64 - 1
STOPS = ["the", "and", "\u4e2d", "STRASSE", "strasse"]


def ordered(pairs):
    return sorted(pairs, key=lambda pair: (-pair[1], pair[0]))


# Large enough to take the threaded path and be cut into pieces.
BIG = " ".join(VOCABULARY * 3000) + "\u3000" + "\u039f\u0394\u039f\u03a3 " * 100_000
# Cut after its first million characters, it leaves a last piece of one
# character, a word of its own.
BIG_TAIL = "x" * (1 << 20) + " \u6587"
# Texts of two forms with words longer than a block, counted one after the
# other by one table: what the first leaves behind must not leak into the
# second.
FORMS = ["\u4e2d\u6587\u300c\u3042\u300d" * 200 + " x", ("\u00ab" + "ab" * 40 + "\u00bb ") * 3]


@given(
    texts=st.lists(st.one_of(documents(), st.sampled_from(FORMS)), max_size=6),
    workers=st.sampled_from([1, 2, 3, -1]),
    big=st.sampled_from([None, BIG, BIG_TAIL]),
    cut=st.integers(0, 5),
)
def test_same_words_as_extract_keywords(texts, workers, big, cut):
    if big is not None:
        texts = [*texts, big]
    joined = " ".join(texts)
    expected = ordered(extract_keywords(joined, STOPS, ALL))
    counter = WordCounter(frozenset(STOPS))
    # The same texts given in two calls, the second as a counter.
    counter.update(texts[:cut], workers=workers)
    rest = WordCounter(dict.fromkeys(STOPS))
    rest.update(texts[cut:], workers=workers)
    counter.update(rest, workers=workers)
    assert counter.most_common() == counter.items() == expected
    assert counter.most_common(3) == expected[:3]
    assert len(counter) == len(expected)
    assert counter.total() == sum(count for _, count in expected)
    for word, count in expected[:20]:
        assert counter[word] == count and word in counter
    assert counter["xx"] == 0 and "the" not in counter and 1 not in counter
    assert pickle.loads(pickle.dumps(counter)) == counter
    per_text = keywords_many(texts, set(STOPS), 4, workers=workers)
    assert per_text == [ordered(extract_keywords(text, STOPS, ALL))[:4] for text in texts]


@given(items=st.lists(articles(), max_size=30), workers=st.sampled_from([1, 2]), top_n=st.integers(0, 40))
def test_scores_and_ranking_as_score_article(items, workers, top_n):
    query = items[0][2] if items else "x"
    pairs = [(title, content) for title, content, _ in items]
    scores = [score_article(title, content, query) for title, content in pairs]
    assert score_many(pairs, query, workers=workers) == scores
    dicts = [{"title": title, "content": content} for title, content in pairs]
    for include_zero in (False, True):
        best = sorted(
            (RankedArticle(score, position, dicts[position]) for position, score in enumerate(scores)),
            key=lambda ranked: (-ranked.score, ranked.position),
        )
        best = [ranked for ranked in best if include_zero or ranked.score > 0][:top_n]
        got = rank_articles(dicts, query, top_n, workers=workers, include_zero=include_zero)
        assert got == best and all(type(ranked) is RankedArticle for ranked in got)


def test_threads_updating_one_counter_lose_no_counts():
    counter = WordCounter(stoplists.load("english"))
    texts = [f"alpha{n % 7} beta gamma\u00e9 " * 20_000 for n in range(8)]
    other = WordCounter()
    other.update("delta delta")

    def work(k):
        for _ in range(3):
            counter.update(texts[k::4], workers=1 + k % 2)
            counter.update(other)
            assert counter.most_common(1)[0][1] > 0
            pickle.dumps(counter)

    threads = [threading.Thread(target=work, args=(k,)) for k in range(4)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    expected = WordCounter(stoplists.load("english"))
    for _ in range(3):
        expected.update(texts)
        for _ in range(4):
            expected.update(other)
    assert counter == expected and counter["delta"] == 24


ERRORS = [
    (lambda: WordCounter("the"), TypeError, "stop_words must be an iterable of str, not a 'str'"),
    (lambda: WordCounter([b"x"]), TypeError, "stop word 0 is a 'bytes' object, not a str"),
    (lambda: WordCounter(["\ud800"]), UnicodeEncodeError, "surrogates not allowed"),
    (lambda: WordCounter().update(["a", 1]), TypeError, "text 1 is a 'int' object, not a str"),
    (lambda: WordCounter().update(5), TypeError, "texts must be a str or an iterable of str"),
    (lambda: WordCounter().update("a", workers=0), ValueError, "workers must be a positive int"),
    (lambda: WordCounter().update("a", workers=1.0), TypeError, "workers must be an int"),
    (lambda: WordCounter().most_common(-1), ValueError, "n must not be negative"),
    (lambda: WordCounter()[1], TypeError, "a WordCounter's words are str, not 'int'"),
    (lambda: keywords_many("abc", [], 1), TypeError, "texts must be an iterable of str"),
    (lambda: keywords_many(["abc"], [], -1), ValueError, "top_n must not be negative"),
    (lambda: score_many([("t",)], "q"), TypeError, "article 0 is a 'tuple' object"),
    (lambda: score_many([("t", None)], "q"), TypeError, "argument 'content' of article 0"),
    (lambda: score_many([("t", "c"), {"title": "t"}], "q"), TypeError, "article 1 is a 'dict' object without 'content', not a (title, content) pair"),
    (lambda: rank_articles([{"content": "c"}], "q"), TypeError, "article 0 is a 'dict' object without 'title', not"),
    (lambda: rank_articles([], "q", 1.5), TypeError, "top_n must be an int or None, not 'float'"),
    (lambda: keywords_many(["abc"], [], None), TypeError, "top_n must be an int, not 'NoneType'"),
    (lambda: keywords_many(["abc"], [], 1, workers=-(2**70)), ValueError, "workers must be a positive int, or -1"),
    (lambda: keywords_many(["abc"], []), TypeError, "keywords_many() missing 1 required positional argument: 'top_n'"),
    (lambda: _corpus.WordCounter([], []), TypeError, "WordCounter() takes from 0 to 1 positional arguments but 2 were given"),
    (lambda: _corpus.WordCounter().update("a", 2), TypeError, "update() takes 1 positional argument but 2 were given"),
    (lambda: score_many([("t", "x" * 99_999 + "\ud800")] * 2, "q"), UnicodeEncodeError, "surrogates"),
    (lambda: rank_articles([], 3), TypeError, "query must be a str, not 'int'"),
    (lambda: rank_rows([], "q", row_type=list), TypeError, "row_type must be a tuple subclass"),
    (lambda: _from_blob(b"PVWC\x01\x00\x01\x03abc\x00"), ValueError, "count out of range"),
    (lambda: _from_blob(b"PVWC\x01\x00\x02\x03abc\x01\x03abc\x01"), ValueError, "out of order"),
    (lambda: _from_blob(b"PVWC\x01\x01\x03abc\x01\x03abc\x01"), ValueError, "is a stop word"),
    (lambda: _from_blob(b"PVWC\x01\x00\x01\x03a\x00c\x01"), ValueError, "not a counted word"),
    (lambda: _from_blob(b"PVWC\x01\x00\x01\x03ab\xff\x01"), ValueError, "not a counted word"),
    # Words no text can count: not lowercase, not Alphabetic, U+0307 not
    # after the "i" of U+0130, a final capital sigma.
    (lambda: _from_blob(b"PVWC\x01\x00\x01\x03ABC\x01"), ValueError, "not a counted word"),
    (lambda: _from_blob(b"PVWC\x01\x00\x01\x03a c\x01"), ValueError, "not a counted word"),
    (lambda: _from_blob(b"PVWC\x01\x00\x01\x03123\x01"), ValueError, "not a counted word"),
    (lambda: _from_blob(b"PVWC\x01\x00\x01\x04a\xcc\x87b\x01"), ValueError, "not a counted word"),
    (lambda: _from_blob(b"PVWC\x01\x00\x01\x04ab\xce\xa3\x01"), ValueError, "not a counted word"),
    (lambda: _from_blob(b"PVWC\x01\x00\x01\xff\xff\xff\xff\x0fabc\x01"), ValueError, "truncated"),
    (lambda: _from_blob(b"PVWC\x01\x00\x00\x00"), ValueError, "bytes after the end"),
    (lambda: _from_blob(b"PVWC\x02"), ValueError, "not a WordCounter blob"),
]


@pytest.mark.parametrize(("call", "error", "message"), ERRORS)
def test_errors(call, error, message):
    with pytest.raises(error, match=re.escape(message)):
        call()


def test_counts_beyond_the_limit_are_refused_and_kept():
    counter = _from_blob(b"PVWC\x01\x00\x01\x03abc" + bytes([0xFF] * 8) + b"\x3f")
    with pytest.raises(OverflowError):
        counter.update(counter)
    assert counter.total() == 2**62 - 1 and len(counter) == 1


def test_every_counted_word_pickles():
    # Lowercasing that gives a non-Alphabetic mark (U+0130), final and
    # medial sigma, a mark that is Alphabetic (U+0345), four-byte letters.
    counter = WordCounter(["the"])
    counter.update("\u0130stanbul \u039f\u0394\u039f\u03a3 \u1fb3\u0345x \U0001d400\U0001d401 Na\u00efve THE")
    again = pickle.loads(pickle.dumps(counter))
    assert again == counter and len(again) == 5


@given(st.binary(max_size=40), st.integers(0, 60), st.integers(0, 255))
def test_a_damaged_blob_is_refused_or_loads_whole(noise, at, byte):
    counter = WordCounter(["und", "die"])
    counter.update("Die Katze und der Hund \u00fcber \u4e2d\u6587 " * 3)
    blob = counter.__reduce__()[1][0]
    damaged = bytearray(blob)
    damaged[at % len(blob)] = byte
    for data in (bytes(damaged), blob[:at], blob + noise, b"PVWC\x01" + noise):
        try:
            loaded = _from_blob(data)
        except ValueError:
            continue
        again = _from_blob(loaded.__reduce__()[1][0])
        assert again == loaded and loaded.total() == sum(c for _, c in loaded.items())


def test_every_cut_of_a_blob_is_refused_as_truncated():
    # Each length byte and count is read against what is left: a blob cut
    # anywhere says so, and never reads past its end.
    counter = WordCounter(["und"])
    counter.update("Die Katze und der Hund \u00fcber \u4e2d\u6587 Katze")
    blob = counter.__reduce__()[1][0]
    for cut in range(len(blob)):
        # The first five bytes are the magic number and the version.
        with pytest.raises(ValueError, match="truncated" if cut >= 5 else "not a WordCounter blob"):
            _from_blob(blob[:cut])
