"""The Python face of parvenkel._core: the module object, its two functions,
argument binding and conversion, and the exact exception of every failure."""

import _imp
import collections
import collections.abc
import contextlib
import datetime
import decimal
import fractions
import inspect
import itertools
import operator
import pickle
import shutil
import subprocess
import sys
import textwrap
import threading
import types
import warnings
from dataclasses import dataclass

import pytest

import parvenkel
from hardening import HasIndex
from parvenkel import _core

score_article = _core.score_article
extract_keywords = _core.extract_keywords


# --------------------------------------------------------------------------
# Helpers


@dataclass(frozen=True)
class Function:
    func: object
    display: str  # how binding messages name the function
    params: tuple[str, str, str]
    valid: tuple  # one valid positional call


SCORE = Function(score_article, "score_article()", ("title", "content", "query"), ("t", "c", "q"))
KEYWORDS = Function(extract_keywords, "extract_keywords()", ("text", "stop_words", "top_n"), ("x", [], 1))
BOTH = [pytest.param(SCORE, id="score_article"), pytest.param(KEYWORDS, id="extract_keywords")]


@contextlib.contextmanager
def unraisable_reports():
    """Collect what reaches sys.unraisablehook instead of printing it."""
    reports = []
    previous = sys.unraisablehook
    sys.unraisablehook = reports.append
    try:
        yield reports
    finally:
        sys.unraisablehook = previous


def interpreter_error(func, *args):
    """The exception the interpreter itself raises for func(*args)."""
    try:
        func(*args)
    except Exception as exc:  # noqa: BLE001 - we want whatever it raises
        return exc
    raise AssertionError(f"{func!r}{args!r} did not raise")


def unsigned_conversion_message(value):
    """The interpreter's OverflowError text for an int outside 0..2**64-1, or
    None when the interpreter's test module is unavailable to tell us."""
    try:
        from _testlimitedcapi import pylong_asunsignedlonglong
    except ImportError:
        return None
    return str(interpreter_error(pylong_asunsignedlonglong, value))


def assert_no_prefix_overflow(exc_info, value):
    assert type(exc_info.value) is OverflowError
    message = str(exc_info.value)
    assert not message.startswith("argument")
    expected = unsigned_conversion_message(value)
    if expected is not None:
        assert message == expected


def assert_type_error(exc, message):
    assert type(exc) is TypeError, repr(exc)
    assert exc.args == (message,)
    assert str(exc) == message


def assert_argument_error(exc, param, detail):
    """A conversion TypeError: reworded with the parameter name, no cause."""
    assert_type_error(exc, f"argument '{param}': {detail}")
    assert exc.__cause__ is None
    assert exc.__suppress_context__ is True


def assert_encode_error(exc, text):
    """The interpreter's UnicodeEncodeError for `text`, passed on unchanged."""
    expected = interpreter_error(text.encode, "utf-8")
    assert type(exc) is UnicodeEncodeError
    assert str(exc) == str(expected)
    assert (exc.encoding, exc.object, exc.start, exc.end, exc.reason) == (
        expected.encoding,
        expected.object,
        expected.start,
        expected.end,
        expected.reason,
    )
    assert "argument" not in str(exc)


def replace_ill_formed(text):
    """The text a message shows for `text`: each lone surrogate stands as the
    three U+FFFD of its three ill-formed bytes."""
    return text.encode("utf-8", "surrogatepass").decode("utf-8", "replace")


def assert_passed_on(exc, original, param):
    """An error raised by the caller's own code during conversion: an exact
    TypeError is reworded with the parameter name and keeps its cause,
    anything else comes through as the very same object."""
    if type(original) is TypeError:
        assert exc is not original
        assert_type_error(exc, f"argument '{param}': {replace_ill_formed(str(original))}")
        assert exc.__cause__ is original.__cause__
        assert exc.__suppress_context__ is True
    else:
        assert exc is original


class Outer:
    class Inner:
        pass


class Renamed:
    pass


Renamed.__qualname__ = "Elsewhere.Renamed"


def _class_named(qualname):
    cls = type("Named", (), {})
    cls.__qualname__ = qualname
    return cls


NulNamed = _class_named("before\0after")
NonAsciiNamed = _class_named("\u00dcn\u00efc\u00f6d\u00e9.\u216b\U0001f600")
LongNamed = _class_named("Q" * 5000)


class PosingAsStr:
    """isinstance() believes it is a str; its type says otherwise."""

    @property
    def __class__(self):
        return str


class StrSubclass(str):
    pass


class TrickyStr(str):
    """Every Python-level view of this string lies; only its characters count."""

    def __eq__(self, other):
        return True

    def __hash__(self):
        return 0

    def __str__(self):
        return "lie"

    def lower(self):
        return "lie"

    def encode(self, *args, **kwargs):
        return b"lie"


class IntSubclass(int):
    def __index__(self):
        raise AssertionError("__index__ of an int subclass must not be called")


class Unprintable:
    def __str__(self):
        raise ValueError("no text for you")


class SequenceLike:
    """Passes the sequence test (it has __getitem__) and iterates its items."""

    def __init__(self, items):
        self.items = list(items)

    def __getitem__(self, index):
        return self.items[index]

    def __len__(self):
        return len(self.items)


class RegisteredSequence:
    """Claims to be a Sequence by registration only; has no __getitem__."""

    def __iter__(self):
        return iter(["the"])

    def __len__(self):
        return 1


collections.abc.Sequence.register(RegisteredSequence)


# --------------------------------------------------------------------------
# The module object


def test_all_lists_the_functions_in_registration_order():
    assert type(_core.__all__) is list
    assert _core.__all__ == ["extract_keywords", "score_article"]


def test_module_doc_is_the_empty_string():
    assert _core.__doc__ == ""


def test_module_name_is_the_full_dotted_name():
    assert _core.__name__ == "parvenkel._core"


def test_module_has_only_default_attributes_and_its_functions():
    # What every module object has, plus the file it was loaded from.
    defaults = set(vars(types.ModuleType("empty"))) | {"__file__"}
    assert set(vars(_core)) == defaults | {"__all__", "extract_keywords", "score_article"}


@pytest.mark.parametrize(
    "func, name, signature, doc",
    [
        pytest.param(
            score_article,
            "score_article",
            "(title, content, query)",
            "Score an article title + content against a query.",
            id="score_article",
        ),
        pytest.param(
            extract_keywords,
            "extract_keywords",
            "(text, stop_words, top_n)",
            "Extract top-N keywords from text, excluding stop words.\n"
            "Returns list of (word, count) sorted by frequency descending.",
            id="extract_keywords",
        ),
    ],
)
def test_function_object(func, name, signature, doc):
    assert type(func) is types.BuiltinFunctionType
    assert func.__name__ == name
    assert func.__qualname__ == name
    assert func.__self__ is None
    assert func.__module__ == _core.__name__
    assert func.__text_signature__ == signature
    assert func.__doc__ == doc
    assert getattr(_core, name) is func
    assert getattr(parvenkel, name) is func
    parameters = inspect.signature(func).parameters.values()
    assert [(p.name, p.kind, p.default) for p in parameters] == [
        (p, inspect.Parameter.POSITIONAL_OR_KEYWORD, inspect.Parameter.empty)
        for p in signature.strip("()").split(", ")
    ]
    # Found again by module and name.
    assert pickle.loads(pickle.dumps(func)) is func


def test_shared_object_exports_only_its_init_function():
    nm = shutil.which("nm")
    if nm is None:
        pytest.skip("nm is not installed")
    listing = subprocess.run(
        [nm, "-D", "--defined-only", _core.__file__], capture_output=True, text=True, check=True
    ).stdout
    symbols = {line.split()[-1] for line in listing.splitlines() if line.strip()}
    assert symbols == {"PyInit__core"}


def test_a_second_module_object_gets_functions_of_its_own():
    # Load the extension file afresh, the way the import system does.
    module = _imp.create_dynamic(types.SimpleNamespace(name=_core.__name__, origin=_core.__file__))
    _imp.exec_dynamic(module)
    assert module is not _core
    assert module.__doc__ == ""
    assert module.__all__ == ["extract_keywords", "score_article"]
    assert module.__all__ is not _core.__all__
    for name in module.__all__:
        func = getattr(module, name)
        assert func is not getattr(_core, name)
        assert func.__module__ == "parvenkel._core"
        assert func.__self__ is None
    assert module.score_article("Market news", "", "market") == 1000.0
    assert module.extract_keywords("the the cat", [], 5) == [("the", 2), ("cat", 1)]
    # The first module is untouched.
    assert _core.__all__ == ["extract_keywords", "score_article"]


SUBINTERPRETER_PROGRAM = '''
import _interpreters

CHECK = """
import parvenkel._core as core
assert core.__all__ == ["extract_keywords", "score_article"], core.__all__
assert core.score_article("Market news", "", "MARKET") == 1000.0
assert core.extract_keywords("aaa bbb aaa", ["bbb"], 5) == [("aaa", 2)]
try:
    core.extract_keywords("x", set(), 1)
except TypeError as error:
    assert str(error) == "argument 'stop_words': 'set' object is not an instance of 'Sequence'", error
else:
    raise AssertionError("no TypeError")
"""

for config in ("legacy", "isolated"):
    interp = _interpreters.create(config)
    try:
        failure = _interpreters.run_string(interp, CHECK)
    finally:
        _interpreters.destroy(interp)
    print(config, "ok" if failure is None else failure.type.__name__ + ": " + failure.msg)
'''


def test_subinterpreters_load_the_module_when_they_share_the_gil():
    # In a child process, so that no subinterpreter outlives the test.
    child = subprocess.run(
        [sys.executable, "-P", "-c", SUBINTERPRETER_PROGRAM], capture_output=True, text=True, timeout=120
    )
    assert child.returncode == 0, child.stderr
    assert child.stdout.splitlines() == [
        "legacy ok",
        # Without a declaration of its own, a multi-phase module may not load
        # in an interpreter that has a GIL of its own.
        "isolated ImportError: module parvenkel._core does not support loading in subinterpreters",
    ]


def test_calls_from_several_threads_agree():
    text = "alpha beta beta gamma gamma gamma " * 50
    expected = [("gamma", 150), ("beta", 100), ("alpha", 50)]
    failures = []

    def work():
        for _ in range(200):
            if extract_keywords(text, ["delta"], 10) != expected:
                failures.append("keywords")
            if score_article("Gamma rays", text, "GAMMA") != 1100.0:
                failures.append("score")

    threads = [threading.Thread(target=work) for _ in range(4)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert failures == []


# --------------------------------------------------------------------------
# Binding


@pytest.mark.parametrize(
    "args, kwargs, message",
    [
        (("a", "b", "c", "d"), {}, "score_article() takes 3 positional arguments but 4 were given"),
        (("a", "b", "c", "d", "e"), {}, "score_article() takes 3 positional arguments but 5 were given"),
        (("a", "b"), {}, "score_article() missing 1 required positional argument: 'query'"),
        (("a",), {}, "score_article() missing 2 required positional arguments: 'content' and 'query'"),
        ((), {}, "score_article() missing 3 required positional arguments: 'title', 'content', and 'query'"),
        ((), {"content": "b"}, "score_article() missing 2 required positional arguments: 'title' and 'query'"),
        (("a", "b", "c"), {"title": "d"}, "score_article() got multiple values for argument 'title'"),
        (("a", "b", "c"), {"Title": "d"}, "score_article() got an unexpected keyword argument 'Title'"),
        ((), {"Title": "d"}, "score_article() got an unexpected keyword argument 'Title'"),
    ],
)
def test_binding_messages_of_score_article(args, kwargs, message):
    with pytest.raises(TypeError) as info:
        score_article(*args, **kwargs)
    assert_type_error(info.value, message)


# Each row builds a call from the function's valid arguments `v` and parameter
# names `p`; {f} is the function's display name, {p[i]} a parameter name.
BINDING_ERRORS = [
    ("4 positional", lambda v, p: ((*v, v[0]), {}), "{f} takes 3 positional arguments but 4 were given"),
    ("5 positional", lambda v, p: ((*v, v[0], v[1]), {}), "{f} takes 3 positional arguments but 5 were given"),
    ("100 positional", lambda v, p: ((v[0],) * 100, {}), "{f} takes 3 positional arguments but 100 were given"),
    ("4 positional of wrong types", lambda v, p: ((1, 2, 3, 4), {}), "{f} takes 3 positional arguments but 4 were given"),
    (
        "4 positional and an unknown keyword",
        lambda v, p: ((*v, v[0]), {"bogus": 1}),
        "{f} takes 3 positional arguments but 4 were given",
    ),
    (
        "4 positional and a repeated keyword",
        lambda v, p: ((*v, v[0]), {p[0]: v[0]}),
        "{f} takes 3 positional arguments but 4 were given",
    ),
    ("2 positional", lambda v, p: (v[:2], {}), "{f} missing 1 required positional argument: '{p[2]}'"),
    ("1 positional", lambda v, p: (v[:1], {}), "{f} missing 2 required positional arguments: '{p[1]}' and '{p[2]}'"),
    (
        "no arguments",
        lambda v, p: ((), {}),
        "{f} missing 3 required positional arguments: '{p[0]}', '{p[1]}', and '{p[2]}'",
    ),
    (
        "1 positional of a wrong type",
        lambda v, p: ((None,), {}),
        "{f} missing 2 required positional arguments: '{p[1]}' and '{p[2]}'",
    ),
    (
        "only the first by keyword",
        lambda v, p: ((), {p[0]: v[0]}),
        "{f} missing 2 required positional arguments: '{p[1]}' and '{p[2]}'",
    ),
    (
        "only the second by keyword",
        lambda v, p: ((), {p[1]: v[1]}),
        "{f} missing 2 required positional arguments: '{p[0]}' and '{p[2]}'",
    ),
    (
        "only the third by keyword",
        lambda v, p: ((), {p[2]: v[2]}),
        "{f} missing 2 required positional arguments: '{p[0]}' and '{p[1]}'",
    ),
    (
        "third and first by keyword",
        lambda v, p: ((), {p[2]: v[2], p[0]: v[0]}),
        "{f} missing 1 required positional argument: '{p[1]}'",
    ),
    (
        "first positional, third by keyword",
        lambda v, p: (v[:1], {p[2]: v[2]}),
        "{f} missing 1 required positional argument: '{p[1]}'",
    ),
    (
        "second and third by keyword",
        lambda v, p: ((), {p[1]: v[1], p[2]: v[2]}),
        "{f} missing 1 required positional argument: '{p[0]}'",
    ),
    ("first repeated", lambda v, p: (v, {p[0]: v[0]}), "{f} got multiple values for argument '{p[0]}'"),
    (
        "first repeated while others are missing",
        lambda v, p: (v[:1], {p[0]: v[0]}),
        "{f} got multiple values for argument '{p[0]}'",
    ),
    ("second repeated", lambda v, p: (v[:2], {p[1]: v[1]}), "{f} got multiple values for argument '{p[1]}'"),
    ("third repeated", lambda v, p: (v, {p[2]: v[2]}), "{f} got multiple values for argument '{p[2]}'"),
    (
        "repeated keyword before an unknown one",
        lambda v, p: (v[:1], {p[0]: v[0], "bogus": 1}),
        "{f} got multiple values for argument '{p[0]}'",
    ),
    (
        "unknown keyword before a repeated one",
        lambda v, p: (v[:1], {"bogus": 1, p[0]: v[0]}),
        "{f} got an unexpected keyword argument 'bogus'",
    ),
    (
        "unknown keyword after valid keywords",
        lambda v, p: ((), {p[0]: v[0], p[1]: v[1], p[2]: v[2], "bogus": 1}),
        "{f} got an unexpected keyword argument 'bogus'",
    ),
    (
        "unknown keyword while arguments are missing",
        lambda v, p: ((), {"bogus": 1}),
        "{f} got an unexpected keyword argument 'bogus'",
    ),
    (
        "unknown keyword before one of a wrong type",
        lambda v, p: (v[:2], {"bogus": 1, p[2]: object()}),
        "{f} got an unexpected keyword argument 'bogus'",
    ),
    (
        "capitalised name",
        lambda v, p: (v[:2], {p[2].capitalize(): v[2]}),
        "{f} got an unexpected keyword argument '{cap}'",
    ),
    (
        "upper-case name",
        lambda v, p: (v[:2], {p[2].upper(): v[2]}),
        "{f} got an unexpected keyword argument '{upper}'",
    ),
    ("truncated name", lambda v, p: (v[:2], {p[2][:-1]: v[2]}), "{f} got an unexpected keyword argument '{trunc}'"),
    ("extended name", lambda v, p: (v[:2], {p[2] + "s": v[2]}), "{f} got an unexpected keyword argument '{p[2]}s'"),
    (
        "name with a trailing NUL",
        lambda v, p: (v[:2], {p[2] + "\0": v[2]}),
        "{f} got an unexpected keyword argument '{p[2]}\0'",
    ),
    (
        "name with a leading space",
        lambda v, p: (v[:2], {" " + p[2]: v[2]}),
        "{f} got an unexpected keyword argument ' {p[2]}'",
    ),
    ("empty name", lambda v, p: (v, {"": 1}), "{f} got an unexpected keyword argument ''"),
    ("long name", lambda v, p: (v, {"k" * 10_000: 1}), "{f} got an unexpected keyword argument '" + "k" * 10_000 + "'"),
    ("non-ASCII name", lambda v, p: (v, {"tïtle": 1}), "{f} got an unexpected keyword argument 'tïtle'"),
    ("astral name", lambda v, p: (v, {"x\U0001f600y": 1}), "{f} got an unexpected keyword argument 'x\U0001f600y'"),
    ("lone surrogate name", lambda v, p: (v, {"\ud800": 1}), "{f} got an unexpected keyword argument '\ufffd\ufffd\ufffd'"),
    (
        "name with a lone low surrogate inside",
        lambda v, p: (v, {"a\udfffb": 1}),
        "{f} got an unexpected keyword argument 'a\ufffd\ufffd\ufffdb'",
    ),
    (
        "name made of two surrogate halves",
        lambda v, p: (v, {"\ud83d\ude00": 1}),
        "{f} got an unexpected keyword argument '" + "\ufffd" * 6 + "'",
    ),
    (
        "parameter name followed by a surrogate",
        lambda v, p: (v[:2], {p[2] + "\ud800": v[2]}),
        "{f} got an unexpected keyword argument '{p[2]}\ufffd\ufffd\ufffd'",
    ),
    (
        "str subclass as name is shown by its str()",
        lambda v, p: (v, {ShownAs("bogus", "shown"): 1}),
        "{f} got an unexpected keyword argument 'shown'",
    ),
    (
        "str() of the name holds a surrogate",
        lambda v, p: (v, {ShownAs("bogus", "x\udc80"): 1}),
        "{f} got an unexpected keyword argument 'x\ufffd\ufffd\ufffd'",
    ),
]


class ShownAs(str):
    """A keyword name whose str() differs from its characters."""

    def __new__(cls, text, shown):
        self = super().__new__(cls, text)
        self.shown = shown
        return self

    def __str__(self):
        return self.shown


def _other_functions_param(fn):
    return (KEYWORDS if fn is SCORE else SCORE).params[0]


@pytest.mark.parametrize("fn", BOTH)
@pytest.mark.parametrize("build, template", [pytest.param(b, t, id=i) for i, b, t in BINDING_ERRORS])
def test_binding_error(fn, build, template):
    args, kwargs = build(fn.valid, fn.params)
    message = template.format(
        f=fn.display,
        p=fn.params,
        cap=fn.params[2].capitalize(),
        upper=fn.params[2].upper(),
        trunc=fn.params[2][:-1],
    )
    with pytest.raises(TypeError) as info:
        fn.func(*args, **kwargs)
    assert_type_error(info.value, message)
    assert info.value.__cause__ is None
    assert info.value.__suppress_context__ is False


@pytest.mark.parametrize("fn", BOTH)
def test_another_functions_parameter_name_is_unexpected(fn):
    other = _other_functions_param(fn)
    with pytest.raises(TypeError) as info:
        fn.func(*fn.valid, **{other: fn.valid[0]})
    assert_type_error(info.value, f"{fn.display} got an unexpected keyword argument '{other}'")


class UnprintableName(str):
    def __str__(self):
        raise ValueError("no text for this name")


class BadStrName(str):
    def __str__(self):
        return 42


class Wrapper:
    class NestedUnprintableName(str):
        def __str__(self):
            raise RuntimeError("nested")


@pytest.mark.parametrize("fn", BOTH)
@pytest.mark.parametrize(
    "name, shown, raised",
    [
        (UnprintableName("bogus"), "<unprintable UnprintableName object>", ValueError),
        (BadStrName("bogus"), "<unprintable BadStrName object>", TypeError),
        # The short type name, not the qualified one.
        (Wrapper.NestedUnprintableName("bogus"), "<unprintable NestedUnprintableName object>", RuntimeError),
    ],
)
def test_unexpected_keyword_whose_str_fails(fn, name, shown, raised):
    with unraisable_reports() as reports, pytest.raises(TypeError) as info:
        fn.func(*fn.valid, **{name: 1})
    assert_type_error(info.value, f"{fn.display} got an unexpected keyword argument '{shown}'")
    assert len(reports) == 1
    assert reports[0].exc_type is raised
    assert reports[0].object is name


@pytest.mark.parametrize("fn", BOTH)
def test_str_subclass_keyword_names_bind_by_their_characters(fn):
    expected = fn.func(*fn.valid)
    kwargs = {ShownAs(name, "bogus"): value for name, value in zip(fn.params, fn.valid)}
    assert fn.func(**kwargs) == expected


@pytest.mark.parametrize("fn", BOTH)
def test_keywords_in_any_order_and_mixed_calls_bind_like_positional_ones(fn):
    if fn is SCORE:
        # Only the right order of these three arguments gives 1100.0.
        values = ("Market", "all about the market", "MARKET")
        expected = 1100.0
    else:
        values = ("the cat and the hat the cat hat hat hat", ["hat"], 2)
        expected = [("the", 3), ("cat", 2)]
    assert fn.func(*values) == expected
    named = dict(zip(fn.params, values))
    for order in itertools.permutations(fn.params):
        assert fn.func(**{name: named[name] for name in order}) == expected
    for split in range(4):
        positional = values[:split]
        for order in itertools.permutations(fn.params[split:]):
            assert fn.func(*positional, **{name: named[name] for name in order}) == expected


def test_binding_comes_before_any_conversion():
    log = []
    stop_words = TracedSequence(["the"], log)
    top_n = TracedIndex(1, log)
    for args, kwargs in [
        ((1, stop_words, top_n, 4), {}),
        ((1, stop_words), {"bogus": top_n}),
        ((1, stop_words), {"text": top_n}),
        ((1, stop_words), {}),
    ]:
        with pytest.raises(TypeError) as info:
            extract_keywords(*args, **kwargs)
        assert str(info.value).startswith("extract_keywords() ")
    assert log == []


# --------------------------------------------------------------------------
# Conversion of str arguments


NOT_STR = [
    pytest.param(lambda: 1, "'int' object is not an instance of 'str'", id="int"),
    pytest.param(lambda: None, "'None' is not an instance of 'str'", id="None"),
    pytest.param(lambda: True, "'bool' object is not an instance of 'str'", id="bool"),
    pytest.param(lambda: 1.5, "'float' object is not an instance of 'str'", id="float"),
    pytest.param(lambda: b"text", "'bytes' object is not an instance of 'str'", id="bytes"),
    pytest.param(lambda: bytearray(b"text"), "'bytearray' object is not an instance of 'str'", id="bytearray"),
    pytest.param(lambda: memoryview(b"text"), "'memoryview' object is not an instance of 'str'", id="memoryview"),
    pytest.param(lambda: ["text"], "'list' object is not an instance of 'str'", id="list"),
    pytest.param(lambda: str, "'type' object is not an instance of 'str'", id="type"),
    pytest.param(lambda: Outer.Inner(), "'Outer.Inner' object is not an instance of 'str'", id="nested-class"),
    pytest.param(lambda: Renamed(), "'Elsewhere.Renamed' object is not an instance of 'str'", id="renamed-class"),
    pytest.param(lambda: PosingAsStr(), "'PosingAsStr' object is not an instance of 'str'", id="posing-as-str"),
    pytest.param(lambda: NulNamed(), "'before\0after' object is not an instance of 'str'", id="NUL-in-name"),
    pytest.param(
        lambda: NonAsciiNamed(),
        "'\u00dcn\u00efc\u00f6d\u00e9.\u216b\U0001f600' object is not an instance of 'str'",
        id="non-ASCII-name",
    ),
    pytest.param(lambda: LongNamed(), "'" + "Q" * 5000 + "' object is not an instance of 'str'", id="long-name"),
    pytest.param(lambda: datetime.date(2020, 1, 1), "'date' object is not an instance of 'str'", id="date"),
    pytest.param(
        lambda: collections.OrderedDict(), "'OrderedDict' object is not an instance of 'str'", id="OrderedDict"
    ),
    pytest.param(
        lambda: types.SimpleNamespace(), "'SimpleNamespace' object is not an instance of 'str'", id="SimpleNamespace"
    ),
    pytest.param(
        lambda: collections.UserString("text"), "'UserString' object is not an instance of 'str'", id="UserString"
    ),
]

STR_PARAMETERS = [
    pytest.param(SCORE, 0, id="title"),
    pytest.param(SCORE, 1, id="content"),
    pytest.param(SCORE, 2, id="query"),
    pytest.param(KEYWORDS, 0, id="text"),
]


@pytest.mark.parametrize("fn, position", STR_PARAMETERS)
@pytest.mark.parametrize("make, detail", NOT_STR)
def test_str_parameter_rejects_other_types(fn, position, make, detail):
    args = list(fn.valid)
    args[position] = make()
    with pytest.raises(TypeError) as info:
        fn.func(*args)
    assert_argument_error(info.value, fn.params[position], detail)


@pytest.mark.parametrize("fn, position", STR_PARAMETERS)
@pytest.mark.parametrize("text", ["\ud800", "abc\udc80", "\U0001f600\udfff\ud800", "x" * 40 + "\udbff"])
def test_str_parameter_without_utf8_form_raises_the_interpreters_error(fn, position, text):
    args = list(fn.valid)
    args[position] = text
    with pytest.raises(UnicodeEncodeError) as info:
        fn.func(*args)
    assert_encode_error(info.value, text)


def test_str_subclasses_count_by_their_characters():
    assert score_article(TrickyStr("Market news"), TrickyStr(""), TrickyStr("MARKET")) == 1000.0
    assert score_article(StrSubclass("Other"), StrSubclass("the market"), StrSubclass("market")) == 100.0
    assert score_article(TrickyStr("abc"), TrickyStr("abc"), TrickyStr("xyz")) == 0.0
    assert extract_keywords(TrickyStr("Lie lie LIE word"), [], 5) == [("lie", 3), ("word", 1)]


# --------------------------------------------------------------------------
# Conversion of stop_words


SEQUENCE_ERRORS = [
    pytest.param(lambda: "the", "Can't extract `str` to `Vec`", id="str"),
    pytest.param(lambda: "", "Can't extract `str` to `Vec`", id="empty-str"),
    pytest.param(lambda: StrSubclass("the"), "Can't extract `str` to `Vec`", id="str-subclass"),
    pytest.param(lambda: TrickyStr("the"), "Can't extract `str` to `Vec`", id="tricky-str-subclass"),
    pytest.param(lambda: set(), "'set' object is not an instance of 'Sequence'", id="empty-set"),
    pytest.param(lambda: {"the"}, "'set' object is not an instance of 'Sequence'", id="set"),
    pytest.param(lambda: frozenset({"the"}), "'frozenset' object is not an instance of 'Sequence'", id="frozenset"),
    pytest.param(lambda: {}, "'dict' object is not an instance of 'Sequence'", id="empty-dict"),
    pytest.param(lambda: {"the": 1}, "'dict' object is not an instance of 'Sequence'", id="dict"),
    pytest.param(
        lambda: collections.OrderedDict(the=1), "'OrderedDict' object is not an instance of 'Sequence'", id="OrderedDict"
    ),
    pytest.param(lambda: collections.Counter(["the"]), "'Counter' object is not an instance of 'Sequence'", id="Counter"),
    pytest.param({}.keys, "'dict_keys' object is not an instance of 'Sequence'", id="dict-keys"),
    pytest.param(lambda: (w for w in ["the"]), "'generator' object is not an instance of 'Sequence'", id="generator"),
    pytest.param(lambda: iter(["the"]), "'list_iterator' object is not an instance of 'Sequence'", id="iterator"),
    pytest.param(lambda: map(str, "ab"), "'map' object is not an instance of 'Sequence'", id="map"),
    pytest.param(lambda: None, "'None' is not an instance of 'Sequence'", id="None"),
    pytest.param(lambda: 3, "'int' object is not an instance of 'Sequence'", id="int"),
    pytest.param(lambda: object(), "'object' object is not an instance of 'Sequence'", id="object"),
    pytest.param(lambda: Outer.Inner(), "'Outer.Inner' object is not an instance of 'Sequence'", id="nested-class"),
    pytest.param(
        lambda: RegisteredSequence(),
        "'RegisteredSequence' object is not an instance of 'Sequence'",
        id="registered-without-getitem",
    ),
    # Sequences whose items are not all str.
    pytest.param(lambda: [1], "'int' object is not an instance of 'str'", id="int-item"),
    pytest.param(lambda: ["the", None], "'None' is not an instance of 'str'", id="None-item"),
    pytest.param(lambda: ("the", b"and"), "'bytes' object is not an instance of 'str'", id="bytes-item"),
    pytest.param(lambda: [["the"]], "'list' object is not an instance of 'str'", id="list-item"),
    pytest.param(lambda: ["the", Outer.Inner()], "'Outer.Inner' object is not an instance of 'str'", id="nested-item"),
    pytest.param(lambda: [PosingAsStr()], "'PosingAsStr' object is not an instance of 'str'", id="posing-item"),
    pytest.param(lambda: b"the", "'int' object is not an instance of 'str'", id="bytes"),
    pytest.param(lambda: bytearray(b"x"), "'int' object is not an instance of 'str'", id="bytearray"),
    pytest.param(lambda: memoryview(b"x"), "'int' object is not an instance of 'str'", id="memoryview"),
    pytest.param(lambda: range(3), "'int' object is not an instance of 'str'", id="range"),
    pytest.param(
        lambda: collections.UserString("ab"), "'UserString' object is not an instance of 'str'", id="UserString"
    ),
    pytest.param(lambda: collections.UserList(["the", 1.5]), "'float' object is not an instance of 'str'", id="UserList"),
    pytest.param(lambda: SequenceLike(["the", 7]), "'int' object is not an instance of 'str'", id="getitem-sequence"),
]


@pytest.mark.parametrize("make, detail", SEQUENCE_ERRORS)
def test_stop_words_rejects(make, detail):
    with pytest.raises(TypeError) as info:
        extract_keywords("the cat", make(), 5)
    assert_argument_error(info.value, "stop_words", detail)


@pytest.mark.parametrize(
    "stop_words",
    [
        "\ud800",
        "the\udfff",
        "\U0001f600\ud83d",
    ],
)
def test_stop_word_without_utf8_form_raises_the_interpreters_error(stop_words):
    with pytest.raises(UnicodeEncodeError) as info:
        extract_keywords("the cat", ["the", stop_words, 1], 5)
    assert_encode_error(info.value, stop_words)


class GrowingWhileIterated(list):
    """Appends a stop word to itself while it is being iterated."""

    def __iter__(self):
        index = 0
        while index < len(self):
            if index == 0:
                self.append("hat")
            yield self[index]
            index += 1


class ShrinkingWhileIterated(list):
    """Empties itself after handing out its first item."""

    def __iter__(self):
        iterator = list.__iter__(self)
        yield next(iterator)
        self.clear()
        yield from iterator


class LenLies(SequenceLike):
    """A sequence whose __len__ has nothing to do with its items."""

    def __init__(self, items, length):
        super().__init__(items)
        self.length = length

    def __len__(self):
        if isinstance(self.length, BaseException):
            raise self.length
        return self.length


class ListWithWrongLen(list):
    def __len__(self):
        return 0


TEXT = "the cat and the hat the end"
ALL_WORDS = {("the", 3), ("cat", 1), ("and", 1), ("hat", 1), ("end", 1)}


@pytest.mark.parametrize(
    "make, excluded",
    [
        pytest.param(lambda: ["the", "and"], {"the", "and"}, id="list"),
        pytest.param(lambda: ("the", "and"), {"the", "and"}, id="tuple"),
        pytest.param(lambda: [], set(), id="empty-list"),
        pytest.param(lambda: (), set(), id="empty-tuple"),
        pytest.param(lambda: b"", set(), id="empty-bytes"),
        pytest.param(lambda: bytearray(), set(), id="empty-bytearray"),
        pytest.param(lambda: range(0), set(), id="empty-range"),
        pytest.param(lambda: collections.deque(["the", "and"]), {"the", "and"}, id="deque"),
        pytest.param(lambda: collections.UserList(["hat"]), {"hat"}, id="UserList"),
        pytest.param(lambda: ["the", "the", "the"], {"the"}, id="duplicates"),
        pytest.param(lambda: [StrSubclass("cat")], {"cat"}, id="str-subclass-item"),
        pytest.param(lambda: [TrickyStr("cat")], {"cat"}, id="tricky-str-item"),
        pytest.param(lambda: SequenceLike(["end", "the"]), {"end", "the"}, id="getitem-only"),
        pytest.param(lambda: GrowingWhileIterated(["the"]), {"the", "hat"}, id="grows-while-iterated"),
        pytest.param(lambda: ShrinkingWhileIterated(["and", "the"]), {"and"}, id="shrinks-while-iterated"),
        pytest.param(lambda: ListWithWrongLen(["the", "cat"]), {"the", "cat"}, id="len-too-small"),
        pytest.param(lambda: LenLies(["the", "cat", "end"], 1), {"the", "cat", "end"}, id="len-short"),
        pytest.param(lambda: LenLies(["the"], 1000), {"the"}, id="len-long"),
        pytest.param(lambda: LenLies(["the"], -1), {"the"}, id="len-negative"),
        pytest.param(lambda: LenLies(["the"], 2**70), {"the"}, id="len-overflows"),
        pytest.param(lambda: LenLies(["the"], ValueError("no len")), {"the"}, id="len-raises-ValueError"),
        pytest.param(lambda: LenLies(["the"], TypeError("no len")), {"the"}, id="len-raises-TypeError"),
        pytest.param(lambda: LenLies(["the"], RuntimeError("no len")), {"the"}, id="len-raises-RuntimeError"),
    ],
)
def test_stop_words_accepts_sequences(make, excluded):
    result = extract_keywords(TEXT, make(), 10)
    assert sorted(result) == sorted((w, c) for w, c in ALL_WORDS if w not in excluded)


@pytest.mark.parametrize("interruption", [KeyboardInterrupt, SystemExit])
def test_an_interruption_in_len_is_not_swallowed(interruption):
    # A failing __len__ only costs the sizing hint, but an interruption raised
    # meanwhile belongs to the caller.
    with pytest.raises(interruption):
        extract_keywords(TEXT, LenLies(["the"], interruption()), 10)


@pytest.mark.parametrize("length", [sys.maxsize, 2**40, 2**62])
def test_a_huge_reported_length_is_only_a_hint(length):
    # Run in a child process: whatever the module does with the hint, it must
    # not take the interpreter down.
    program = textwrap.dedent(
        f"""
        from parvenkel import extract_keywords
        class Huge:
            def __getitem__(self, index):
                return ["the", "and"][index]
            def __len__(self):
                return {length}
        try:
            result = extract_keywords("the cat and the hat", Huge(), 10)
        except MemoryError:
            print("MemoryError")
        else:
            print(sorted(result))
        """
    )
    child = subprocess.run([sys.executable, "-P", "-c", program], capture_output=True, text=True, timeout=120)
    assert child.returncode == 0, child.stderr
    assert child.stdout.strip() in ("[('cat', 1), ('hat', 1)]", "MemoryError")


# Errors raised by the caller's own iteration code, each made fresh per call.
def _type_error():
    return TypeError("iteration refused")


def _type_error_with_cause():
    error = TypeError("iteration refused")
    error.__cause__ = KeyError("the cause")
    return error


def _type_error_from_none():
    error = TypeError("iteration refused")
    error.__cause__ = None
    error.__suppress_context__ = True
    return error


def _type_error_with_context_only():
    try:
        raise KeyError("the context")
    except KeyError:
        try:
            raise TypeError("iteration refused")
        except TypeError as error:
            return error


class TypeErrorSubclass(TypeError):
    pass


USER_ERRORS = [
    pytest.param(_type_error, id="TypeError"),
    pytest.param(_type_error_with_cause, id="TypeError-with-cause"),
    pytest.param(_type_error_from_none, id="TypeError-from-None"),
    pytest.param(_type_error_with_context_only, id="TypeError-with-context"),
    pytest.param(lambda: TypeError(), id="TypeError-without-args"),
    pytest.param(lambda: TypeError("a", 2), id="TypeError-with-two-args"),
    pytest.param(lambda: TypeError("bad \udc80 text"), id="TypeError-with-surrogate"),
    pytest.param(lambda: TypeErrorSubclass("subclass"), id="TypeError-subclass"),
    pytest.param(lambda: ValueError("value"), id="ValueError"),
    pytest.param(lambda: OverflowError("overflow"), id="OverflowError"),
    pytest.param(lambda: KeyError("key"), id="KeyError"),
    pytest.param(lambda: KeyboardInterrupt(), id="KeyboardInterrupt"),
]


class RaisingIter(SequenceLike):
    def __init__(self, error):
        super().__init__(["the"])
        self.error = error

    def __iter__(self):
        raise self.error


class RaisingNext(SequenceLike):
    def __init__(self, error):
        super().__init__(["the"])
        self.error = error

    def __iter__(self):
        return self

    def __next__(self):
        if self.items:
            return self.items.pop()
        raise self.error


class RaisingGetitem(SequenceLike):
    """Iterated through __getitem__ alone: fails at the second index."""

    def __init__(self, error):
        super().__init__(["the"])
        self.error = error

    def __getitem__(self, index):
        if index == 0:
            return "the"
        raise self.error

    def __len__(self):
        return 5


@pytest.mark.parametrize("container", [RaisingIter, RaisingNext, RaisingGetitem])
@pytest.mark.parametrize("make_error", USER_ERRORS)
def test_errors_while_iterating_stop_words(container, make_error):
    error = make_error()
    with pytest.raises(BaseException) as info:
        extract_keywords("the cat", container(error), 5)
    assert_passed_on(info.value, error, "stop_words")


def test_iter_returning_a_non_iterator():
    class BadIter(SequenceLike):
        def __iter__(self):
            return 1

    expected = interpreter_error(iter, BadIter([]))
    with pytest.raises(TypeError) as info:
        extract_keywords("the cat", BadIter([]), 5)
    assert_argument_error(info.value, "stop_words", str(expected))


def test_stop_words_iteration_ends_at_the_first_bad_item():
    log = []
    stop_words = TracedSequence(["the", 1, "cat", 2], log)
    with pytest.raises(TypeError) as info:
        extract_keywords("the cat", stop_words, TracedIndex(1, log))
    assert_argument_error(info.value, "stop_words", "'int' object is not an instance of 'str'")
    assert log.count("next") == 2
    assert "index" not in log


# --------------------------------------------------------------------------
# Conversion of top_n


LADDER = "aaa aaa aaa aaa bbb bbb bbb ccc ccc ddd"
LADDER_RESULT = [("aaa", 4), ("bbb", 3), ("ccc", 2), ("ddd", 1)]


@pytest.mark.parametrize(
    "make, count",
    [
        pytest.param(lambda: 0, 0, id="0"),
        pytest.param(lambda: 1, 1, id="1"),
        pytest.param(lambda: 3, 3, id="3"),
        pytest.param(lambda: 4, 4, id="4"),
        pytest.param(lambda: 5, 4, id="5"),
        pytest.param(lambda: False, 0, id="False"),
        pytest.param(lambda: True, 1, id="True"),
        pytest.param(lambda: 2**31, 4, id="2**31"),
        pytest.param(lambda: 2**32 + 1, 4, id="2**32+1"),
        pytest.param(lambda: 2**63, 4, id="2**63"),
        pytest.param(lambda: 2**64 - 1, 4, id="2**64-1"),
        pytest.param(lambda: IntSubclass(2), 2, id="int-subclass"),
        pytest.param(lambda: HasIndex(2), 2, id="__index__"),
        pytest.param(lambda: HasIndex(0), 0, id="__index__-zero"),
        pytest.param(lambda: HasIndex(2**64 - 1), 4, id="__index__-max"),
    ],
)
def test_top_n_accepts(make, count):
    assert extract_keywords(LADDER, [], make()) == LADDER_RESULT[:count]


@pytest.mark.parametrize(
    "make, value",
    [
        pytest.param(lambda: -1, -1, id="-1"),
        pytest.param(lambda: -(2**64), -(2**64), id="-2**64"),
        pytest.param(lambda: 2**64, 2**64, id="2**64"),
        pytest.param(lambda: 2**100, 2**100, id="2**100"),
        pytest.param(lambda: IntSubclass(-5), -5, id="negative-int-subclass"),
        pytest.param(lambda: HasIndex(-1), -1, id="__index__-negative"),
        pytest.param(lambda: HasIndex(2**64), 2**64, id="__index__-too-big"),
    ],
)
def test_top_n_out_of_range_raises_the_interpreters_overflow_error(make, value):
    with pytest.raises(OverflowError) as info:
        extract_keywords(LADDER, [], make())
    assert_no_prefix_overflow(info, value)


class IndexReturning:
    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


@pytest.mark.parametrize(
    "make",
    [
        pytest.param(lambda: 2.0, id="float"),
        pytest.param(lambda: "3", id="str"),
        pytest.param(lambda: None, id="None"),
        pytest.param(lambda: 1j, id="complex"),
        pytest.param(lambda: [1], id="list"),
        pytest.param(lambda: decimal.Decimal(2), id="Decimal"),
        pytest.param(lambda: fractions.Fraction(2), id="Fraction"),
        pytest.param(lambda: Outer.Inner(), id="nested-class"),
        pytest.param(lambda: IndexReturning("3"), id="__index__-returns-str"),
        pytest.param(lambda: IndexReturning(2.0), id="__index__-returns-float"),
    ],
)
def test_top_n_without_an_integer_value(make):
    expected = interpreter_error(operator.index, make())
    assert type(expected) is TypeError
    with pytest.raises(TypeError) as info:
        extract_keywords(LADDER, [], make())
    assert_argument_error(info.value, "top_n", str(expected))


class RaisingIndex:
    def __init__(self, error):
        self.error = error

    def __index__(self):
        raise self.error


@pytest.mark.parametrize("make_error", USER_ERRORS)
def test_errors_raised_by_index(make_error):
    error = make_error()
    with pytest.raises(BaseException) as info:
        extract_keywords(LADDER, [], RaisingIndex(error))
    assert_passed_on(info.value, error, "top_n")


def test_index_returning_bool_warns_and_counts_as_int():
    with pytest.warns(DeprecationWarning):
        assert extract_keywords(LADDER, [], IndexReturning(True)) == LADDER_RESULT[:1]


def test_deprecation_raised_as_an_error_by_index_is_passed_on():
    with warnings.catch_warnings():
        warnings.simplefilter("error", DeprecationWarning)
        with pytest.raises(DeprecationWarning) as info:
            extract_keywords(LADDER, [], IndexReturning(True))
    assert "argument" not in str(info.value)


# --------------------------------------------------------------------------
# Error texts that cannot be printed


@pytest.mark.parametrize(
    "param, call",
    [
        pytest.param("top_n", lambda error: extract_keywords("x", [], RaisingIndex(error)), id="top_n"),
        pytest.param("stop_words", lambda error: extract_keywords("x", RaisingIter(error), 1), id="stop_words"),
    ],
)
def test_reworded_error_whose_text_fails(param, call):
    error = TypeError(Unprintable())
    error.__cause__ = KeyError("kept")
    with unraisable_reports() as reports, pytest.raises(TypeError) as info:
        call(error)
    assert_type_error(info.value, f"argument '{param}': <unprintable TypeError object>")
    assert info.value.__cause__ is error.__cause__
    assert info.value.__suppress_context__ is True
    assert len(reports) == 1
    assert reports[0].exc_type is ValueError
    assert reports[0].object is error


def test_error_subclass_with_unprintable_text_is_passed_on_untouched():
    error = TypeErrorSubclass(Unprintable())
    with unraisable_reports() as reports, pytest.raises(TypeErrorSubclass) as info:
        extract_keywords("x", [], RaisingIndex(error))
    assert info.value is error
    assert reports == []


# --------------------------------------------------------------------------
# Which failure wins


class TracedSequence:
    """A sequence that logs every protocol call made on it."""

    def __init__(self, items, log):
        self.items = list(items)
        self.log = log

    def __len__(self):
        self.log.append("len")
        return len(self.items)

    def __getitem__(self, index):
        self.log.append("getitem")
        return self.items[index]

    def __iter__(self):
        self.log.append("iter")
        return TracedIterator(self.items, self.log)


class TracedIterator:
    def __init__(self, items, log):
        self.items = iter(items)
        self.log = log

    def __iter__(self):
        return self

    def __next__(self):
        self.log.append("next")
        return next(self.items)


class TracedIndex:
    def __init__(self, value, log):
        self.value = value
        self.log = log

    def __index__(self):
        self.log.append("index")
        return self.value


@pytest.mark.parametrize(
    "call, check",
    [
        pytest.param(
            lambda: extract_keywords(1, "x", -1),
            lambda e: assert_argument_error(e, "text", "'int' object is not an instance of 'str'"),
            id="text-before-stop_words-and-top_n",
        ),
        pytest.param(
            lambda: extract_keywords("t", None, -1),
            lambda e: assert_argument_error(e, "stop_words", "'None' is not an instance of 'Sequence'"),
            id="stop_words-before-top_n",
        ),
        pytest.param(
            lambda: extract_keywords("t", [1], 2.0),
            lambda e: assert_argument_error(e, "stop_words", "'int' object is not an instance of 'str'"),
            id="stop-word-item-before-top_n",
        ),
        pytest.param(
            lambda: extract_keywords("t", ["\ud800"], -1),
            lambda e: assert_encode_error(e, "\ud800"),
            id="stop-word-encoding-before-top_n",
        ),
        pytest.param(
            lambda: extract_keywords("\udc00", None, None),
            lambda e: assert_encode_error(e, "\udc00"),
            id="text-encoding-first",
        ),
        pytest.param(
            lambda: score_article(1, None, b""),
            lambda e: assert_argument_error(e, "title", "'int' object is not an instance of 'str'"),
            id="title-first",
        ),
        pytest.param(
            lambda: score_article("t", None, 1),
            lambda e: assert_argument_error(e, "content", "'None' is not an instance of 'str'"),
            id="content-before-query",
        ),
        pytest.param(
            lambda: score_article("\ud800", 1, 1),
            lambda e: assert_encode_error(e, "\ud800"),
            id="title-encoding-first",
        ),
        pytest.param(
            lambda: score_article("t", "c\ud800", 1),
            lambda e: assert_encode_error(e, "c\ud800"),
            id="content-encoding-before-query",
        ),
        pytest.param(
            lambda: score_article("t", "c", "\ud800", "extra"),
            lambda e: assert_type_error(e, "score_article() takes 3 positional arguments but 4 were given"),
            id="binding-first",
        ),
    ],
)
def test_first_failure_in_parameter_order_wins(call, check):
    with pytest.raises(Exception) as info:
        call()
    check(info.value)


def test_later_parameters_are_not_converted_after_a_failure():
    log = []
    with pytest.raises(TypeError):
        extract_keywords(None, TracedSequence(["the"], log), TracedIndex(1, log))
    with pytest.raises(UnicodeEncodeError):
        extract_keywords("\ud800", TracedSequence(["the"], log), TracedIndex(1, log))
    assert log == []
    with pytest.raises(TypeError):
        extract_keywords("x", TracedSequence([None], log), TracedIndex(1, log))
    assert "index" not in log


def test_top_n_is_converted_after_stop_words():
    log = []
    assert extract_keywords("the cat", TracedSequence(["the"], log), TracedIndex(5, log)) == [("cat", 1)]
    assert log[-1] == "index"
    assert log.count("index") == 1
