"""Reading the command line's inputs: byte offsets of undecodable input at
any chunk size, cutting text at white space, lines, folders."""

from collections import Counter

import pytest
import ucd_model
from hypothesis import given
from hypothesis import strategies as st
from strategies import texts

from parvenkel import _sources, extract_keywords
from parvenkel._sources import ASCII_WHITE_SPACE, InputError, Source, collect, decoded_chunks, lines, word_runs

ALL = (1 << 64) - 1


def source_of(tmp_path, data):
    path = tmp_path / "in.txt"
    path.write_bytes(data)
    return Source("in.txt", str(path), len(data))


@pytest.mark.parametrize("chunk_size", [1, 2, 3, 5, 1 << 20])
@pytest.mark.parametrize(
    "data, offset, detail",
    [
        (b"\xff", 0, "invalid start byte: ff"),
        (b"abc\x80", 3, "invalid start byte: 80"),
        (b"\xc3\xa9\xc3\xa9\xc3\xa9\xfe", 6, "invalid start byte: fe"),
        (b"\xe4\xb8\xad\xe4\xb8", 3, "unexpected end of data: e4 b8"),
        (b"ab\xf0\x9f\x98", 2, "unexpected end of data: f0 9f 98"),
        (b"ab\xf0\x9f\x98x", 2, "invalid continuation byte: f0 9f 98"),
        (b"\xed\xa0\x80rest", 0, "invalid continuation byte: ed"),  # an encoded surrogate
        (b"\xc0\x80", 0, "invalid start byte: c0"),  # an overlong form
        (b"ok " * 10 + b"\xe4\xb8\xad" * 3 + b"\xe4", 39, "unexpected end of data: e4"),
    ],
)
def test_offset_of_the_first_bad_byte(tmp_path, monkeypatch, chunk_size, data, offset, detail):
    monkeypatch.setattr(_sources, "CHUNK_SIZE", chunk_size)
    with pytest.raises(InputError) as caught:
        "".join(decoded_chunks(source_of(tmp_path, data)))
    assert str(caught.value) == f"in.txt: not valid UTF-8 at byte offset {offset} ({detail})"


@pytest.mark.parametrize("chunk_size", [1, 2, 3, 4, 1 << 20])
def test_good_text_at_any_chunk_size(tmp_path, monkeypatch, chunk_size):
    monkeypatch.setattr(_sources, "CHUNK_SIZE", chunk_size)
    text = "aé中😀\u0130Σ\r\n" * 5
    assert "".join(decoded_chunks(source_of(tmp_path, text.encode()))) == text


def test_ascii_cut_characters_are_white_space():
    assert {ord(c) for c in ASCII_WHITE_SPACE} <= ucd_model.WHITE_SPACE
    assert len(ASCII_WHITE_SPACE) == 6


@given(texts(max_size=60), st.lists(st.integers(0, 60), max_size=6))
def test_word_runs_count_what_the_whole_text_counts(text, cuts):
    """However the text arrives in chunks, the parts put back give the text,
    and counting part by part gives the counts of the whole."""
    bounds = sorted({0, len(text), *(min(c, len(text)) for c in cuts)})
    chunks = [text[a:b] for a, b in zip(bounds, bounds[1:])]
    parts = list(word_runs(iter(chunks)))
    assert "".join(parts) == text
    assert all(parts)
    total = Counter()
    for part in parts:
        total.update(dict(extract_keywords(part, [], ALL)))
    assert total == dict(extract_keywords(text, [], ALL))


@given(st.text(alphabet="ab\r\n", max_size=30), st.lists(st.integers(0, 30), max_size=5))
def test_lines(text, cuts):
    bounds = sorted({0, len(text), *(min(c, len(text)) for c in cuts)})
    chunks = [text[a:b] for a, b in zip(bounds, bounds[1:])]
    parts = text.split("\n")
    if parts[-1] == "":
        parts.pop()  # nothing after the last line feed is no line
    expected = [part.removesuffix("\r") for part in parts]
    assert list(lines(iter(chunks))) == list(enumerate(expected, start=1))


def test_folder_walk(tmp_path):
    for name in ["b.txt", "a.txt", "sub/c.txt", "sub/.hidden", ".dot/d.txt", "A.txt"]:
        path = tmp_path / "f" / name
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_text(name)
    found = collect([str(tmp_path / "f")])
    assert [s.name.removeprefix(str(tmp_path) + "/") for s in found] == ["f/A.txt", "f/a.txt", "f/b.txt", "f/sub/c.txt"]
    assert all(s.from_folder for s in found)
    assert [s.size for s in found] == [5, 5, 5, 9]


def test_paths_are_checked_before_anything_is_read(tmp_path):
    (tmp_path / "ok.txt").write_text("fine")
    empty = []
    with pytest.raises(InputError, match="nope.txt: No such file or directory"):
        collect([str(tmp_path / "ok.txt"), str(tmp_path / "nope.txt")])
    (tmp_path / "empty").mkdir()
    assert collect([str(tmp_path / "empty")], empty.append) == []
    assert empty == [str(tmp_path / "empty")]
    assert collect([]) == collect(["-"]) == [Source("<stdin>", None, None)]


def test_undecodable_file_name_is_shown_escaped(tmp_path):
    name = b"caf\xe9.txt"
    (tmp_path / "d").mkdir()
    with open(bytes(tmp_path / "d") + b"/" + name, "wb") as f:
        f.write(b"x")
    [found] = collect([str(tmp_path / "d")])
    assert found.name.endswith("/caf\\xe9.txt")
