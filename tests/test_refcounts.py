"""Calls keep no references and leak no memory: the arguments' reference
counts are the same after many calls as before, and the interpreter's count of
allocated memory blocks does not grow with the number of calls, on success
and on every failure path of binding and conversion."""

import collections.abc
import gc
import sys
from dataclasses import dataclass, field

import pytest

from hardening import HasIndex, new_str
from parvenkel import RankedArticle, _core, _index

score_article = _core.score_article
extract_keywords = _core.extract_keywords


class Nested:
    class Inner:
        pass


class SequenceLike:
    def __init__(self, items):
        self.items = items

    def __getitem__(self, index):
        return self.items[index]

    def __len__(self):
        return len(self.items)


class IterRaises(SequenceLike):
    """__iter__ raises a new exception each time, from a persistent cause."""

    def __init__(self, error_type, cause=None):
        super().__init__([])
        self.error_type = error_type
        self.cause = cause

    def __iter__(self):
        raise self.error_type("no iteration") from self.cause


class NextRaises(SequenceLike):
    def __init__(self, error_type):
        super().__init__([new_str("the")])
        self.error_type = error_type

    def __iter__(self):
        return NextRaisesIterator(self.items, self.error_type)


class NextRaisesIterator:
    def __init__(self, items, error_type):
        self.items = list(items)
        self.error_type = error_type

    def __iter__(self):
        return self

    def __next__(self):
        if self.items:
            return self.items.pop()
        raise self.error_type("no next")


class IterNotIterator(SequenceLike):
    def __iter__(self):
        return 12345


class LenRaises(SequenceLike):
    def __len__(self):
        raise ValueError("no len")


class IndexRaises:
    def __init__(self, error_type, cause=None):
        self.error_type = error_type
        self.cause = cause

    def __index__(self):
        raise self.error_type("no index") from self.cause


class Unprintable:
    def __str__(self):
        raise ValueError("unprintable")


class IndexRaisesUnprintable:
    def __init__(self):
        self.text = Unprintable()

    def __index__(self):
        raise TypeError(self.text)


class UnprintableName(str):
    def __str__(self):
        raise ValueError("unprintable name")


@dataclass
class Case:
    func: object
    raises: type | None
    make_args: object  # () -> (args, kwargs, other objects to watch)


@dataclass
class Call:
    """One prepared call and the objects whose reference counts it must keep."""

    func: object
    args: tuple
    kwargs: dict
    raises: type | None
    watched: list = field(default_factory=list)

    def __call__(self):
        if self.raises is None:
            self.func(*self.args, **self.kwargs)
            return
        try:
            self.func(*self.args, **self.kwargs)
        except self.raises:
            pass
        else:
            raise AssertionError(f"{self.raises.__name__} not raised")


def _watch(args, kwargs, extra):
    """The arguments, what they hold, and `extra`."""
    watched = [*args, *kwargs.keys(), *kwargs.values()]
    for obj in list(watched):
        if isinstance(obj, (list, tuple)):
            watched.extend(obj)
        elif hasattr(obj, "__dict__") and not isinstance(obj, type):
            watched.extend(vars(obj).values())
    return [*watched, *extra]


def a(text="alpha beta"):
    return new_str(text)


def words(*items):
    return [new_str(item) for item in items]


def case(func, raises, make):
    return Case(func, raises, make)


CASES = {
    # Successful calls.
    "score": case(score_article, None, lambda: ((a("Market news"), a("the market"), a("MARKET")), {}, [])),
    "score-non-ascii": case(
        score_article, None, lambda: ((a("\u0130stanbul \u03a3"), a("\u00df\u1e9e"), a("\u03c3")), {}, [])
    ),
    "score-keywords": case(
        score_article, None, lambda: ((), {"query": a("x"), "title": a("xyz"), "content": a("")}, [])
    ),
    "keywords": case(
        extract_keywords, None, lambda: ((a("the cat and the hat"), words("the"), 10**6), {}, [])
    ),
    "keywords-non-ascii": case(
        extract_keywords,
        None,
        lambda: ((a("\u039f\u0394\u039f\u03a3 \u4e2d\u6587 na\u00efve \u0130 x\u200by"), (a("\u4e2d\u6587"),), 2**64 - 1), {}, []),
    ),
    "keywords-by-keyword": case(
        extract_keywords,
        None,
        lambda: ((), {"top_n": HasIndex(10**6), "stop_words": SequenceLike(words("x")), "text": a("x yz xyz")}, []),
    ),
    "keywords-len-raises": case(
        extract_keywords, None, lambda: ((a("the cat"), LenRaises(words("the")), 5), {}, [])
    ),
    # Binding.
    "too-many-positional": case(score_article, TypeError, lambda: ((a(), a(), a(), a()), {}, [])),
    "missing": case(score_article, TypeError, lambda: ((a(),), {"query": a()}, [])),
    "multiple-values": case(extract_keywords, TypeError, lambda: ((a(), [], 1), {"text": a()}, [])),
    "unexpected-keyword": case(score_article, TypeError, lambda: ((a(), a(), a()), {a("bogus"): a()}, [])),
    "unexpected-keyword-surrogate": case(
        score_article, TypeError, lambda: ((a(), a(), a()), {a("x\ud800"): a()}, [])
    ),
    "unexpected-keyword-unprintable": case(
        extract_keywords,
        TypeError,
        lambda: ((a(), [], 1), {UnprintableName("bogus"): a()}, [UnprintableName, UnprintableName.__name__]),
    ),
    # str conversion.
    "title-not-str": case(score_article, TypeError, lambda: ((10**6, a(), a()), {}, [])),
    "content-None": case(score_article, TypeError, lambda: ((a(), None, a()), {}, [])),
    "query-nested-class": case(
        score_article,
        TypeError,
        lambda: ((a(), a(), Nested.Inner()), {}, [Nested.Inner, Nested.Inner.__qualname__]),
    ),
    "title-surrogate": case(score_article, UnicodeEncodeError, lambda: ((a("x\udc00"), a(), a()), {}, [])),
    "query-surrogate": case(score_article, UnicodeEncodeError, lambda: ((a(), a(), a("\ud800y")), {}, [])),
    "text-not-str": case(extract_keywords, TypeError, lambda: ((b"text", [], 1), {}, [])),
    "text-surrogate": case(extract_keywords, UnicodeEncodeError, lambda: ((a("\udfff"), [], 1), {}, [])),
    # stop_words conversion.
    "stop_words-str": case(extract_keywords, TypeError, lambda: ((a(), a("the"), 1), {}, [])),
    "stop_words-set": case(extract_keywords, TypeError, lambda: ((a(), {a("the")}, 1), {}, [collections.abc.Sequence])),
    "stop_words-None": case(extract_keywords, TypeError, lambda: ((a(), None, 1), {}, [collections.abc.Sequence])),
    "stop_words-item-not-str": case(extract_keywords, TypeError, lambda: ((a(), [a("the"), 10**6], 1), {}, [])),
    "stop_words-item-surrogate": case(
        extract_keywords, UnicodeEncodeError, lambda: ((a(), [a("the"), a("\ud800")], 1), {}, [])
    ),
    "stop_words-bytes": case(extract_keywords, TypeError, lambda: ((a(), b"the", 1), {}, [])),
    "stop_words-iter-TypeError": case(
        extract_keywords, TypeError, lambda: ((a(), IterRaises(TypeError), 1), {}, [])
    ),
    "stop_words-iter-TypeError-with-cause": case(
        extract_keywords,
        TypeError,
        lambda: ((a(), IterRaises(TypeError, KeyError("cause")), 1), {}, []),
    ),
    "stop_words-iter-ValueError": case(
        extract_keywords, ValueError, lambda: ((a(), IterRaises(ValueError, KeyError("c")), 1), {}, [])
    ),
    "stop_words-iter-not-iterator": case(
        extract_keywords, TypeError, lambda: ((a(), IterNotIterator([]), 1), {}, [])
    ),
    "stop_words-next-TypeError": case(extract_keywords, TypeError, lambda: ((a(), NextRaises(TypeError), 1), {}, [])),
    "stop_words-next-RuntimeError": case(
        extract_keywords, RuntimeError, lambda: ((a(), NextRaises(RuntimeError), 1), {}, [])
    ),
    # top_n conversion.
    "top_n-float": case(extract_keywords, TypeError, lambda: ((a(), words("x"), 2.5), {}, [])),
    "top_n-str": case(extract_keywords, TypeError, lambda: ((a(), words("x"), a("3")), {}, [])),
    "top_n-negative": case(extract_keywords, OverflowError, lambda: ((a(), words("x"), -(10**6)), {}, [])),
    "top_n-too-big": case(extract_keywords, OverflowError, lambda: ((a(), words("x"), 2**64), {}, [])),
    "top_n-index-negative": case(extract_keywords, OverflowError, lambda: ((a(), words("x"), HasIndex(-(10**6))), {}, [])),
    "top_n-index-TypeError-with-cause": case(
        extract_keywords, TypeError, lambda: ((a(), words("x"), IndexRaises(TypeError, KeyError("c"))), {}, [])
    ),
    "top_n-index-ValueError": case(
        extract_keywords, ValueError, lambda: ((a(), words("x"), IndexRaises(ValueError)), {}, [])
    ),
    "top_n-index-unprintable-TypeError": case(
        extract_keywords, TypeError, lambda: ((a(), words("x"), IndexRaisesUnprintable()), {}, [])
    ),
}


SHARED_INDEX = _index.Index()


def index_round(articles, query, top_n=None, *, index=None):
    index = _index.Index() if index is None else index
    index.add(articles, workers=2)
    index.rank(query, top_n, include_zero=True, row_type=RankedArticle)
    index.scores(query)
    index.article(0)
    index.rank_many([query, query], top_n, include_zero=True, workers=2, row_type=RankedArticle)


def index_case(raises, make):
    """An index case: make() -> (articles, query, top_n); every str of the
    articles and the shared index are watched too."""

    def make_args():
        articles, query, top_n = make()
        parts = [part for article in articles for part in (article.values() if isinstance(article, dict) else article)]
        return (articles, query, top_n), {"index": SHARED_INDEX}, [*parts, SHARED_INDEX]

    return Case(index_round, raises, make_args)


CASES |= {
    "index": index_case(None, lambda: ([(a("Market news"), a("the market")), {"title": a("\u03a3"), "content": a("x")}], a("market"), HasIndex(2))),
    "index-content-int": index_case(TypeError, lambda: ([(a("t"), a("c")), (a("t"), 10**6)], a("q"), None)),
    "index-without-content": index_case(TypeError, lambda: ([{"title": a("t")}], a("q"), None)),
    "index-surrogate": index_case(UnicodeEncodeError, lambda: ([(a("t"), a("\ud800"))], a("q"), None)),
    "index-query-bytes": index_case(TypeError, lambda: ([(a("t"), a("c"))], b"q", None)),
    "index-top_n-negative": index_case(ValueError, lambda: ([(a("t"), a("c"))], a("q"), HasIndex(-1))),
    "index-top_n-float": index_case(TypeError, lambda: ([(a("t"), a("c"))], a("q"), 2.5)),
    "index-many-query-bytes": Case(
        lambda queries, index: index.rank_many(queries),
        TypeError,
        lambda: (([a("q"), b"q"],), {"index": SHARED_INDEX}, [SHARED_INDEX]),
    ),
}


def prepare(name):
    case = CASES[name]
    args, kwargs, extra = case.make_args()
    # The module and its functions must not gain references either.
    extra = [*extra, _core, score_article, extract_keywords]
    return Call(case.func, args, kwargs, case.raises, _watch(args, kwargs, extra))


@pytest.mark.usefixtures("quiet_unraisable")
@pytest.mark.parametrize("name", CASES)
def test_reference_counts_are_unchanged(name):
    call = prepare(name)
    call()  # once-only caches are filled by the first call
    before = [sys.getrefcount(obj) for obj in call.watched]
    for _ in range(100):
        call()
    after = [sys.getrefcount(obj) for obj in call.watched]
    changed = [(repr(obj)[:60], b, c) for obj, b, c in zip(call.watched, before, after) if b != c]
    assert changed == []


def assert_no_block_leak(call, *, warmups=3, runs=6, calls_per_run=20):
    """Leak check in the manner of CPython's refleak hunter: after warm-up
    runs, count the allocated blocks around several tracked runs; it is a leak
    only if every run left at least one block more than it found."""
    for _ in range(warmups):
        for _ in range(calls_per_run):
            call()
    deltas = []
    gc.collect()
    before = sys.getallocatedblocks()
    for _ in range(runs):
        for _ in range(calls_per_run):
            call()
        gc.collect()
        after = sys.getallocatedblocks()
        deltas.append(after - before)
        before = after
    assert not all(delta >= 1 for delta in deltas), f"blocks left behind per run of {calls_per_run} calls: {deltas}"


@pytest.mark.usefixtures("quiet_unraisable")
@pytest.mark.parametrize("name", CASES)
def test_no_memory_blocks_leak(name):
    assert_no_block_leak(prepare(name))


@pytest.mark.usefixtures("quiet_unraisable")
def test_results_of_many_calls_leak_nothing():
    text = new_str("alpha beta beta gamma gamma gamma \u4e2d\u6587 \u0130stanbul " * 20)
    stop_words = words("delta")

    def call():
        extract_keywords(text, stop_words, 10)
        score_article(text, text, text)

    assert_no_block_leak(call)
