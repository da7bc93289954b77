"""Nothing leaks: each function called many times on valid arguments and on
invalid arguments of every kind (every row of the module's error table)
leaves the interpreter's total reference count (debug build) and its count
of allocated memory blocks where they were.

Every call builds its arguments afresh, so a reference the module fails to
release keeps an object alive and shows in both counts. Run this under the
debug interpreter (tools/test-debug.sh) for the reference counts; under the
release interpreter only the block count is checked."""

import atexit
import os
import shutil
import subprocess
import sys
import tempfile

import pytest

from hardening import HAVE_BLOCK_COUNT, HAVE_TOTAL_REFCOUNT, HasIndex, assert_no_leak, new_str
from parvenkel import RankedArticle, _core, _corpus, _index

score_article = _core.score_article
extract_keywords = _core.extract_keywords


# --------------------------------------------------------------------------
# Argument objects of every kind.


class Str(str):
    """A str subclass whose Python-level methods all lie."""

    def __str__(self):
        return "lie"

    def __len__(self):
        return 0

    def __iter__(self):
        return iter(())

    def __eq__(self, other):
        return False

    __hash__ = str.__hash__


class UnprintableName(str):
    def __str__(self):
        raise ValueError("no text")


class IndexRaises:
    def __init__(self, make_error):
        self.make_error = make_error

    def __index__(self):
        raise self.make_error()


class Unprintable:
    def __str__(self):
        raise RuntimeError("no text")


class Seq:
    """A sequence by __len__ and __getitem__ alone."""

    def __init__(self, items, length=None):
        self.items = items
        self.length = len(items) if length is None else length

    def __len__(self):
        if isinstance(self.length, BaseException):
            raise self.length
        return self.length

    def __getitem__(self, index):
        return self.items[index]


class IterRaises(Seq):
    def __init__(self, make_error):
        super().__init__([])
        self.make_error = make_error

    def __iter__(self):
        raise self.make_error()


class IterNotIterator(Seq):
    def __iter__(self):
        return object()


class NextRaises(Seq):
    def __init__(self, items, make_error):
        super().__init__(items)
        self.make_error = make_error

    def __iter__(self):
        yield from self.items
        raise self.make_error()


def type_error_with_cause():
    try:
        raise KeyError("cause")
    except KeyError as cause:
        error = TypeError("with a cause")
        error.__cause__ = cause
        return error


def s(text="alpha beta"):
    return new_str(text)


def words(*items):
    return [new_str(item) for item in items]


def counter_calls(text, stop_words, blob=None):
    counter = _corpus.WordCounter(stop_words) if blob is None else _corpus._from_blob(blob)
    counter.update(text)
    counter.update([text, text], workers=2)
    counter.update(counter)
    return counter[text], text in counter, counter == counter


def counter_results(text, stop_words):
    counter = _corpus.WordCounter(stop_words)
    counter.update(text)
    return counter.most_common(2), counter.items(), counter.__reduce__()


def batch_calls(texts, articles, query):
    _corpus.keywords_many(texts, [], 3, workers=2)
    _corpus.rank_rows(articles, query, 1, workers=2, row_type=RankedArticle)


INDEX_FOLDER = tempfile.TemporaryDirectory(prefix="parvenkel-leaks-")
atexit.register(INDEX_FOLDER.cleanup)


def index_calls(articles, query, *, failing=None):
    index = _index.Index()
    index.add(articles[:1])
    index.add(articles[1:], workers=2)
    index.rank(query, 2, include_zero=True, row_type=RankedArticle)
    index.rank(query)
    index.scores(query)
    index.article(len(index) - 1)
    index.rank_many([query, query], 1, workers=2, row_type=RankedArticle)
    index.rank_many((query,), include_zero=True)
    if failing is not None:
        failing(index)


def index_file_calls(articles, query, path):
    index = _index.Index()
    index.add(articles)
    index.save(path)
    loaded = _index.load(path)
    loaded.add(articles)
    loaded.rank(query, row_type=RankedArticle)
    loaded.article(0)


def damaged_index_file(name):
    path = os.path.join(INDEX_FOLDER.name, name)
    with open(path, "wb") as file:
        file.write(b"not an index at all, no")
    return path


# name: (function, expected exception or None, () -> (args, kwargs))
CASES = {
    "index": (index_calls, None, lambda: (([(s("Market news"), s("the market")), {"title": s("\u039f\u0394\u039f\u03a3"), "content": s("x")}], s("market")), {})),
    "index-file": (index_file_calls, None, lambda: (([(s("Market"), s("\u4e2d\u6587 market"))], s("market"), os.path.join(INDEX_FOLDER.name, "a.idx")), {})),
    "index-ids": (index_calls, None, lambda: (([(s("Market"), s("news"), s("a.jsonl:1")), {"title": s("t"), "content": s("market"), "id": s("\u4e2d")}, (s("x"), s("y"))], s("market")), {"failing": lambda index: index.add([(s("t"), s("c"))], ids=[s("id")])})),
    "index-ids-count": (index_calls, ValueError, lambda: (([(s("t"), s("c"))], s("q")), {"failing": lambda index: index.add([(s("t"), s("c"))], ids=[s("a"), s("b")])})),
    "index-id-int": (index_calls, TypeError, lambda: (([(s("t"), s("c"))], s("q")), {"failing": lambda index: index.add([(s("t"), s("c"), 10**20)])})),
    "index-article-int": (index_calls, TypeError, lambda: (([(s("t"), s("c"))], s("q")), {"failing": lambda index: index.add([(s("t"), s("c")), (s("t"), 1)])})),
    "index-article-shape": (index_calls, TypeError, lambda: (([(s("t"), s("c"))], s("q")), {"failing": lambda index: index.add([{"title": s("t")}])})),
    "index-surrogate": (index_calls, UnicodeEncodeError, lambda: (([(s("t"), s("c"))], s("q")), {"failing": lambda index: index.add([(s("t"), s("\ud800"))])})),
    "index-top_n": (index_calls, ValueError, lambda: (([(s("t"), s("c"))], s("q")), {"failing": lambda index: index.rank(s("q"), -1)})),
    "index-queries": (index_calls, TypeError, lambda: (([(s("t"), s("c"))], s("q")), {"failing": lambda index: index.rank_many([s("q"), 1])})),
    "index-queries-surrogate": (index_calls, UnicodeEncodeError, lambda: (([(s("t"), s("c"))], s("q")), {"failing": lambda index: index.rank_many([s("q"), s("\ud800")], workers=2)})),
    "index-query": (index_calls, TypeError, lambda: (([(s("t"), s("c"))], s("q")), {"failing": lambda index: index.scores(1)})),
    "index-position": (index_calls, IndexError, lambda: (([(s("t"), s("c"))], s("q")), {"failing": lambda index: index.article(5)})),
    "index-missing-file": (_index.load, FileNotFoundError, lambda: ((os.path.join(INDEX_FOLDER.name, "none.idx"),), {})),
    "index-damaged-file": (_index.load, ValueError, lambda: ((damaged_index_file("bad.idx"),), {})),
    "corpus-counter": (counter_calls, None, lambda: ((s("abc d\u00e9f \u4e2d\u6587"), {s("abc")}), {})),
    "corpus-results": (counter_results, None, lambda: ((s("abc d\u00e9f \u4e2d\u6587"), {s("abc")}), {})),
    "corpus-blob": (counter_calls, ValueError, lambda: ((s("abc"), []), {"blob": b"PVWC\x01\x00\x01\x03abc\x00"})),
    "corpus-batch": (batch_calls, None, lambda: (([s("abc abc")], [(s("t"), s("abc")), {"title": s("x"), "content": s("y")}], s("abc")), {})),
    "corpus-text-int": (batch_calls, TypeError, lambda: (([s("abc")], [(s("t"), 1)], s("q")), {})),
    "corpus-surrogate": (batch_calls, UnicodeEncodeError, lambda: (([s("abc")], [(s("t"), s("\ud800"))], s("q")), {})),
    # Calls that succeed.
    "score": (score_article, None, lambda: ((s("Market news"), s("the market"), s("MARKET")), {})),
    "score-keywords": (score_article, None, lambda: ((), {"query": s("x"), "content": s(""), "title": s("xyz")})),
    "score-mixed": (score_article, None, lambda: ((s("a b"),), {"query": s(" "), "content": s("")})),
    "score-non-ascii": (
        score_article,
        None,
        lambda: ((s("\u039f\u0394\u039f\u03a3 \u0130stanbul"), s("\u00df\u1e9e\u212a"), s("\u03bf\u03b4\u03bf\u03c2")), {}),
    ),
    "score-str-subclasses": (score_article, None, lambda: ((Str("Market"), Str("market"), Str("MARKET")), {})),
    "score-empty-query": (score_article, None, lambda: ((s("abc"), s("abc"), s("")), {})),
    "keywords": (extract_keywords, None, lambda: ((s("The cat and the hat. The END"), words("and"), 10), {})),
    "keywords-keywords": (
        extract_keywords,
        None,
        lambda: ((), {"top_n": 3, "text": s("x yz xyz xyz"), "stop_words": words("yz")}),
    ),
    "keywords-non-ascii": (
        extract_keywords,
        None,
        lambda: ((s("\u039f\u0394\u039f\u03a3 \u4e2d\u6587 na\u00efve \u0130 x\u200by \U0001d400\U0001d401\U0001d402"), (s("\u4e2d\u6587"),), 10), {}),
    ),
    "keywords-tuple": (extract_keywords, None, lambda: ((s("abc abc def"), tuple(words("def")), 1), {})),
    "keywords-sequence": (extract_keywords, None, lambda: ((s("abc abc def"), Seq(words("def")), 5), {})),
    "keywords-empty-bytes": (extract_keywords, None, lambda: ((s("abc abc"), b"", 5), {})),
    "keywords-str-subclass-items": (extract_keywords, None, lambda: ((Str("abc def"), [Str("def")], 5), {})),
    "keywords-bool-top_n": (extract_keywords, None, lambda: ((s("abc abc def"), [], True), {})),
    "keywords-index-top_n": (extract_keywords, None, lambda: ((s("abc def"), [], HasIndex(2**64 - 1)), {})),
    "keywords-max-top_n": (extract_keywords, None, lambda: ((s("abc def"), [], 2**64 - 1), {})),
    "keywords-zero-top_n": (extract_keywords, None, lambda: ((s("abc def"), [], 0), {})),
    "keywords-len-raises": (extract_keywords, None, lambda: ((s("abc def"), Seq(words("abc"), ValueError("x")), 5), {})),
    "keywords-len-absurd": (extract_keywords, None, lambda: ((s("abc def"), Seq(words("abc"), sys.maxsize), 5), {})),
    "keywords-len-too-short": (extract_keywords, None, lambda: ((s("abc def ghi"), Seq(words("abc", "def"), 0), 5), {})),
    # More than three positional arguments.
    "score-four-positional": (score_article, TypeError, lambda: ((s(), s(), s(), s()), {})),
    "keywords-five-positional": (extract_keywords, TypeError, lambda: ((s(), [], 1, s(), s()), {})),
    # A keyword that names no parameter.
    "unexpected-keyword": (score_article, TypeError, lambda: ((s(), s(), s()), {s("bogus"): s()})),
    "unexpected-keyword-surrogate": (score_article, TypeError, lambda: ((s(), s()), {s("q\ud800"): s()})),
    "unexpected-keyword-unprintable": (extract_keywords, TypeError, lambda: ((s(), [], 1), {UnprintableName("x"): 1})),
    "unexpected-keyword-before-missing": (extract_keywords, TypeError, lambda: ((), {s("Text"): s()})),
    # A parameter given twice.
    "multiple-values-score": (score_article, TypeError, lambda: ((s(), s(), s()), {"title": s()})),
    "multiple-values-keywords": (extract_keywords, TypeError, lambda: ((s(), []), {"stop_words": []})),
    # Parameters not given.
    "missing-one": (score_article, TypeError, lambda: ((s(), s()), {})),
    "missing-two": (score_article, TypeError, lambda: ((), {"content": s()})),
    "missing-three": (extract_keywords, TypeError, lambda: ((), {})),
    # A str parameter given something else.
    "title-int": (score_article, TypeError, lambda: ((10**20, s(), s()), {})),
    "content-None": (score_article, TypeError, lambda: ((s(), None, s()), {})),
    "query-bytes": (score_article, TypeError, lambda: ((s(), s(), b"q"), {})),
    "text-list": (extract_keywords, TypeError, lambda: ((words("a"), [], 1), {})),
    # A str without a UTF-8 form.
    "title-surrogate": (score_article, UnicodeEncodeError, lambda: ((s("x\udc00"), s(), s()), {})),
    "query-surrogate": (score_article, UnicodeEncodeError, lambda: ((s(), s(), s("\ud800y")), {})),
    "text-surrogate": (extract_keywords, UnicodeEncodeError, lambda: ((s("\udfff abc"), [], 1), {})),
    "stop-word-surrogate": (extract_keywords, UnicodeEncodeError, lambda: ((s(), words("the", "\ud800"), 1), {})),
    # stop_words is a str.
    "stop_words-str": (extract_keywords, TypeError, lambda: ((s(), s("the"), 1), {})),
    "stop_words-str-subclass": (extract_keywords, TypeError, lambda: ((s(), Str("the"), 1), {})),
    # stop_words fails the sequence test.
    "stop_words-set": (extract_keywords, TypeError, lambda: ((s(), {s("the")}, 1), {})),
    "stop_words-dict": (extract_keywords, TypeError, lambda: ((s(), {s("the"): 1}, 1), {})),
    "stop_words-generator": (extract_keywords, TypeError, lambda: ((s(), (w for w in words("the")), 1), {})),
    "stop_words-None": (extract_keywords, TypeError, lambda: ((s(), None, 1), {})),
    # An item of stop_words that is not a str.
    "stop-word-int": (extract_keywords, TypeError, lambda: ((s(), [s("the"), 10**20], 1), {})),
    "stop-word-None": (extract_keywords, TypeError, lambda: ((s(), (None,), 1), {})),
    "stop_words-bytes": (extract_keywords, TypeError, lambda: ((s(), b"the", 1), {})),
    # Getting an iterator for, or the next item of, stop_words fails.
    "iter-TypeError": (extract_keywords, TypeError, lambda: ((s(), IterRaises(type_error_with_cause), 1), {})),
    "iter-ValueError": (extract_keywords, ValueError, lambda: ((s(), IterRaises(lambda: ValueError("v")), 1), {})),
    "iter-not-iterator": (extract_keywords, TypeError, lambda: ((s(), IterNotIterator([]), 1), {})),
    "next-TypeError": (extract_keywords, TypeError, lambda: ((s(), NextRaises(words("a"), type_error_with_cause), 1), {})),
    "next-RuntimeError": (extract_keywords, RuntimeError, lambda: ((s(), NextRaises(words("a"), RuntimeError), 1), {})),
    # top_n without __index__.
    "top_n-float": (extract_keywords, TypeError, lambda: ((s(), [], 2.0), {})),
    "top_n-str": (extract_keywords, TypeError, lambda: ((s(), [], s("3")), {})),
    "top_n-None": (extract_keywords, TypeError, lambda: ((s(), [], None), {})),
    # __index__ of top_n raises.
    "index-TypeError": (extract_keywords, TypeError, lambda: ((s(), [], IndexRaises(type_error_with_cause)), {})),
    "index-ValueError": (extract_keywords, ValueError, lambda: ((s(), [], IndexRaises(lambda: ValueError("v"))), {})),
    "index-unprintable-TypeError": (
        extract_keywords,
        TypeError,
        lambda: ((s(), [], IndexRaises(lambda: TypeError(Unprintable()))), {}),
    ),
    # top_n out of range.
    "top_n-negative": (extract_keywords, OverflowError, lambda: ((s(), [], -1), {})),
    "top_n-2**64": (extract_keywords, OverflowError, lambda: ((s(), [], 2**64), {})),
    "top_n-index-negative": (extract_keywords, OverflowError, lambda: ((s(), [], HasIndex(-(10**20))), {})),
    "top_n-index-huge": (extract_keywords, OverflowError, lambda: ((s(), [], HasIndex(2**70)), {})),
    # The first failing parameter wins.
    "text-wins-over-top_n": (extract_keywords, TypeError, lambda: ((None, [], -1), {})),
}


def make_call(name):
    func, raises, make_args = CASES[name]

    def call():
        args, kwargs = make_args()
        if raises is None:
            func(*args, **kwargs)
            return
        try:
            func(*args, **kwargs)
        except raises:
            pass
        else:
            raise AssertionError(f"{name}: {raises.__name__} not raised")

    return call



@pytest.mark.usefixtures("quiet_unraisable")
@pytest.mark.parametrize("name", CASES)
def test_no_leak(name):
    # The corpus calls make and drop many small tuples: with 40 calls a run,
    # the interpreter's tuple free lists are still filling up during the
    # tracked runs (a few blocks a run, not one a call); 400 fill them in
    # the warm-up runs.
    # A save syncs its file to the disk: fewer of those.
    many = name.startswith(("corpus", "index")) and name != "index-file"
    assert_no_leak(make_call(name), calls_per_run=400 if many else 40)


@pytest.mark.usefixtures("quiet_unraisable")
def test_no_leak_with_large_results():
    # 3000 distinct words of CJK ideographs (Alphabetic), and a stop word.
    text = new_str(" ".join(chr(0x4E00 + i // 60) + chr(0x4E00 + i % 60) for i in range(3000)) + " common" * 50)

    def call():
        result = extract_keywords(text, words("common"), 2**64 - 1)
        assert len(result) == 3000
        score_article(text, text, text)

    assert_no_leak(call, calls_per_run=5)


def test_the_table_covers_every_error_kind():
    raised = {raises for _, raises, _ in CASES.values()}
    assert raised == {None, TypeError, UnicodeEncodeError, OverflowError, ValueError, RuntimeError, IndexError, FileNotFoundError}


@pytest.mark.skipif(not HAVE_BLOCK_COUNT, reason="the allocator in use does not count its blocks")
def test_the_leak_check_sees_a_leak():
    # The check itself must be able to fail: keep every result alive.
    kept = []

    def leaky():
        kept.append(extract_keywords(new_str("abc def"), [], 5))

    with pytest.raises(AssertionError, match="left per run"):
        assert_no_leak(leaky, calls_per_run=10)


@pytest.mark.skipif(not HAVE_TOTAL_REFCOUNT, reason="needs the debug interpreter")
def test_the_leak_check_sees_a_leaked_reference():
    obj = object()
    kept = []

    def leaky():
        kept.append(obj)  # one reference more per call, no new block

    with pytest.raises(AssertionError, match="references left per run"):
        assert_no_leak(leaky, calls_per_run=10)


@pytest.mark.skipif(not HAVE_TOTAL_REFCOUNT, reason="needs the debug interpreter")
def test_the_module_is_built_with_reference_debugging():
    # A module built with the release configuration runs under the debug
    # interpreter, but its own reference count changes escape the totals
    # above: every object it frees would count as a leak.
    nm = shutil.which("nm")
    if nm is None:
        pytest.skip("nm is not installed")
    listing = subprocess.run([nm, "-D", "--undefined-only", _core.__file__], capture_output=True, text=True, check=True)
    assert "_Py_NegativeRefcount" in listing.stdout
