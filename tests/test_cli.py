"""The command line: exact outputs, error lines and exit codes.

Most cases run `parvenkel.cli.main` in this process, in a temporary folder
(so that file names in messages are short and exact); a few run the real
`python -m parvenkel` and the `parvenkel` script as a user would.
"""

import bz2
import doctest
import gzip
import json
import lzma
import os
import shlex
import subprocess
import sys
from pathlib import Path

import pytest

from parvenkel import ArticleIndex, extract_keywords, stoplists
from parvenkel.cli import main

REPO = Path(__file__).resolve().parent.parent
CONSTITUTION = REPO / "examples" / "texts" / "us-constitution.txt"


@pytest.fixture
def cli(tmp_path, monkeypatch, capsys):
    """Run the command line in `tmp_path`; returns (exit code, stdout, stderr)."""
    monkeypatch.chdir(tmp_path)

    def run(*argv):
        try:
            code = main(list(argv))
        except SystemExit as e:  # argparse's own exits (--help, --version, bad flags)
            code = e.code
        out, err = capsys.readouterr()
        return code, out, err

    return run


def write(path, content):
    path = Path(path)
    path.parent.mkdir(parents=True, exist_ok=True)
    if isinstance(content, str):
        content = content.encode("utf-8")
    path.write_bytes(content)
    return path


# keywords


HAT = "The cat and the hat. The END\n"


@pytest.mark.parametrize(
    "argv, expected",
    [
        (
            ["keywords", "hat.txt"],
            "rank  word  count\n"
            "   1  the       3\n"
            "   2  and       1\n"
            "   3  cat       1\n"
            "   4  end       1\n"
            "   5  hat       1\n",
        ),
        (["keywords", "--top", "2", "hat.txt"], "rank  word  count\n   1  the       3\n   2  and       1\n"),
        (["keywords", "--top", "0", "hat.txt"], "rank  word  count\n"),
        (["keywords", "--top", "2", "--jobs", "-1", "hat.txt"], "rank  word  count\n   1  the       3\n   2  and       1\n"),
        (
            ["keywords", "--stop-list", "english", "hat.txt"],
            "rank  word  count\n   1  cat       1\n   2  end       1\n   3  hat       1\n",
        ),
        (
            ["keywords", "--format", "json", "--top", "2", "hat.txt"],
            '[\n  {\n    "rank": 1,\n    "word": "the",\n    "count": 3\n  },\n'
            '  {\n    "rank": 2,\n    "word": "and",\n    "count": 1\n  }\n]\n',
        ),
        (["keywords", "--format", "csv", "--top", "3", "hat.txt"], "rank,word,count\n1,the,3\n2,and,1\n3,cat,1\n"),
        # Two files: counts add up, and a file's end ends its last word.
        (
            ["keywords", "hat.txt", "more.txt"],
            "rank  word  count\n"
            "   1  the       4\n"
            "   2  hat       2\n"
            "   3  and       1\n"
            "   4  cat       1\n"
            "   5  end       1\n",
        ),
        # JSON Lines are articles, counted from their title and content only.
        (["keywords", "--format", "csv", "a.jsonl", "b.ndjson.gz"], "rank,word,count\n1,hat,4\n2,the,3\n"),
        (["keywords", "--format", "csv", "--title-field", "h", "--content-field", "b", "b.ndjson.gz"],
         "rank,word,count\n1,hat,2\n2,the,1\n"),
        # Long cells are cut for display, with a mark; CSV and JSON hold them whole.
        (["keywords", "long.txt"], "rank  word" + " " * 78 + "count\n   1  " + "x" * 79 + "…      2\n"
         "   2  " + "中" * 39 + "…       1\n"),
        (["keywords", "--format", "csv", "--top", "1", "long.txt"], "rank,word,count\n1," + "x" * 200 + ",2\n"),
    ],
)
def test_keywords_output(cli, tmp_path, argv, expected):
    write(tmp_path / "hat.txt", HAT)
    write(tmp_path / "more.txt", "the HAT")  # no line feed at the end
    # A byte-order mark at the start of JSON Lines is no part of them.
    write(tmp_path / "a.jsonl", "\ufeff" + json.dumps({"title": "The hat", "content": "the\nhat"}) + "\n")
    write(tmp_path / "b.ndjson.gz", gzip.compress(json.dumps({"h": "hat the", "b": "hat", "title": "the", "content": "hat hat"}).encode()))
    write(tmp_path / "long.txt", ("x" * 200 + " ") * 2 + "中" * 100)
    assert cli(*argv) == (0, expected, "")


@pytest.mark.parametrize(
    "text, expected_rows",
    [
        # Equal counts: by word in code point order, whatever the table order.
        ("zebra apple éclair ζήτα mango Apple", ["apple  2", "mango  1", "zebra  1", "éclair  1", "ζήτα  1"]),
        ("ccc bbb aaa ccc bbb ddd", ["bbb  2", "ccc  2", "aaa  1", "ddd  1"]),
    ],
)
def test_keywords_ties_are_ordered_by_word(cli, tmp_path, text, expected_rows):
    write(tmp_path / "t.txt", text)
    code, out, _ = cli("keywords", "--top", "100", "t.txt")
    assert code == 0
    rows = [line.split(maxsplit=1)[1] for line in out.splitlines()[1:]]
    assert [" ".join(r.split()) for r in rows] == [" ".join(r.split()) for r in expected_rows]


def test_keywords_table_aligns_wide_and_combining_characters(cli, tmp_path):
    write(tmp_path / "t.txt", "中文中文 " * 12 + "İSTANBUL")
    code, out, _ = cli("keywords", "t.txt")
    assert code == 0
    assert out == "rank  word      count\n   1  中文中文     12\n   2  i\u0307stanbul      1\n"


def test_keywords_of_a_folder(cli, tmp_path):
    write(tmp_path / "news" / "b.txt", "beta beta")
    write(tmp_path / "news" / "a.txt", "alpha")
    write(tmp_path / "news" / "deeper" / "c.txt", "gamma beta")
    write(tmp_path / "news" / ".hidden.txt", "hidden hidden hidden")
    write(tmp_path / "news" / ".git" / "x.txt", "hidden hidden hidden")
    assert cli("keywords", "--format", "csv", "news") == (0, "rank,word,count\n1,beta,3\n2,alpha,1\n3,gamma,1\n", "")


def test_keywords_of_an_empty_folder_warns(cli, tmp_path):
    (tmp_path / "empty").mkdir()
    assert cli("keywords", "empty") == (
        0,
        "rank  word  count\n",
        "parvenkel: warning: empty: no files in this folder\n",
    )


def test_keywords_stop_words_file_warns_about_entries_that_never_match(cli, tmp_path):
    write(tmp_path / "stop.txt", "# my list\nthe\nThe\n\non\ncovid-19\r\nand \n")
    write(tmp_path / "t.txt", "The cat and the hat. The END COVID-19")
    code, out, err = cli("keywords", "--stop-words", "stop.txt", "t.txt")
    assert code == 0
    assert out == (
        "rank  word   count\n"
        "   1  and        1\n"
        "   2  cat        1\n"
        "   3  covid      1\n"
        "   4  end        1\n"
        "   5  hat        1\n"
    )
    assert err.splitlines() == [
        "parvenkel: warning: stop.txt:3: stop word 'The' can never match: "
        "it is not in lower case; it would have to be 'the'",
        "parvenkel: warning: stop.txt:5: stop word 'on' can never match: "
        "words under 3 bytes of UTF-8 are never counted, so no stop word is needed",
        "parvenkel: warning: stop.txt:6: stop word 'covid-19' can never match: "
        "it holds characters that are not letters ('-', '1', '9'); it would have to be 'covid'",
        "parvenkel: warning: stop.txt:7: stop word 'and ' can never match: "
        "it holds white space, which always separates words",
    ]


def test_keywords_in_chunks_equal_the_whole_text(cli, tmp_path, monkeypatch):
    """Reading in small chunks, cut at white space, counts what one call on
    the whole text counts (multi-byte characters and words straddle chunks)."""
    from parvenkel import _sources

    text = CONSTITUTION.read_text(encoding="utf-8")[:6000] + " ΟΔΟΣ İSTANBUL 中文字\u3000naïve " * 30
    write(tmp_path / "t.txt", text)
    expected = sorted(extract_keywords(text, [], 10**6), key=lambda p: (-p[1], p[0]))
    for size in (1, 7, 64, 1000):
        monkeypatch.setattr(_sources, "CHUNK_SIZE", size)
        code, out, _ = cli("keywords", "--format", "json", "--top", "1000000", "t.txt")
        assert code == 0
        assert [(r["word"], r["count"]) for r in json.loads(out)] == expected


# score


ARTICLES = [
    {"title": "Market news", "content": ""},
    {"title": "Stock Market", "content": "the market is open"},
    {"title": "Other", "content": "nothing"},
    {"title": "Other", "content": "notes on the market"},
    {"title": "Market", "content": "all about the market", "extra": 1},
    {"title": "Η αγορά", "content": "ΟΔΟΣ"},
]


@pytest.fixture
def articles(tmp_path):
    lines = [json.dumps(a, ensure_ascii=False) for a in ARTICLES]
    lines.insert(3, "   ")  # blank lines are skipped, and still counted as lines
    return write(tmp_path / "a.jsonl", "\n".join(lines) + "\n")


@pytest.mark.parametrize(
    "argv, expected",
    [
        (
            ["score", "MARKET", "a.jsonl"],
            "rank   score  source     title\n"
            "   1  1100.0  a.jsonl:6  Market\n"
            "   2  1000.0  a.jsonl:1  Market news\n"
            "   3   600.0  a.jsonl:2  Stock Market\n"
            "   4   100.0  a.jsonl:5  Other\n",
        ),
        (
            ["score", "market", "a.jsonl", "--top", "2"],
            "rank   score  source     title\n"
            "   1  1100.0  a.jsonl:6  Market\n"
            "   2  1000.0  a.jsonl:1  Market news\n",
        ),
        (
            ["score", "οδος", "a.jsonl", "--all", "--top", "3"],
            "rank  score  source     title\n"
            "   1  100.0  a.jsonl:7  Η αγορά\n"
            "   2    0.0  a.jsonl:1  Market news\n"
            "   3    0.0  a.jsonl:2  Stock Market\n",
        ),
        (["score", "nowhere", "a.jsonl"], "rank  score  source  title\n"),
        (
            ["score", "market", "a.jsonl", "--format", "csv", "--top", "1", "--jobs", "2"],
            "rank,score,source,title\n1,1100.0,a.jsonl:6,Market\n",
        ),
        (
            ["score", "αγορά", "a.jsonl", "--format", "json"],
            '[\n  {\n    "rank": 1,\n    "score": 500.0,\n    "source": "a.jsonl:7",\n'
            '    "title": "Η αγορά"\n  }\n]\n',
        ),
    ],
)
def test_score_output(cli, articles, argv, expected):
    assert cli(*argv) == (0, expected, "")


@pytest.mark.parametrize("query", ["MARKET", "οδος", "a", "nowhere"])
@pytest.mark.parametrize("ids", [[], ["--id-field", "title"]])
def test_score_from_an_index_file(cli, articles, query, ids):
    # The same rows as the scan's, sources (file:line or the id field) included.
    assert cli("index", "build", "a.idx", "a.jsonl", "--jobs", "2", *ids) == (0, "6 articles indexed in a.idx\n", "")
    scan = cli("score", query, "a.jsonl", "--all", "--format", "csv", *ids)
    assert cli("score", query, "--index", "a.idx", "--all", "--format", "csv") == scan
    assert cli("score", "q", "--index", "a.jsonl")[:2] == (1, "")
    assert cli("score", "q", "--index", "a.idx", "a.jsonl")[0] == 2
    code, _, err = cli("score", "q", "--index", "a.idx", "--id-field", "id")
    assert code == 2 and "--id-field goes to 'index build'" in err


def test_score_from_an_index_without_sources_numbers_from_1(cli, tmp_path):
    ArticleIndex([("Market", ""), ("Market news", "")]).save(tmp_path / "a.idx")
    assert cli("score", "market", "--index", "a.idx", "--format", "csv") == (
        0,
        "rank,score,source,title\n1,1000.0,a.idx#1,Market\n2,1000.0,a.idx#2,Market news\n",
        "",
    )


def test_score_equal_scores_keep_input_order(cli, tmp_path):
    # More than nine lines, so that the order of the sources as strings
    # (a.jsonl:10 before a.jsonl:2) differs from the order of the input.
    order = [3, 11, 1, 7, 12, 2, 10, 5, 9, 4, 8, 6]
    rows = [{"title": f"t{i}", "content": "match"} for i in order]
    write(tmp_path / "a.jsonl", "".join(json.dumps(r) + "\n" for r in rows))
    code, out, _ = cli("score", "match", "a.jsonl", "--format", "csv", "--top", "20")
    expected = "".join(f"{n},100.0,a.jsonl:{n},t{i}\n" for n, i in enumerate(order, start=1))
    assert (code, out) == (0, "rank,score,source,title\n" + expected)


def test_score_folder_of_text_files(cli, tmp_path):
    write(tmp_path / "news" / "1.txt", "Market news\r\nThe market is open.\n")
    write(tmp_path / "news" / "2.txt", "Weather\nRain over the market square.\nMarket day.")
    write(tmp_path / "news" / "3.txt", "")
    write(tmp_path / "news" / "4.txt", "Only a title, about markets")
    assert cli("score", "market", "news", "--all") == (
        0,
        "rank   score  source      title\n"
        "   1  1100.0  news/1.txt  Market news\n"
        "   2   500.0  news/4.txt  Only a title, about markets\n"
        "   3   100.0  news/2.txt  Weather\n"
        "   4     0.0  news/3.txt\n",
        "",
    )


def test_score_shows_invisible_characters_in_the_table(cli, tmp_path):
    write(tmp_path / "a.jsonl", json.dumps({"title": "two\nlines\u200b", "content": "x"}) + "\n")
    code, out, _ = cli("score", "two", "a.jsonl")
    assert (code, out) == (0, "rank   score  source     title\n   1  1000.0  a.jsonl:1  two\\nlines\\u200b\n")


@pytest.mark.parametrize(
    "line, message",
    [
        ("{not json", "a.jsonl:2: not valid JSON: Expecting property name enclosed in double quotes (column 2)"),
        ('["title", "content"]', 'a.jsonl:2: expected a JSON object with "title" and "content"'),
        ('{"content": "x"}', 'a.jsonl:2: no "title" field'),
        ('{"title": "x"}', 'a.jsonl:2: no "content" field'),
        ('{"title": "x", "content": 3}', 'a.jsonl:2: "content" is not a string'),
        ('{"title": null, "content": "x"}', 'a.jsonl:2: "title" is not a string'),
        (
            '{"title": "x\\ud800", "content": "x"}',
            'a.jsonl:2: "title" holds a lone surrogate (U+D800), which has no UTF-8 form',
        ),
    ],
)
@pytest.mark.parametrize("errors", ["skip", "replace"])
def test_score_bad_articles(cli, tmp_path, line, message, errors):
    write(tmp_path / "a.jsonl", '{"title": "fine", "content": "fine"}\n' + line + "\n")
    assert cli("score", "fine", "a.jsonl") == (1, "", f"parvenkel: error: {message}\n")
    # Skipped, named, and the rest read, by both commands.
    skipped = f"parvenkel: warning: {message}; skipped\nparvenkel: error: 1 bad line skipped\n"
    assert cli("score", "fine", "a.jsonl", "--errors", errors, "--format", "csv") == (
        1, "rank,score,source,title\n1,1100.0,a.jsonl:1,fine\n", skipped
    )
    assert cli("keywords", "a.jsonl", "--errors", errors, "--format", "csv") == (1, "rank,word,count\n1,fine,2\n", skipped)
    # A file of bad lines only is a bad file.
    write(tmp_path / "a.jsonl", line + "\n\n" + line + "\n")
    assert cli("score", "fine", "a.jsonl", "--errors", errors) == (
        1,
        "rank  score  source  title\n",
        f"parvenkel: warning: {message.replace(':2:', ':1:')}; skipped\n"
        f"parvenkel: warning: {message.replace(':2:', ':3:')}; skipped\n"
        "parvenkel: warning: a.jsonl: no article in the file (all 2 lines bad); skipped\n"
        "parvenkel: error: 1 of 1 file skipped\n",
    )


# explain


def test_explain_table(cli):
    assert cli("explain", "--stop-list", "english", "-t", "COVID-19 on the İSTANBUL 2024 ΟΔΟΣ-Α u\u200bu 中文") == (
        0,
        "piece     word      bytes  removed  verdict\n"
        "COVID-19  covid         5  -19      kept\n"
        "on        on            2           under 3 bytes\n"
        "the       the           3           stop word\n"
        "İSTANBUL  i\u0307stanbul     10           kept\n"
        "2024                    0  2024     no letters\n"
        "ΟΔΟΣ-Α    οδοσα        10  -        kept\n"
        "u\\u200bu  uu            2  \\u200b   under 3 bytes\n"
        "中文      中文          6           kept\n",
        "",
    )


def test_explain_json_and_csv(cli, tmp_path):
    write(tmp_path / "t.txt", "Don't\tpanic 42\n")
    code, out, err = cli("explain", "--format", "json", "t.txt")
    assert (code, err) == (0, "")
    assert json.loads(out) == [
        {"piece": "Don't", "word": "dont", "bytes": 4, "removed": "'", "verdict": "kept"},
        {"piece": "panic", "word": "panic", "bytes": 5, "removed": "", "verdict": "kept"},
        {"piece": "42", "word": "", "bytes": 0, "removed": "42", "verdict": "no letters"},
    ]
    code, out, err = cli("explain", "--format", "csv", "t.txt")
    assert (code, out, err) == (
        0,
        "piece,word,bytes,removed,verdict\nDon't,dont,4,',kept\npanic,panic,5,,kept\n42,,0,42,no letters\n",
        "",
    )


# errors and exit codes


@pytest.mark.parametrize(
    "content, message",
    [
        (b"ab\xffcd", "not valid UTF-8 at byte offset 2 (invalid start byte: ff)"),
        (b"\xc3\xa9t\xc3\xa9 \xe4\xb8", "not valid UTF-8 at byte offset 6 (unexpected end of data: e4 b8)"),
        (b"caf\xc3(", "not valid UTF-8 at byte offset 3 (invalid continuation byte: c3)"),
        (b"\xed\xa0\x80", "not valid UTF-8 at byte offset 0 (invalid continuation byte: ed)"),
    ],
)
@pytest.mark.parametrize("command", [["keywords"], ["score", "q"], ["explain"]])
def test_undecodable_input_names_file_and_offset(cli, tmp_path, command, content, message):
    write(tmp_path / "bad.txt", content)
    assert cli(*command, "bad.txt") == (1, "", f"parvenkel: error: bad.txt: {message}\n")


@pytest.mark.parametrize(
    "argv, code, message",
    [
        (["keywords", "missing.txt"], 1, "parvenkel: error: missing.txt: No such file or directory"),
        (["score", "q", "missing.jsonl"], 1, "parvenkel: error: missing.jsonl: No such file or directory"),
        (["explain", "missing.txt"], 1, "parvenkel: error: missing.txt: No such file or directory"),
        (
            ["keywords", "--stop-words", "missing.txt", "ok.txt"],
            1,
            "parvenkel: error: missing.txt: No such file or directory",
        ),
        (
            ["keywords", "--stop-words", "folder", "ok.txt"],
            1,
            "parvenkel: error: folder: is a folder, not a stop-word file",
        ),
        (["keywords", "ok.txt", "missing.txt"], 1, "parvenkel: error: missing.txt: No such file or directory"),
        ([], 2, "parvenkel: error: the following arguments are required: command (see 'parvenkel --help')"),
        (
            ["count"],
            2,
            "parvenkel: error: argument command: invalid choice: 'count' "
            "(choose from 'keywords', 'score', 'explain', 'index') (see 'parvenkel --help')",
        ),
        (
            ["keywrods"],
            2,
            "parvenkel: error: argument command: invalid choice: 'keywrods', maybe you meant "
            "'keywords'? (choose from 'keywords', 'score', 'explain', 'index') (see 'parvenkel --help')",
        ),
        (["keywords", "--frob"], 2, "parvenkel: error: unrecognized arguments: --frob (see 'parvenkel --help')"),
        (
            ["keywords", "--top", "-1"],
            2,
            "parvenkel keywords: error: argument --top: must be a whole number from 0 up, not '-1' "
            "(see 'parvenkel keywords --help')",
        ),
        (
            ["score", "q", "--jobs", "0"],
            2,
            "parvenkel score: error: argument --jobs: must be a whole number from 1 up, or -1 for every core, "
            "not '0' (see 'parvenkel score --help')",
        ),
        (
            ["keywords", "--top", "ten"],
            2,
            "parvenkel keywords: error: argument --top: must be a whole number from 0 up, not 'ten' "
            "(see 'parvenkel keywords --help')",
        ),
        (
            ["keywords", "--format", "xml"],
            2,
            "parvenkel keywords: error: argument --format: invalid choice: 'xml' "
            "(choose from 'table', 'json', 'csv') (see 'parvenkel keywords --help')",
        ),
        (
            ["keywords", "--stop-list", "klingon"],
            2,
            "parvenkel keywords: error: argument --stop-list: invalid choice: 'klingon' (choose from "
            "'english', 'french', 'german', 'greek', 'russian', 'spanish') (see 'parvenkel keywords --help')",
        ),
        (
            ["score"],
            2,
            "parvenkel score: error: the following arguments are required: QUERY (see 'parvenkel score --help')",
        ),
        (
            ["explain", "-t", "x", "ok.txt"],
            2,
            "parvenkel explain: error: give either --text or a file, not both (see 'parvenkel explain --help')",
        ),
        (
            ["explain", "ok.txt", "ok.txt"],
            2,
            "parvenkel explain: error: explain takes one file (or --text, or standard input) "
            "(see 'parvenkel explain --help')",
        ),
        (
            ["score", "", "ok.txt"],
            2,
            "parvenkel score: error: the query is empty, and an empty query scores 0 against every article "
            "(see 'parvenkel score --help')",
        ),
        (
            ["score", "\udcff", "ok.txt"],
            2,
            "parvenkel score: error: the query is not valid UTF-8 (see 'parvenkel score --help')",
        ),
    ],
)
def test_errors_are_one_line_with_conventional_exit_codes(cli, tmp_path, argv, code, message):
    write(tmp_path / "ok.txt", "fine")
    (tmp_path / "folder").mkdir()
    assert cli(*argv) == (code, "", message + "\n")


def test_version(cli):
    code, out, err = cli("--version")
    assert (code, err) == (0, "")
    assert out.startswith("parvenkel ") and out.endswith(" (Unicode 17.0.0)\n")


# progress


def test_progress_bar_goes_to_stderr_only(cli, tmp_path):
    pytest.importorskip("tqdm")
    write(tmp_path / "t.txt", HAT)
    plain = cli("keywords", "t.txt")
    code, out, err = cli("keywords", "--progress", "t.txt")
    assert (code, out) == (0, plain[1])
    assert "keywords" in err and "\n" not in err.strip("\n")  # one bar, redrawn in place
    assert cli("keywords", "--no-progress", "t.txt") == plain


def test_progress_without_tqdm_warns_once_and_carries_on(cli, tmp_path, monkeypatch):
    monkeypatch.setitem(sys.modules, "tqdm", None)  # import tqdm now fails
    write(tmp_path / "t.txt", HAT)
    plain = cli("keywords", "t.txt")
    assert plain[2] == ""  # by default, without a terminal, no bar and no warning
    assert cli("keywords", "--progress", "t.txt") == (
        0,
        plain[1],
        "parvenkel: warning: no progress bar: it needs tqdm (pip install 'parvenkel[progress]')\n",
    )


# The real thing, in a process of its own.


def run_process(args, *, stdin=b"", cwd):
    return subprocess.run(args, input=stdin, capture_output=True, cwd=cwd, timeout=60)


def test_python_m_parvenkel_reads_standard_input(tmp_path):
    got = run_process([sys.executable, "-m", "parvenkel", "keywords", "--format", "csv"], stdin=HAT.encode(), cwd=tmp_path)
    assert (got.returncode, got.stdout, got.stderr) == (0, b"rank,word,count\n1,the,3\n2,and,1\n3,cat,1\n4,end,1\n5,hat,1\n", b"")


def test_console_script(tmp_path):
    script = Path(sys.executable).with_name("parvenkel")
    if not script.exists():
        pytest.skip("the parvenkel script is not installed next to this interpreter")
    lines = b'{"title": "Market news", "content": ""}\n'
    got = run_process([str(script), "score", "market", "-", "--format", "csv"], stdin=lines, cwd=tmp_path)
    assert (got.returncode, got.stdout, got.stderr) == (0, b"rank,score,source,title\n1,1000.0,<stdin>:1,Market news\n", b"")


def test_output_is_utf8_whatever_the_locale(tmp_path):
    env = dict(os.environ, LC_ALL="C", LANG="C", PYTHONIOENCODING="ascii", PYTHONUTF8="0")
    got = subprocess.run(
        [sys.executable, "-m", "parvenkel", "explain", "-t", "ΟΔΟΣ"],
        capture_output=True, cwd=tmp_path, env=env, timeout=60,
    )
    assert (got.returncode, got.stderr) == (0, b"")
    assert got.stdout.decode("utf-8").splitlines()[1].split() == ["ΟΔΟΣ", "οδος", "8", "kept"]


def test_closed_standard_output_ends_quietly(tmp_path):
    # 30000 different words (letters only), far more output than a pipe holds.
    words = " ".join("".join(chr(ord("a") + int(d)) for d in f"{i:06d}") for i in range(30000))
    proc = subprocess.Popen(
        [sys.executable, "-m", "parvenkel", "keywords", "--top", "30000"],
        stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE, cwd=tmp_path,
    )
    proc.stdin.write(words.encode())
    proc.stdin.close()
    assert proc.stdout.readline().split() == [b"rank", b"word", b"count"]
    proc.stdout.close()  # like `| head -n 1`
    err = proc.stderr.read()
    proc.stderr.close()
    assert (proc.wait(timeout=60), err) == (141, b"")


def readme():
    return (REPO / "README.md").read_text(encoding="utf-8")


def test_readme_main_job(tmp_path):
    """The README's main job, run as written there (after the setup step)."""
    [command] = [line for line in readme().splitlines() if line.startswith("tools/setup.sh && ")]
    argv = shlex.split(command.split(" && ", 1)[1])
    assert argv[:3] == [".venv/bin/python", "-m", "parvenkel"]
    got = run_process([sys.executable, *argv[1:]], cwd=REPO)
    assert (got.returncode, got.stderr) == (0, b"")
    rows = [line.split() for line in got.stdout.decode().splitlines()]
    text = CONSTITUTION.read_text(encoding="utf-8")
    counts = extract_keywords(text, stoplists.load("english"), 10**6)
    expected = sorted(counts, key=lambda p: (-p[1], p[0]))[:15]
    assert argv[3:] == ["keywords", "--top", "15", "--stop-list", "english", "examples/texts/us-constitution.txt"]
    assert rows[0] == ["rank", "word", "count"]
    assert [(w, int(c)) for _, w, c in rows[1:]] == expected
    assert expected[:3] == [("states", 125), ("president", 111), ("united", 85)]


#: The documents whose examples are run as written: the README and the
#: site's pages.
DOCUMENTS = [REPO / "README.md", *sorted((REPO / "docs").rglob("*.md"))]


def blocks(language):
    """(document, text) of each fenced block of `language` in DOCUMENTS."""
    found = []
    for path in DOCUMENTS:
        parts = path.read_text(encoding="utf-8").split(f"```{language}\n")[1:]
        found.extend((path.relative_to(REPO), part.split("```", 1)[0]) for part in parts)
    return found


def doc_sessions():
    """The documents' command-line examples: each "$ parvenkel ..." line and
    the lines printed after it."""
    sessions = []
    for path, block in blocks("text"):
        if not block.startswith("$ parvenkel "):
            continue
        for chunk in block.strip("\n").split("\n\n"):
            command, *output = chunk.split("\n")
            assert command.startswith("$ parvenkel ")
            sessions.append(pytest.param(shlex.split(command)[2:], "\n".join(output) + "\n", id=f"{path}: {command}"))
    return sessions


def test_documents_have_examples():
    assert len(doc_sessions()) >= 7
    assert {str(path) for path, block in blocks("python") if block.startswith(">>> ")} >= {
        "README.md", "docs/getting-started.md", "docs/index.md"
    }


@pytest.mark.parametrize("argv, output", doc_sessions())
def test_documented_command_lines(monkeypatch, capsys, argv, output):
    monkeypatch.chdir(REPO)
    assert main(argv) == 0
    assert capsys.readouterr() == (output, "")


@pytest.mark.parametrize(
    "path, session", [pytest.param(p, b, id=str(p)) for p, b in blocks("python") if b.startswith(">>> ")]
)
def test_documented_python_sessions(path, session):
    test = doctest.DocTestParser().get_doctest(session, {}, str(path), str(path), 0)
    runner = doctest.DocTestRunner()
    runner.run(test)
    assert (runner.failures, runner.tries) == (0, len(test.examples))


# real folders: bad files, compressed files, field names


def compressed(kind, data):
    if kind == "zst":
        return pytest.importorskip("compression.zstd").compress(data)
    return {"gz": gzip, "bz2": bz2, "xz": lzma}[kind].compress(data)


@pytest.mark.parametrize(
    "name, data, error, replaced",
    [
        # name, bytes, its error, the text --errors replace reads (None: it stops there too)
        ("b.txt", b"beta " * 40 + b"\xff beta \xfe", "not valid UTF-8 at byte offset 200 (invalid start byte: ff)",
         "beta " * 40 + "\ufffd beta \ufffd"),
        ("b.txt.gz", compressed("gz", b"beta \xc3"),
         "not valid UTF-8 at byte offset 5 of the decompressed text (unexpected end of data: c3)", "beta \ufffd"),
        ("b.gz", compressed("gz", b"beta " * 40)[:-9], "damaged gzip data after byte offset 192 of the decompressed "
         "text (Compressed file ended before the end-of-stream marker was reached)", None),
        ("b.xz", b"beta", "damaged xz data after byte offset 0 of the decompressed text "
         "(Input format not supported by decoder)", None),
    ],
)
@pytest.mark.parametrize("command", [["keywords", "--top", "9"], ["score", "beta", "--all"]])
def test_bad_files(cli, tmp_path, monkeypatch, command, name, data, error, replaced):
    from parvenkel import _sources

    monkeypatch.setattr(_sources, "CHUNK_SIZE", 16)  # the bad byte comes after counting began
    write(tmp_path / "d" / "a.txt", "alpha beta\n")
    write(tmp_path / "d" / "c.txt", "gamma beta beta\n")
    _, good, _ = cli(*command, "--jobs", "2", "d")
    write(tmp_path / "d" / name, data)
    assert cli(*command, "--jobs", "2", "d") == (1, "", f"parvenkel: error: d/{name}: {error}\n")
    assert cli(*command, "--jobs", "2", "--errors", "skip", "d") == (
        1, good, f"parvenkel: warning: d/{name}: {error}; skipped\nparvenkel: error: 1 of 3 files skipped\n"
    )
    got = cli(*command, "--errors", "replace", "d")
    if replaced is None:
        # Nothing to replace in a damaged archive: it is skipped, as by skip.
        assert got == (1, good, f"parvenkel: warning: d/{name}: {error}; skipped\nparvenkel: error: 1 of 3 files skipped\n")
        return
    assert got[2] == f"parvenkel: warning: d/{name}: {error}; bad bytes read as U+FFFD\n"
    text = replaced.encode()
    write(tmp_path / "d" / name, compressed("gz", text) if name.endswith(".gz") else text)
    assert got[:2] == cli(*command, "d")[:2]


@pytest.mark.parametrize("kind", ["gz", "bz2", "xz", "zst"])
def test_compressed_files(cli, tmp_path, monkeypatch, kind):
    from parvenkel import _sources

    text = CONSTITUTION.read_bytes()[:3000]
    write(tmp_path / "t.txt", text)
    write(tmp_path / "d" / f"t.{kind}", compressed(kind, text[:1000]) + compressed(kind, text[1000:]))
    write(tmp_path / "d" / "e.jsonl.gz", compressed("gz", b""))
    write(tmp_path / "n" / f"a.ndjson.{kind}", compressed(kind, json.dumps(ARTICLES[1]).encode()))
    monkeypatch.setattr(_sources, "CHUNK_SIZE", 100)
    chunks = list(_sources.decoded_chunks(_sources.collect([f"d/t.{kind}"])[0]))
    assert "".join(chunks).encode() == text and {len(c) for c in chunks[:-2]} == {100}
    assert cli("keywords", "--top", "50", "d") == cli("keywords", "--top", "50", "t.txt")
    assert cli("score", "market", "n", "--format", "csv")[1] == f"rank,score,source,title\n1,600.0,n/a.ndjson.{kind}:1,Stock Market\n"
    monkeypatch.setattr(_sources, "zstd", None)
    assert cli("keywords", write(tmp_path / "z.zst", b"").name)[2].endswith("z.zst: cannot read zstd: this Python has no compression.zstd\n")


NEWS = [
    {"id": "n-1", "headline": "Market falls", "body": "the market"},
    {"id": "n-2", "headline": "Rain", "body": "market day"},
]


@pytest.mark.parametrize(
    "argv, files, expected",
    [
        (["--title-field", "headline", "--content-field", "body", "--id-field", "id", "a.jsonl"], {"a.jsonl": NEWS},
         (0, "rank,score,source,title\n1,1100.0,n-1,Market falls\n2,100.0,n-2,Rain\n", "")),
        (["--id-field", "id", "a.jsonl"], {"a.jsonl": [{"title": "market", "content": "", "id": 7}]},
         (1, "", 'parvenkel: error: a.jsonl:1: "id" is not a string\n')),
        (["--title-field", "headline", "a.jsonl"], {"a.jsonl": [["market"]]},
         (1, "", 'parvenkel: error: a.jsonl:1: expected a JSON object with "headline" and "content"\n')),
        # In a folder: .jsonl and .ndjson files are JSON Lines, other files one article each.
        (["--title-field", "headline", "--content-field", "body", "d"],
         {"d/b.ndjson": NEWS[1:], "d/a.JSONL": NEWS[:1], "d/c.json": NEWS[:1], "d/e.txt": "market\nbody"},
         (0, "rank,score,source,title\n1,1100.0,d/a.JSONL:1,Market falls\n2,1000.0,d/e.txt,market\n"
             '3,500.0,d/c.json,"{""id"": ""n-1"", ""headline"": ""Market falls"", ""body"": ""the market""}"\n'
             "4,100.0,d/b.ndjson:1,Rain\n", "")),
        # A file named directly is read by its name as in a folder; a
        # byte-order mark at the start is dropped either way.
        (["notes.txt", "a.jsonl"], {"notes.txt": "\ufeffMarket notes\nthe market", "a.jsonl": "\ufeff" + json.dumps({"title": "Other", "content": "market"})},
         (0, "rank,score,source,title\n1,1100.0,notes.txt,Market notes\n2,100.0,a.jsonl:1,Other\n", "")),
    ],
)
def test_field_names(cli, tmp_path, argv, files, expected):
    for name, content in files.items():
        write(tmp_path / name, content if isinstance(content, str) else "".join(json.dumps(a) + "\n" for a in content))
    assert cli("score", "market", "--format", "csv", "--jobs", "2", *argv) == expected


def test_index_build_that_cannot_save_names_the_file(cli, articles):
    assert cli("index", "build", "missing/a.idx", "a.jsonl") == (
        1,
        "",
        "parvenkel: error: missing/a.idx: No such file or directory\n",
    )
