"""The generated tables: reproducible from the UCD files, and the generator
refuses data that does not give this Unicode version's figures."""

import importlib.util
import re
import shutil
import subprocess
import sys
from pathlib import Path

import pytest

import ucd_model

ROOT = Path(__file__).resolve().parent.parent
GENERATOR = ROOT / "tools" / "gen_unicode_tables.py"
TEXT_DIR = ROOT / "src" / "text"
GENERATED = ["unicode_tables.hpp", "unicode_tables.cpp", "kernel_ranges.hpp"]


def run_generator(*args):
    return subprocess.run([sys.executable, str(GENERATOR), *args],
                          capture_output=True, text=True)


@pytest.fixture(scope="module")
def generator():
    module_spec = importlib.util.spec_from_file_location("gen_unicode_tables", GENERATOR)
    module = importlib.util.module_from_spec(module_spec)
    module_spec.loader.exec_module(module)
    return module


def test_regenerated_tables_are_identical(tmp_path):
    result = run_generator("--output-dir", str(tmp_path))
    assert result.returncode == 0, result.stderr
    for name in GENERATED:
        assert (tmp_path / name).read_bytes() == (TEXT_DIR / name).read_bytes(), name


# The figures of Unicode 17.0.0, counted by the model from the UCD files.
LOWER = ucd_model.LOWER_MAP
FIGURES = [
    pytest.param(len(LOWER), 1488, id="lowercase mappings"),
    pytest.param(sum(cp < 0x10000 for cp in LOWER), 1181, id="mappings in plane 0"),
    pytest.param(sum(0x10000 <= cp < 0x20000 for cp in LOWER), 307, id="mappings in plane 1"),
    pytest.param({cp: m for cp, m in LOWER.items() if len(m) > 1}, {0x0130: "\u0069\u0307"},
                 id="mappings to several"),
    pytest.param(len(ucd_model.LOWERCASE), 2595, id="Lowercase"),
    pytest.param(len(ucd_model.UPPERCASE), 2006, id="Uppercase"),
    pytest.param(len(ucd_model.TITLECASE), 31, id="Lt"),
    pytest.param(len(ucd_model.CASED), 4632, id="Cased"),
    pytest.param(len(ucd_model.CASE_IGNORABLE), 2794, id="Case_Ignorable"),
    pytest.param(len(ucd_model.CASED & ucd_model.CASE_IGNORABLE), 268, id="both"),
    pytest.param(len(ucd_model.ALPHABETIC), 147421, id="Alphabetic"),
    pytest.param(max(ucd_model.ALPHABETIC), 0x33479, id="largest Alphabetic"),
    pytest.param(len(ucd_model.WHITE_SPACE), 25, id="White_Space"),
]


@pytest.mark.parametrize(("actual", "expected"), FIGURES)
def test_unicode_figures(actual, expected):
    assert actual == expected


def test_lowercase_uppercase_titlecase_are_disjoint():
    assert not ucd_model.LOWERCASE & ucd_model.UPPERCASE
    assert not ucd_model.LOWERCASE & ucd_model.TITLECASE
    assert not ucd_model.UPPERCASE & ucd_model.TITLECASE


def edit_line(path, pattern, replacement):
    text = path.read_text(encoding="utf-8")
    edited, count = re.subn(pattern, replacement, text, count=1, flags=re.MULTILINE)
    assert count == 1, pattern
    path.write_text(edited, encoding="utf-8")


# Small edits to a copy of the UCD files, each of which must stop the
# generator with a message naming what went wrong.
@pytest.mark.parametrize(
    ("file", "pattern", "replacement", "message"),
    [
        ("DerivedCoreProperties.txt", r"^0041\.\.005A\s*; Alphabetic.*$", "", "Alphabetic"),
        ("DerivedCoreProperties.txt", r"^00AA\s*; Lowercase.*$", "", "Lowercase"),
        ("DerivedCoreProperties.txt", r"^0027\s*; Case_Ignorable.*$", "", "Case_Ignorable"),
        ("SpecialCasing.txt", r"^0130; 0069 0307;", "0130; 0069;", "multi-character"),
        ("UnicodeData.txt", r"^(01C5;[^;]*;)Lt;", r"\1Lu;", "Lt"),
        ("PropList.txt", r"^3000\s*; White_Space", "3001 ; White_Space", "U+3001"),
        ("PropList.txt", r"^0085\s*; White_Space", "1234 ; White_Space", "U+1234"),
        ("PropList.txt", r"^# PropList-17\.0\.0\.txt", "# PropList-16.0.0.txt", "17.0.0"),
    ],
    ids=["alphabetic", "lowercase", "case-ignorable", "special-casing", "titlecase",
         "white-space-single", "white-space-block", "version"],
)
def test_generator_rejects_changed_data(tmp_path, file, pattern, replacement, message):
    ucd = tmp_path / "ucd"
    shutil.copytree(ucd_model.UCD_DIR, ucd)
    edit_line(ucd / file, pattern, replacement)
    result = run_generator("--ucd-dir", str(ucd), "--output-dir", str(tmp_path / "out"))
    assert result.returncode == 1
    assert result.stderr.startswith("gen_unicode_tables: ")
    assert message in result.stderr
    assert not (tmp_path / "out").exists()


@pytest.fixture(scope="module")
def ucd(generator):
    return generator.Ucd(generator.UCD_DIR)


# Each corruption of a fresh copy of the tables must stop the self-check at
# the first code point it changes.
@pytest.mark.parametrize(
    ("cp", "corrupt", "message"),
    [
        # The offset of U+00C0's record, one more: U+00C0 would become U+00E1.
        (0xC0, lambda g, r: r + (1 << g.CHAR_INFO_DELTA_SHIFT), r"char_info\(U\+00C0\)"),
        # U+023A's record loses the mark of a mapping to another UTF-8 length.
        (0x23A, lambda g, r: r & ~g.CHAR_INFO_LOWER_SPECIAL, r"char_info\(U\+023A\)"),
        # U+0295 (not Cased in this version) made Cased.
        (0x295, lambda g, r: r | g.CHAR_INFO_CASED, r"char_info\(U\+0295\)"),
    ],
    ids=["offset", "special", "cased"],
)
def test_self_check_catches_a_corrupted_record(generator, ucd, cp, corrupt, message):
    tables = generator.Tables(ucd)
    info = tables.info
    # A record of its own for cp, so that the corruption touches cp alone
    # and the first difference is at cp.
    start = cp >> info.shift << info.shift
    block = info.blocks[info.index[cp >> info.shift] << info.shift:][:1 << info.shift]
    number = block[cp - start]
    info.records.append(corrupt(generator, info.records[number]))
    block[cp - start] = len(info.records) - 1
    info.index[cp >> info.shift] = len(info.blocks) >> info.shift
    info.blocks.extend(block)
    with pytest.raises(generator.DataError, match=message):
        generator.self_check(ucd, tables)


def test_self_check_catches_a_corrupted_two_byte_form(generator, ucd):
    tables = generator.Tables(ucd)
    k = 2 * (0x410 - generator.LOWER_TABLE_FROM)  # U+0410 CYRILLIC CAPITAL LETTER A
    tables.info.two_byte[k + 1] += 1
    with pytest.raises(generator.DataError, match=r"LOWERCASE_TWO_BYTE for U\+0410"):
        generator.self_check(ucd, tables)


# The word walker's ranges, each widened or moved by one code point past
# what the data allows: the check names the first code point that fails.
@pytest.mark.parametrize(
    "argument, ranges, message",
    [
        ("three_byte", ((0x4E00, 0xA48D),), r"U\+A48D in THREE_BYTE_LETTERS"),
        ("three_byte", ((0x3004, 0x3007),), r"U\+3004 in THREE_BYTE_LETTERS"),
        ("two_byte", ((0xC0, 0xD7, 0x20),), r"U\+00D7 in TWO_BYTE_LETTERS"),
        ("two_byte", ((0x391, 0x3A3, 0x20),), r"U\+03A2 in TWO_BYTE_LETTERS"),
        ("skipped", ((0x2010, 0x2028),), r"U\+2028 in SKIPPED"),
        ("run_three_byte", ((0xA000, 0xA000),), "not within THREE_BYTE_LETTERS"),
    ],
    ids=["past-yi", "cjk-mark", "multiplication", "greek-gap", "line-separator", "run-wider"],
)
def test_kernel_ranges_are_checked(generator, ucd, argument, ranges, message):
    generator.check_kernel_ranges(ucd)
    with pytest.raises(generator.DataError, match=message):
        generator.check_kernel_ranges(ucd, **{argument: ranges})


# The three-byte letters in the form of the vector kernels of two and four
# bytes a character: whole pages, and letters on one other page only.
@pytest.mark.parametrize(
    "three_byte, message",
    [
        (((0x3005, 0x3007), (0x3105, 0x3107)), "one page of letters by their low bytes"),
        (((0x3005, 0x3007), (0x10000, 0x10001)), "beyond the BMP"),
    ],
    ids=["two-pages", "astral"],
)
def test_three_byte_pages_are_checked(generator, three_byte, message):
    pages, gaps, span, holes = generator.three_byte_pages()
    assert (pages, span) == ([(0x3400, 0x9FFF), (0xAC00, 0xD7FF)], (0x3005, 0x30FF))
    with pytest.raises(generator.DataError, match=message):
        generator.three_byte_pages(three_byte)


def array_definitions(source):
    pattern = r"constexpr (std::u?int\d+_t) (\w+)\[(\d+)\] = \{([^}]*)\};"
    return {name: (ctype, int(n), [int(v.rstrip("u"), 0) for v in body.split(",") if v.strip()])
            for ctype, name, n, body in re.findall(pattern, source)}


def test_generated_files_describe_themselves():
    header = (TEXT_DIR / "unicode_tables.hpp").read_text(encoding="utf-8")
    source = (TEXT_DIR / "unicode_tables.cpp").read_text(encoding="utf-8")
    for text in (header, source):
        lines = text.splitlines()
        assert lines[0] == "// generated by tools/gen_unicode_tables.py, do not edit"
        assert "Unicode 17.0.0" in lines[1]
    arrays = array_definitions(source)
    assert set(arrays) == {"CHAR_INFO_INDEX", "CHAR_INFO_BLOCKS", "CHAR_INFO_RECORDS",
                           "LOWERCASE_TWO_BYTE", "LOWERCASE_MULTI", "WHITESPACE_MAP",
                           "LOWERCASE_SOURCE_TARGETS", "LOWERCASE_SOURCES", "ALPHABETIC_TWO_BYTE"}
    total = 0
    for name, (ctype, n, values) in arrays.items():
        assert len(values) == n, name
        bits = int(re.search(r"\d+", ctype).group())
        signed = not ctype.startswith("std::u")
        low, high = (-(1 << (bits - 1)), (1 << (bits - 1)) - 1) if signed else (0, (1 << bits) - 1)
        assert low <= min(values) and max(values) <= high, name
        size = n * bits // 8
        total += size
        # Both files state each array's size, and the header declares it.
        for text in (header, source):
            assert re.search(rf"^//\s+{name}\s+{size}\s", text, re.MULTILINE), name
        assert f"extern const {ctype} {name}[{n}];" in header
    for text in (header, source):
        assert re.search(rf"^//\s+total\s+{total}$", text, re.MULTILINE)
    # Small enough to stay in the processor's caches next to the work.
    assert total <= 48 * 1024
