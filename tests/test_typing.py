"""The package's types: the stub of the compiled module matches it, the
package says it is typed, and mypy --strict accepts good calls and catches
bad ones with the stub."""

import ast
import inspect
import re
import subprocess
import sys
import textwrap
from importlib import resources
from pathlib import Path

import pytest

from parvenkel import _core

PACKAGE = resources.files("parvenkel")
ALLOWLIST = Path(__file__).resolve().parent.parent / "tools" / "stubtest-allowlist.txt"


def test_package_is_marked_typed():
    assert PACKAGE.joinpath("py.typed").is_file()


def stub_functions():
    tree = ast.parse(PACKAGE.joinpath("_core.pyi").read_text(encoding="utf-8"))
    return {node.name: node for node in tree.body if isinstance(node, ast.FunctionDef)}


def test_stub_names_what_the_module_has():
    assert sorted(stub_functions()) == sorted(_core.__all__) == ["extract_keywords", "score_article"]


@pytest.mark.parametrize("name", ["extract_keywords", "score_article"])
def test_stub_parameters_match_the_module(name):
    stub = stub_functions()[name]
    runtime = inspect.signature(getattr(_core, name))
    assert [a.arg for a in stub.args.args] == list(runtime.parameters)
    assert all(p.kind is p.POSITIONAL_OR_KEYWORD for p in runtime.parameters.values())
    assert not (stub.args.posonlyargs or stub.args.kwonlyargs or stub.args.vararg or stub.args.kwarg)
    assert stub.args.defaults == []


mypy_api = pytest.importorskip("mypy.api")

# Each line marked "# E: text" must draw an error containing that text on that
# line; every other line must draw none. Revealed types are notes ("# N:").
CHECKED = textwrap.dedent(
    """\
    from collections.abc import Sequence
    from parvenkel import check_stop_words, explain, extract_keywords, score_article, Verdict
    from parvenkel import stoplists

    class Index:
        def __index__(self) -> int:
            return 3

    words: Sequence[str] = ("the", "and")
    reveal_type(extract_keywords("text", words, 10))  # N: Revealed type is "list[tuple[str, int]]"
    reveal_type(score_article("t", "c", "q"))  # N: Revealed type is "float"
    extract_keywords(text="t", stop_words=["a"], top_n=True)
    extract_keywords("t", [], Index())
    extract_keywords("t", stoplists.load("english"), 2**64 - 1)
    reveal_type(explain("t")[0].verdict)  # N: Revealed type is "parvenkel.words.Verdict"
    reveal_type(check_stop_words(["The"])[0].suggestion)  # N: Revealed type is "str | None"
    score_article(1, "c", "q")  # E: Argument 1 to "score_article" has incompatible type "int"; expected "str"
    score_article("t", "c")  # E: Missing positional argument "query" in call to "score_article"
    score_article("t", "c", query=b"q")  # E: Argument "query" to "score_article" has incompatible type "bytes"; expected "str"
    extract_keywords("t", [1], 3)  # E: List item 0 has incompatible type "int"; expected "str"
    extract_keywords("t", {"the"}, 3)  # E: Argument 2 to "extract_keywords" has incompatible type "set[str]"; expected "Sequence[str]"
    extract_keywords("t", [], 1.5)  # E: Argument 3 to "extract_keywords" has incompatible type "float"; expected "SupportsIndex"
    extract_keywords("t", [], None)  # E: Argument 3 to "extract_keywords" has incompatible type "None"; expected "SupportsIndex"
    extract_keywords("t", [], 3, 4)  # E: Too many arguments for "extract_keywords"
    pairs: list[tuple[str, str]] = extract_keywords("t", [], 3)  # E: Incompatible types in assignment
    score: int = score_article("t", "c", "q")  # E: Incompatible types in assignment
    verdict: str = Verdict.KEPT
    from collections.abc import Mapping
    from parvenkel import ArticleIndex, WordCounter, rank_articles
    reveal_type(ArticleIndex().rank("q")[0].article)  # N: Revealed type is "tuple[str, str] | tuple[str, str, str]"
    reveal_type(rank_articles([{"title": "t", "content": "c"}], "q")[0].article)  # N: Revealed type is "dict[str, str]"
    counts: Mapping[str, int] = WordCounter()
    reveal_type(WordCounter() + WordCounter())  # N: Revealed type is "parvenkel.corpus.WordCounter"
    WordCounter() + {"a": 1}  # E: Unsupported operand types for + ("WordCounter" and "dict[str, int]")
    """
)


@pytest.fixture(scope="module")
def mypy_output(tmp_path_factory):
    folder = tmp_path_factory.mktemp("typing")
    (folder / "checked.py").write_text(CHECKED, encoding="utf-8")
    out, err, _ = mypy_api.run(
        ["--strict", "--no-error-summary", "--cache-dir", str(folder / "cache"), str(folder / "checked.py")]
    )
    assert err == ""
    messages = {}
    for line in out.splitlines():
        _, number, kind, text = line.split(":", 3)
        # Older mypy spells out "builtins." in revealed types.
        messages.setdefault(int(number), []).append((kind.strip(), text.strip().replace("builtins.", "")))
    return messages


@pytest.mark.parametrize("number, line", list(enumerate(CHECKED.splitlines(), start=1)))
def test_mypy_strict(mypy_output, number, line):
    got = mypy_output.get(number, [])
    if "# E: " in line:
        expected = line.split("# E: ", 1)[1]
        assert len(got) == 1 and got[0][0] == "error" and got[0][1].startswith(expected), got
    elif "# N: " in line:
        assert got == [("note", line.split("# N: ", 1)[1])]
    else:
        assert got == []


def test_stubtest(tmp_path):
    """mypy's stubtest: the stubs and inline types agree with the importable
    package (the compiled module included)."""
    got = subprocess.run(
        [sys.executable, "-m", "mypy.stubtest", "--allowlist", str(ALLOWLIST), "parvenkel"],
        capture_output=True,
        text=True,
        cwd=tmp_path,
        timeout=300,
    )
    assert got.returncode == 0, got.stdout + got.stderr
    assert re.fullmatch(r"Success: no issues found in \d+ modules", got.stdout.strip())
