"""Threads and sub-interpreters.

Many threads call both functions at once on shared argument objects, some
getting errors while others get results; the module's two process-wide
once-only caches (the Sequence type for one error message, the exception
type for internal faults) are first created while other threads contend for
them. Results and messages stay exact, nothing leaks and nothing deadlocks.

Sub-interpreters: the module is defined for multi-phase initialisation with
no Py_mod_multiple_interpreters slot, so the interpreter's default applies:
it loads in every interpreter that shares the main interpreter's GIL and is
refused by one with a GIL of its own (the default interpreter of
concurrent.interpreters). Its caches are process-wide, so an object cached
by one interpreter serves the others, also after that interpreter is gone.
"""

import gc
import subprocess
import sys
import textwrap
import threading
from typing import NamedTuple

import pytest

from hardening import assert_no_leak, new_str
from parvenkel import ArticleIndex, _core, score_many

score_article = _core.score_article
extract_keywords = _core.extract_keywords

THREADS = 8
ROUNDS = 60
#: Generous; only a deadlock can exceed it.
JOIN_SECONDS = 300


@pytest.fixture
def frequent_switches():
    """Let the interpreter switch threads as often as it can."""
    previous = sys.getswitchinterval()
    sys.setswitchinterval(1e-6)
    try:
        yield
    finally:
        sys.setswitchinterval(previous)


def run_threads(target, count=THREADS):
    """Starts `count` threads running target(index) together; returns the
    exceptions they raised. A thread still running after JOIN_SECONDS is a
    deadlock."""
    barrier = threading.Barrier(count)
    errors = []

    def body(index):
        try:
            barrier.wait()
            target(index)
        except BaseException as error:  # noqa: BLE001 - reported below
            errors.append(error)

    threads = [threading.Thread(target=body, args=(i,), daemon=True) for i in range(count)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join(JOIN_SECONDS)
    assert not any(thread.is_alive() for thread in threads), "threads still running: deadlock"
    return errors


# --------------------------------------------------------------------------
# Shared arguments and the outcome every call must have.


class IndexRaises:
    """__index__ raises a new TypeError each time, from one shared cause (a
    shared exception raised again would grow its traceback with every
    raise)."""

    def __init__(self, cause):
        self.cause = cause

    def __index__(self):
        raise TypeError("bad index") from self.cause


class IterRaises:
    def __len__(self):
        return 1

    def __getitem__(self, index):
        raise IndexError(index)

    def __iter__(self):
        raise ValueError("no iteration")


# Counts chosen so that no two words tie: the order of the result is fixed.
TEXT = new_str(
    "Gamma gamma GAMMA gamma delta delta delta \u0394\u0395\u039b\u03a4\u0391 "
    "alpha beta beta \u4e2d\u6587 \u4e2d\u6587 \u4e2d\u6587 \u4e2d\u6587 \u4e2d\u6587 "
    "\u0130stanbul the the the the the the"
)
STOP_WORDS = [new_str("the"), new_str("Alpha")]
STOP_TUPLE = tuple(STOP_WORDS)
STOP_SET = set(STOP_WORDS)
TITLE = new_str("Gamma rays and \u039f\u0394\u039f\u03a3")
QUERY = new_str("GAMMA")
SURROGATE = new_str("abc\ud800")
INDEX_CAUSE = KeyError("cause")
BAD_INDEX = IndexRaises(INDEX_CAUSE)
BAD_ITER = IterRaises()


def _expected_keywords():
    # delta occurs 3 times plus ΔΕΛΤΑ lowercased to δελτα (a different word).
    return [
        ("\u4e2d\u6587", 5),
        ("gamma", 4),
        ("delta", 3),
        ("beta", 2),
        ("\u03b4\u03b5\u03bb\u03c4\u03b1", 1),
        ("i\u0307stanbul", 1),
        ("alpha", 1),  # the stop word "Alpha" is used as it is: it matches nothing
    ]


def _sequence_message(kind):
    return f"argument 'stop_words': '{kind}' object is not an instance of 'Sequence'"


# (call, expected result) or (call, (exception type, message or None))
OUTCOMES = [
    (lambda: extract_keywords(TEXT, STOP_WORDS, 3), _expected_keywords()[:3]),
    (lambda: sorted(extract_keywords(TEXT, STOP_TUPLE, 2**64 - 1)), sorted(_expected_keywords())),
    (lambda: score_article(TITLE, TEXT, QUERY), 1100.0),
    (lambda: score_article(TITLE, TEXT, new_str("\u03bf\u03b4\u03bf\u03c2")), 500.0),
    (lambda: extract_keywords(TEXT, STOP_SET, 3), (TypeError, _sequence_message("set"))),
    (lambda: extract_keywords(TEXT, None, 3), (TypeError, "argument 'stop_words': 'None' is not an instance of 'Sequence'")),
    (lambda: score_article(TITLE, None, QUERY), (TypeError, "argument 'content': 'None' is not an instance of 'str'")),
    (lambda: score_article(TITLE, TEXT), (TypeError, "score_article() missing 1 required positional argument: 'query'")),
    (lambda: extract_keywords(TEXT, STOP_WORDS, -1), (OverflowError, None)),
    (lambda: extract_keywords(SURROGATE, STOP_WORDS, 1), (UnicodeEncodeError, None)),
    (lambda: extract_keywords(TEXT, [SURROGATE], 1), (UnicodeEncodeError, None)),
    (lambda: extract_keywords(TEXT, STOP_WORDS, BAD_INDEX), (TypeError, "argument 'top_n': bad index")),
    (lambda: extract_keywords(TEXT, BAD_ITER, 1), (ValueError, "no iteration")),
]


def check_outcome(index):
    """Runs OUTCOMES[index]; returns a description of a mismatch or None."""
    call, expected = OUTCOMES[index]
    if isinstance(expected, tuple) and isinstance(expected[0], type):
        error_type, message = expected
        try:
            result = call()
        except BaseException as error:  # noqa: BLE001 - compared below
            if type(error) is not error_type:
                return f"{index}: {type(error).__name__}: {error}"
            if message is not None and str(error) != message:
                return f"{index}: message {str(error)!r}"
            if error_type is TypeError and message and message.startswith("argument 'top_n'"):
                if error.__cause__ is not INDEX_CAUSE or not error.__suppress_context__:
                    return f"{index}: cause {error.__cause__!r}"
            return None
        return f"{index}: returned {result!r}"
    try:
        result = call()
    except BaseException as error:  # noqa: BLE001 - compared below
        return f"{index}: {type(error).__name__}: {error}"
    return None if result == expected else f"{index}: returned {result!r}"


def test_the_outcomes_hold_in_one_thread():
    assert [check_outcome(i) for i in range(len(OUTCOMES))] == [None] * len(OUTCOMES)


@pytest.mark.usefixtures("frequent_switches")
def test_threads_sharing_arguments_get_exact_results_and_errors():
    mismatches = []

    def work(thread):
        # Each thread walks the table from its own starting point, so at any
        # moment some threads are failing while others succeed.
        for round_ in range(ROUNDS):
            for step in range(len(OUTCOMES)):
                problem = check_outcome((thread + round_ + step) % len(OUTCOMES))
                if problem:
                    mismatches.append(problem)

    assert run_threads(work) == []
    assert mismatches == []


@pytest.mark.usefixtures("frequent_switches")
def test_one_index_shared_by_adders_rankers_and_a_saver(tmp_path):
    # Adders append batches while rankers query and a saver saves and loads
    # again: every answer and every saved file is the index as it was at
    # one moment, articles being only appended.
    batches = [[(new_str(f"Gamma {t}.{b}"), new_str("gamma \u4e2d\u6587 " * (b % 3))) for b in range(40)] for t in range(2)]
    index = ArticleIndex([(TITLE, TEXT)])
    seen = []
    snapshots = []

    def work(thread):
        if thread < 2:
            for k in range(0, 40, 8):
                index.add(batches[thread][k : k + 8], workers=1 + k % 2)
            for bad in ([(TITLE, 1)], [{"title": TITLE}]):
                with pytest.raises(TypeError):
                    index.add(bad)  # refused whole: nothing is added
        elif thread < 4:
            for _ in range(ROUNDS):
                seen.append(index.rank(QUERY, 5 * thread, include_zero=thread == 3))
                # One call answers every query from the same articles,
                # however many threads it uses.
                many = index.rank_many([QUERY] * 4, None, include_zero=True, workers=thread - 1)
                assert all(ranking == many[0] for ranking in many)
                seen.extend(many)
        else:
            for k in range(5):
                path = tmp_path / f"{k}.idx"
                index.save(path)
                snapshots.append(ArticleIndex.load(path))

    assert run_threads(work, count=5) == []
    final = [index.article(k) for k in range(len(index))]
    assert len(final) == 81 and sorted(final[1:]) == sorted(batches[0] + batches[1])
    for ranking in seen:
        assert all(final[row.position] == row.article for row in ranking)
    for loaded in snapshots:
        prefix = final[: len(loaded)]
        assert [loaded.article(k) for k in range(len(loaded))] == prefix
        assert loaded.scores(QUERY) == score_many(prefix, QUERY)


class Sighted(NamedTuple):
    score: float
    position: int
    article: tuple


@pytest.mark.usefixtures("frequent_switches")
def test_a_batch_rows_are_out_of_sight_until_their_strs_are_whole():
    # rank_many on two workers makes its rows while threads still fill the
    # strs they hold, then fills the rest with the interpreter released:
    # another thread looking through the collector's objects meanwhile must
    # not find a row whose strs are half made. Once returned, every row is
    # in the collector's sight (else a cycle through one would never be
    # collected).
    articles = [(f"τίτλος {k}", "κείμενο \u4e2d\u6587 \U0001f600 " * 40_000) for k in range(4)]
    index = ArticleIndex(articles)._native
    done = threading.Event()
    half_made = []

    def look():
        while not done.is_set():
            rows = [o for o in gc.get_objects(0) if type(o) is Sighted]
            half_made.extend(row.position for row in rows if row.article != articles[row.position])

    looker = threading.Thread(target=look)
    looker.start()
    try:
        for _ in range(10):
            batch = index.rank_many(["κείμενο", "τίτλος"], workers=2, row_type=Sighted)
            assert half_made == []
            assert [len(rows) for rows in batch] == [4, 4]
            assert all(gc.is_tracked(row) for rows in batch for row in rows)
            assert all(row.article == articles[row.position] for rows in batch for row in rows)
            del batch
    finally:
        done.set()
        looker.join()


@pytest.mark.usefixtures("frequent_switches")
def test_threads_leak_nothing():
    def workload():
        assert run_threads(lambda thread: [check_outcome(i) for i in range(len(OUTCOMES))], count=4) == []

    assert_no_leak(workload, warmups=2, runs=5, calls_per_run=3)


@pytest.mark.usefixtures("frequent_switches")
def test_shared_mutable_stop_words_changed_by_another_thread():
    # One thread keeps changing the list that the others pass as stop words:
    # each call sees some state of the list, never a broken one.
    stop_words = [new_str("gamma")]
    choices = {("gamma",), ("gamma", "delta"), ()}
    stop = threading.Event()
    problems = []

    def mutate():
        while not stop.is_set():
            stop_words.append(new_str("delta"))
            del stop_words[1:]
            stop_words.clear()
            stop_words.append(new_str("gamma"))

    def call(thread):
        for _ in range(ROUNDS * 5):
            words = {word for word, _ in extract_keywords(TEXT, stop_words, 2**64 - 1)}
            excluded = tuple(w for w in ("gamma", "delta") if w not in words)
            if excluded not in choices:
                problems.append(excluded)

    mutator = threading.Thread(target=mutate, daemon=True)
    mutator.start()
    try:
        assert run_threads(call, count=4) == []
    finally:
        stop.set()
        mutator.join(JOIN_SECONDS)
    assert problems == []


# --------------------------------------------------------------------------
# The once-only caches, first created under contention. Each check runs in a
# fresh interpreter process, where the caches are still empty.


def run_child(program, timeout=JOIN_SECONDS):
    child = subprocess.run(
        [sys.executable, "-P", "-c", textwrap.dedent(program)],
        capture_output=True,
        text=True,
        timeout=timeout,
    )
    assert child.returncode == 0, child.stdout + child.stderr
    return child.stdout.split()


CONTENDED_SEQUENCE_TYPE = """
    import sys, threading
    from parvenkel import _core

    sys.setswitchinterval(1e-6)
    THREADS = 16
    barrier = threading.Barrier(THREADS)
    messages = []

    def work(kind):
        barrier.wait()
        for _ in range(20):
            try:
                _core.extract_keywords("x", kind(), 1)
            except TypeError as error:
                messages.append((kind.__name__, str(error)))

    kinds = [set, dict, frozenset, int]
    threads = [threading.Thread(target=work, args=(kinds[i % 4],)) for i in range(THREADS)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert len(messages) == THREADS * 20, len(messages)
    for kind, message in messages:
        assert message == f"argument 'stop_words': '{kind}' object is not an instance of 'Sequence'", message
    print("ok")
"""


@pytest.mark.parametrize("attempt", range(3))
def test_the_sequence_type_cache_created_under_contention(attempt):
    assert run_child(CONTENDED_SEQUENCE_TYPE) == ["ok"]


INTERNAL_FAULT_TYPE = """
    import sys
    import _testcapi
    from parvenkel import _core

    sys.unraisablehook = lambda report: None
    f = _core.extract_keywords
    text = "alpha beta beta"
    stop = []

    # Find the first allocation of a successful call whose failure the module
    # reports as an internal fault (the result list cannot be created).
    for start in range(200):
        _testcapi.set_nomemory(start, start + 1)
        try:
            f(text, stop, 5)
            outcome = None
        except BaseException as error:
            outcome = error
        _testcapi.remove_mem_hooks()
        if outcome is not None and not isinstance(outcome, MemoryError):
            break
    else:
        raise AssertionError("no internal fault")
    fault_type = type(outcome)
    assert not issubclass(fault_type, Exception) and fault_type.__bases__ == (BaseException,)
    print(fault_type.__module__, fault_type.__qualname__)

    # Every later fault has the same type.
    for _ in range(3):
        _testcapi.set_nomemory(start, start + 1)
        try:
            f(text, stop, 5)
        except BaseException as error:
            outcome = error
        _testcapi.remove_mem_hooks()
        assert type(outcome) is fault_type, outcome
    assert f(text, stop, 5) == [("beta", 2), ("alpha", 1)]
    print("ok")
"""


def test_the_internal_fault_type_is_created_once():
    assert run_child(INTERNAL_FAULT_TYPE) == ["parvenkel._core", "InternalError", "ok"]


INTERNAL_FAULT_TYPE_NOT_CREATED = """
    import sys
    import _testcapi
    from parvenkel import _core

    sys.unraisablehook = lambda report: None
    f = _core.extract_keywords
    text = "alpha beta beta"
    stop = []

    # Every allocation fails from the first one: the result list cannot be
    # made, and neither can the internal fault type. The failure to create it
    # is what the caller sees; nothing is stored.
    _testcapi.set_nomemory(0, 0)
    try:
        f(text, stop, 5)
        outcome = None
    except BaseException as error:
        outcome = error
    _testcapi.remove_mem_hooks()
    print(type(outcome).__name__)

    # The next fault creates the type.
    for start in range(200):
        _testcapi.set_nomemory(start, start + 1)
        try:
            f(text, stop, 5)
            outcome = None
        except BaseException as error:
            outcome = error
        _testcapi.remove_mem_hooks()
        if outcome is not None and not isinstance(outcome, MemoryError):
            break
    print(type(outcome).__name__)
    assert f(text, stop, 5) == [("beta", 2), ("alpha", 1)]
"""


def test_a_failed_creation_of_the_internal_fault_type_stores_nothing():
    assert run_child(INTERNAL_FAULT_TYPE_NOT_CREATED) == ["MemoryError", "InternalError"]


# --------------------------------------------------------------------------
# Sub-interpreters.

INTERPRETER_MATRIX = """
import _interpreters

CHECK = '''
import parvenkel._core as core
assert core.score_article("Market news", "", "MARKET") == 1000.0
assert core.extract_keywords("aaa bbb aaa", ["bbb"], 5) == [("aaa", 2)]
'''
configs = {
    "legacy": _interpreters.new_config("legacy"),
    "shared-gil-checked": _interpreters.new_config("isolated", gil="shared"),
    "own-gil": _interpreters.new_config("isolated"),
}
for name, config in configs.items():
    interp = _interpreters.create(config)
    try:
        failure = _interpreters.exec(interp, CHECK)
    finally:
        _interpreters.destroy(interp)
    print(name, "ok" if failure is None else failure.type.__name__)
"""


def test_which_interpreters_load_the_module():
    # Multi-phase initialisation without Py_mod_multiple_interpreters: the
    # module supports several interpreters, but not a GIL per interpreter.
    assert run_child(INTERPRETER_MATRIX) == [
        "legacy", "ok",
        "shared-gil-checked", "ok",
        "own-gil", "ImportError",
    ]


def test_the_default_concurrent_interpreter_refuses_the_module():
    program = """
        from concurrent import interpreters
        interp = interpreters.create()
        try:
            interp.exec("import parvenkel._core")
        except interpreters.ExecutionFailed as failure:
            print(failure.excinfo.type.__name__)
            print(failure.excinfo.msg == "module parvenkel._core does not support loading in subinterpreters")
        else:
            print("loaded")
        finally:
            interp.close()
    """
    assert run_child(program) == ["ImportError", "True"]


CACHES_ACROSS_INTERPRETERS = """
import _interpreters

CHECK = '''
import parvenkel._core as core
try:
    core.extract_keywords("x", {kind}(), 1)
except TypeError as error:
    assert str(error) == "argument 'stop_words': '{kind}' object is not an instance of 'Sequence'", error
else:
    raise AssertionError("no TypeError")
'''
def in_subinterpreter(kind):
    interp = _interpreters.create("legacy")
    try:
        failure = _interpreters.exec(interp, CHECK.format(kind=kind))
    finally:
        _interpreters.destroy(interp)
    assert failure is None, failure

# The first failed sequence test of the process happens in an interpreter
# that is then destroyed; the main one and new ones still word the
# message from the cached type.
in_subinterpreter("set")
exec(CHECK.format(kind="dict"))
in_subinterpreter("frozenset")
import gc
gc.collect()
exec(CHECK.format(kind="set"))
print("ok")
"""


def test_the_caches_serve_every_interpreter():
    assert run_child(CACHES_ACROSS_INTERPRETERS) == ["ok"]


THREADS_IN_SUBINTERPRETERS = """
import threading, _interpreters

CHECK = '''
import parvenkel._core as core
text = "gamma gamma gamma delta delta " * 20
for _ in range(200):
    assert core.extract_keywords(text, ["x"], 5) == [("gamma", 60), ("delta", 40)]
    assert core.score_article("Gamma", text, "GAMMA") == 1100.0
    try:
        core.extract_keywords(text, set(), 5)
    except TypeError as error:
        assert "'set' object is not an instance of 'Sequence'" in str(error)
'''
failures = []

def work():
    interp = _interpreters.create("legacy")
    try:
        failure = _interpreters.exec(interp, CHECK)
        if failure is not None:
            failures.append(failure.formatted)
    finally:
        _interpreters.destroy(interp)

threads = [threading.Thread(target=work) for _ in range(4)]
for t in threads:
    t.start()
exec(CHECK)
for t in threads:
    t.join()
assert failures == [], failures
print("ok")
"""


def test_threads_in_several_interpreters_at_once():
    assert run_child(THREADS_IN_SUBINTERPRETERS) == ["ok"]
