#!/usr/bin/env python3
"""Generate the Unicode tables of the text primitives from the vendored UCD.

Reads data/ucd/ (UnicodeData.txt, SpecialCasing.txt, DerivedCoreProperties.txt,
PropList.txt) and writes src/text/unicode_tables.hpp and unicode_tables.cpp:

* CHAR_INFO_INDEX, CHAR_INFO_BLOCKS, CHAR_INFO_RECORDS: one record per code
  point, found in two steps (CPython's unicodetype_db.h layout): the index
  names a deduplicated block of record numbers for each 2**CHAR_INFO_SHIFT
  code points, and the record packs the lowercase mapping (an offset from
  the code point) with the bits Alphabetic, Cased and Case_Ignorable and the
  bits that send a code point off the plain lowercasing path.
* LOWERCASE_TWO_BYTE: the lowercase forms of U+00C0..U+07FF as UTF-8 bytes,
  so that the lowercasing of text in Latin, Greek, Cyrillic and the other
  scripts of two-byte characters copies two bytes per character.
* LOWERCASE_MULTI: the mappings to more than one code point.
* WHITESPACE_MAP: the 256-byte map of the non-ASCII White_Space characters.

and src/text/kernel_ranges.hpp: the code point ranges the vector kernels of
the word walker (src/kernels/) test without the tables, each code point of
each range checked against the data here.

Before anything is written, every code point 0..0x10FFFF is looked up in the
new tables the way the C++ code does (fast answers included) and compared
with the sets read from the data. The published figures of this Unicode
version are asserted as well, so that a wrong or changed data file stops the
build of the tables instead of slipping through.

Standard library only; runs on any Python 3.
"""

from __future__ import annotations

import argparse
import sys
from pathlib import Path

UNICODE_VERSION = "17.0.0"
ROOT = Path(__file__).resolve().parent.parent
UCD_DIR = ROOT / "data" / "ucd"
DEFAULT_OUTPUT_DIR = ROOT / "src" / "text"
MAX_CODE_POINT = 0x10FFFF
CODE_POINT_LIMIT = MAX_CODE_POINT + 1

# Fast answers of the C++ lookups; the self-check proves them against the data.
LOWER_TABLE_FROM = 0xC0  # to_lower: below this only A-Z change
LOWER_TABLE_UNTIL = 0x20000  # to_lower: nothing at or above this changes
CASED_TABLE_FROM = 0xAA  # is_cased: below this only the ASCII letters
CASE_IGNORABLE_TABLE_FROM = 0xA8  # is_case_ignorable: below this only ' . : ^ `
ASCII_CASE_IGNORABLE = frozenset(map(ord, "'.:^`"))
TITLECASE_FROM = 0x1C5  # first General_Category Lt code point
ALPHABETIC_TABLE_FROM = 0xAA  # is_alphabetic: below this only the ASCII letters
WHITE_SPACE_ASCII_MASK = 0x100003E00  # bit x set for U+0009-U+000D and U+0020
WHITE_SPACE_NONE_UNTIL = 0x85  # U+0021-U+0084 are not White_Space
WHITE_SPACE_SINGLES = {0x16: 0x1680, 0x30: 0x3000}  # block -> its one space
WHITE_SPACE_MAP_BITS = {0x00: 1, 0x20: 2}  # block -> bit of WHITESPACE_MAP

# Layout parameters. Each block of the two-step table covers 2**CHAR_INFO_SHIFT
# code points. With 6, 7 and 8, benchmarks/text_bench.sh measured the same
# speed within its noise; 7 gives the smallest tables (39.9 KB in all, against
# 55.6 KB with 6, whose index needs 16 bits, and 42.7 KB with 8).
CHAR_INFO_SHIFT = 7
CHAR_INFO_DELTA_SHIFT = 8  # record = offset << 8 | flags
TWO_BYTE_UNTIL = 0x800  # LOWERCASE_TWO_BYTE covers U+00C0..U+07FF
PLAIN_LETTER_SEEDS = (0x3041, 0x30A1, 0x4E00, 0xAC00)  # hiragana, katakana, CJK, Hangul
# The ranges of the word walker's kernels, [first, last], chosen for their
# vector compares (whole pages where the data allows; the CJK ideographs stop
# at U+9FFF, the end of their page, though Yi syllables go on as plain
# letters). Each code point in them is checked against the data: see
# check_kernel_ranges.
#
# Letters of two UTF-8 bytes whose lowercase form is a fixed offset away, of
# two bytes too: Latin-1 (not U+00D7, U+00F7), basic Greek (not U+03A2,
# unassigned, nor U+03A3, whose form depends on the text) and Cyrillic.
TWO_BYTE_LETTERS = (
    (0xC0, 0xD6, 0x20), (0xD8, 0xDE, 0x20), (0xDF, 0xF6, 0), (0xF8, 0xFF, 0),
    (0x391, 0x3A1, 0x20), (0x3A4, 0x3AB, 0x20), (0x3AC, 0x3CE, 0),
    (0x400, 0x40F, 0x50), (0x410, 0x42F, 0x20), (0x430, 0x45F, 0),
)
# Letters of three UTF-8 bytes that are their own lowercase form, common in
# CJK text: the ideographic iteration and closing marks and number zero,
# kana (with the prolonged sound and iteration marks), CJK ideographs with
# extension A, and Hangul syllables.
THREE_BYTE_LETTERS = (
    (0x3005, 0x3007), (0x3041, 0x3096), (0x309D, 0x309F), (0x30A1, 0x30FA),
    (0x30FC, 0x30FF), (0x3400, 0x4DBF), (0x4E00, 0x9FFF), (0xAC00, 0xD7A3),
)
# Characters beyond ASCII that are neither Alphabetic nor White_Space, which
# words drop: general punctuation up to U+2027, CJK punctuation and brackets,
# the katakana middle dot and fullwidth ASCII punctuation and digits.
SKIPPED = (
    (0x2010, 0x2027), (0x3001, 0x3004), (0x3008, 0x301F), (0x30FB, 0x30FB),
    (0xFF01, 0xFF20),
)
# The narrower sets of the exact path's vector runs (letter_runs): CJK
# letters, and the characters they drop, in text of two bytes a unit; the
# Latin-1 letters are the first four TWO_BYTE_LETTERS.
RUN_THREE_BYTE_LETTERS = (
    (0x3041, 0x3096), (0x309D, 0x309F), (0x30A1, 0x30FA), (0x30FC, 0x30FF),
    (0x4E00, 0x9FFF), (0xAC00, 0xD7A3),
)
RUN_SKIPPED_LATIN1 = ((0x00AB, 0x00AB), (0x00BB, 0x00BB))  # guillemets
RUN_SKIPPED_PUNCTUATION = ((0x2010, 0x2027),)  # dashes, quotes, bullets
RUN_SKIPPED_CJK = ((0x3001, 0x3003), (0x3008, 0x3011), (0xFF01, 0xFF20))

# Record flags.
CHAR_INFO_ALPHABETIC = 0x01
CHAR_INFO_CASED = 0x02
CHAR_INFO_CASE_IGNORABLE = 0x04
# The lowercase form is not "the code point plus the offset, in as many UTF-8
# bytes": a mapping to several code points, to a different UTF-8 length, or
# one decided by the Final_Sigma context.
CHAR_INFO_LOWER_SPECIAL = 0x08
CHAR_INFO_LOWER_MULTI = 0x10  # the offset is an index into LOWERCASE_MULTI
CHAR_INFO_FINAL_SIGMA = 0x20  # lowercased by the Final_Sigma rule in a text
CHAR_INFO_FLAGS = (
    ("ALPHABETIC", CHAR_INFO_ALPHABETIC),
    ("CASED", CHAR_INFO_CASED),
    ("CASE_IGNORABLE", CHAR_INFO_CASE_IGNORABLE),
    ("LOWER_SPECIAL", CHAR_INFO_LOWER_SPECIAL),
    ("LOWER_MULTI", CHAR_INFO_LOWER_MULTI),
    ("FINAL_SIGMA", CHAR_INFO_FINAL_SIGMA),
)

# Figures of Unicode 17.0.0 that the data must reproduce.
EXPECTED = {
    "lowercase mappings": 1488,
    "lowercase mappings in plane 0": 1181,
    "lowercase mappings in plane 1": 307,
    "lowercase mappings above plane 1": 0,
    "multi-character lowercase mappings": {0x0130: (0x0069, 0x0307)},
    "Final_Sigma": {0x03A3},
    "Lowercase": 2595,
    "Uppercase": 2006,
    "Lt": 31,
    "Cased": 4632,
    "Case_Ignorable": 2794,
    "Cased and Case_Ignorable": 268,
    "Alphabetic": 147421,
    "largest Alphabetic": 0x33479,
    "White_Space": 25,
}


class DataError(Exception):
    """The UCD files do not say what this generator expects."""


def expect(what: str, actual: object) -> None:
    wanted = EXPECTED[what]
    if actual != wanted:
        raise DataError(f"{what}: expected {wanted!r}, found {actual!r}")


def require(condition: bool, message: str) -> None:
    if not condition:
        raise DataError(message)


# --------------------------------------------------------------------------
# Reading the UCD files


def data_lines(path: Path):
    """Yields the semicolon-separated fields of each data line of a UCD file."""
    with path.open(encoding="utf-8") as f:
        for line in f:
            line = line.split("#", 1)[0].strip()
            if line:
                yield [field.strip() for field in line.split(";")]


def code_point_range(field: str) -> range:
    first, _, last = field.partition("..")
    return range(int(first, 16), int(last or first, 16) + 1)


def check_version(path: Path) -> None:
    with path.open(encoding="utf-8") as f:
        first_line = f.readline()
    require(
        f"{path.stem}-{UNICODE_VERSION}.txt" in first_line,
        f"{path.name} is not version {UNICODE_VERSION}: {first_line.strip()!r}",
    )


def read_properties(path: Path) -> dict[str, set[int]]:
    """Binary properties of a file like PropList.txt (enumerated ones skipped)."""
    check_version(path)
    properties: dict[str, set[int]] = {}
    for fields in data_lines(path):
        if len(fields) == 2:
            properties.setdefault(fields[1], set()).update(code_point_range(fields[0]))
    return properties


def read_unicode_data(path: Path) -> tuple[dict[int, str], dict[int, int]]:
    """General_Category of every listed code point, and Simple_Lowercase_Mapping."""
    category: dict[int, str] = {}
    simple_lower: dict[int, int] = {}
    range_first: int | None = None
    for fields in data_lines(path):
        cp = int(fields[0], 16)
        name, gc, lower = fields[1], fields[2], fields[13]
        if name.endswith(", First>"):
            range_first = cp
            continue
        if name.endswith(", Last>"):
            require(range_first is not None, f"range end without start at {cp:04X}")
            for c in range(range_first, cp + 1):
                category[c] = gc
            range_first = None
            continue
        category[cp] = gc
        if lower:
            simple_lower[cp] = int(lower, 16)
    return category, simple_lower


def read_special_casing(path: Path) -> tuple[dict[int, tuple[int, ...]], set[int]]:
    """Lowercase entries of SpecialCasing.txt without a condition list, and
    the code points whose entry has the condition Final_Sigma."""
    check_version(path)
    mappings: dict[int, tuple[int, ...]] = {}
    final_sigma: set[int] = set()
    for fields in data_lines(path):
        # code; lower; title; upper; (condition_list;)? and an empty last field
        conditions = fields[4] if len(fields) > 5 else ""
        cp = int(fields[0], 16)
        if conditions:
            if conditions == "Final_Sigma":
                final_sigma.add(cp)
            continue
        mappings[cp] = tuple(int(x, 16) for x in fields[1].split())
    return mappings, final_sigma


class Ucd:
    def __init__(self, ucd_dir: Path):
        category, simple_lower = read_unicode_data(ucd_dir / "UnicodeData.txt")
        special, final_sigma = read_special_casing(ucd_dir / "SpecialCasing.txt")
        derived = read_properties(ucd_dir / "DerivedCoreProperties.txt")
        proplist = read_properties(ucd_dir / "PropList.txt")

        full: dict[int, tuple[int, ...]] = {cp: (m,) for cp, m in simple_lower.items()}
        full.update(special)
        self.lower_map = {cp: m for cp, m in full.items() if m != (cp,)}
        self.lowercase = frozenset(derived["Lowercase"])
        self.uppercase = frozenset(derived["Uppercase"])
        self.titlecase = frozenset(cp for cp, gc in category.items() if gc == "Lt")
        self.cased = self.lowercase | self.uppercase | self.titlecase
        self.derived_cased = frozenset(derived["Cased"])
        self.case_ignorable = frozenset(derived["Case_Ignorable"])
        self.alphabetic = frozenset(derived["Alphabetic"])
        self.white_space = frozenset(proplist["White_Space"])
        self.final_sigma = frozenset(final_sigma)


def check_figures(ucd: Ucd) -> None:
    lower = ucd.lower_map
    expect("lowercase mappings", len(lower))
    expect("lowercase mappings in plane 0", sum(cp < 0x10000 for cp in lower))
    expect("lowercase mappings in plane 1", sum(0x10000 <= cp < 0x20000 for cp in lower))
    expect("lowercase mappings above plane 1", sum(cp >= 0x20000 for cp in lower))
    expect(
        "multi-character lowercase mappings",
        {cp: m for cp, m in lower.items() if len(m) > 1},
    )
    for cp, mapping in lower.items():
        require(
            all(c >> 16 == cp >> 16 for c in mapping),
            f"U+{cp:04X} maps out of its plane",
        )
        require(0 not in mapping, f"U+{cp:04X} maps to U+0000")  # 0 pads LOWERCASE_MULTI
    expect("Final_Sigma", set(ucd.final_sigma))
    expect("Lowercase", len(ucd.lowercase))
    expect("Uppercase", len(ucd.uppercase))
    expect("Lt", len(ucd.titlecase))
    require(
        not (ucd.lowercase & ucd.uppercase)
        and not (ucd.lowercase & ucd.titlecase)
        and not (ucd.uppercase & ucd.titlecase),
        "Lowercase, Uppercase and Lt overlap",
    )
    expect("Cased", len(ucd.cased))
    require(ucd.cased == ucd.derived_cased, "Cased is not Lowercase + Uppercase + Lt")
    require(min(ucd.titlecase) == TITLECASE_FROM, "first Lt code point moved")
    expect("Case_Ignorable", len(ucd.case_ignorable))
    expect("Cased and Case_Ignorable", len(ucd.cased & ucd.case_ignorable))
    expect("Alphabetic", len(ucd.alphabetic))
    expect("largest Alphabetic", max(ucd.alphabetic))
    expect("White_Space", len(ucd.white_space))


# --------------------------------------------------------------------------
# Table layout


def utf8_length(cp: int) -> int:
    return 1 if cp < 0x80 else 2 if cp < 0x800 else 3 if cp < 0x10000 else 4


class Array:
    """One generated C++ array, with the narrowest element type for its values."""

    TYPES = (
        ("std::uint8_t", 0, 0xFF, 1),
        ("std::int8_t", -0x80, 0x7F, 1),
        ("std::uint16_t", 0, 0xFFFF, 2),
        ("std::int16_t", -0x8000, 0x7FFF, 2),
        ("std::uint32_t", 0, 0xFFFFFFFF, 4),
        ("std::int32_t", -0x80000000, 0x7FFFFFFF, 4),
        ("std::uint64_t", 0, 0xFFFFFFFFFFFFFFFF, 8),
    )

    def __init__(self, name: str, values: list[int], comment: str, hex_digits: int = 0):
        self.name = name
        self.values = list(values)
        self.comment = comment
        self.hex_digits = hex_digits
        low, high = min(self.values), max(self.values)
        self.ctype, self.item_size = next(
            (t, size) for t, lo, hi, size in self.TYPES if lo <= low and high <= hi
        )

    @property
    def size(self) -> int:
        return self.item_size * len(self.values)

    def literal(self, v: int) -> str:
        if self.hex_digits:
            text = f"0x{v:0{self.hex_digits}X}"
        else:
            text = str(v)
        if self.ctype == "std::uint64_t" and v > 0x7FFFFFFF:
            text += "u"
        return text


class CharInfoTable:
    """One record per code point, in two steps.

    A record is offset << CHAR_INFO_DELTA_SHIFT | flags, a signed 32-bit
    value: the offset is the lowercase mapping minus the code point (for
    CHAR_INFO_LOWER_MULTI, the mapping's index into LOWERCASE_MULTI), and the
    flags are the CHAR_INFO_* bits. Distinct records are numbered by first
    use, so record 0 is that of U+0000: no mapping, no flag.

    The code points are cut into blocks of 2**shift; equal blocks are stored
    once. INDEX[x >> shift] is the block of x, BLOCKS[block << shift | (x mod
    2**shift)] its record number. The index stops after the last block that
    holds a record other than 0 (limit); every code point from there on has
    record 0.
    """

    def __init__(self, ucd: Ucd, shift: int = CHAR_INFO_SHIFT):
        lower_map = ucd.lower_map
        multi_sources = sorted(cp for cp, m in lower_map.items() if len(m) > 1)
        self.multi = [lower_map[cp] for cp in multi_sources]
        self.multi_width = max(len(m) for m in self.multi)

        def record(cp: int) -> int:
            flags = 0
            if cp in ucd.alphabetic:
                flags |= CHAR_INFO_ALPHABETIC
            if cp in ucd.cased:
                flags |= CHAR_INFO_CASED
            if cp in ucd.case_ignorable:
                flags |= CHAR_INFO_CASE_IGNORABLE
            mapping = lower_map.get(cp, (cp,))
            if len(mapping) > 1:
                flags |= CHAR_INFO_LOWER_SPECIAL | CHAR_INFO_LOWER_MULTI
                offset = multi_sources.index(cp) * self.multi_width
            else:
                offset = mapping[0] - cp
                if utf8_length(mapping[0]) != utf8_length(cp):
                    flags |= CHAR_INFO_LOWER_SPECIAL
            if cp in ucd.final_sigma:
                flags |= CHAR_INFO_LOWER_SPECIAL | CHAR_INFO_FINAL_SIGMA
            return offset << CHAR_INFO_DELTA_SHIFT | flags

        numbers: dict[int, int] = {}
        per_code_point = [numbers.setdefault(record(cp), len(numbers))
                          for cp in range(CODE_POINT_LIMIT)]
        self.records = list(numbers)
        require(self.records[0] == 0, "U+0000 has a record")

        size = 1 << shift
        last_used = max(cp for cp, n in enumerate(per_code_point) if n != 0)
        self.shift = shift
        self.limit = (last_used >> shift) + 1 << shift
        blocks: dict[tuple[int, ...], int] = {}
        self.index = [
            blocks.setdefault(tuple(per_code_point[base:base + size]), len(blocks))
            for base in range(0, self.limit, size)
        ]
        self.blocks = [n for block in blocks for n in block]  # insertion order: first use
        self.arrays = [
            Array("CHAR_INFO_INDEX", self.index, f"block of each {size} code points"),
            Array("CHAR_INFO_BLOCKS", self.blocks, f"record number of each code point, "
                  f"{size} per block"),
            Array("CHAR_INFO_RECORDS", self.records, "offset << 8 | flags"),
        ]
        # The two-byte code points from U+00C0 on, with their lowercase
        # forms in UTF-8, or 0, 0 for those off the plain path.
        self.two_byte = []
        for cp in range(LOWER_TABLE_FROM, TWO_BYTE_UNTIL):
            record = self.record(cp)
            if record & CHAR_INFO_LOWER_SPECIAL:
                self.two_byte += [0, 0]
            else:
                self.two_byte += list(chr(self.lower(cp, record)[0]).encode("utf-8"))
        self.two_byte_array = Array(
            "LOWERCASE_TWO_BYTE", self.two_byte,
            "UTF-8 of the lowercase form of U+00C0..U+07FF (0, 0: off the plain path)", 2)
        self.multi_array = Array(
            "LOWERCASE_MULTI",
            [c for m in self.multi for c in m + (0,) * (self.multi_width - len(m))],
            "mapped code points of each mapping to several, zero-padded", 4,
        )

    def record(self, cp: int) -> int:
        """The record of any code point from U+0080 on, as the C++ code reads it."""
        if cp >= self.limit:
            return self.records[0]
        block = self.index[cp >> self.shift]
        return self.records[self.blocks[block << self.shift | (cp & (1 << self.shift) - 1)]]

    def lower(self, cp: int, record: int) -> tuple[int, ...]:
        offset = record >> CHAR_INFO_DELTA_SHIFT
        if record & CHAR_INFO_LOWER_MULTI:
            return self.multi[offset // self.multi_width]
        return (cp + offset,)


def build_white_space_map(white_space: frozenset[int]) -> list[int]:
    table = [0] * 256
    for cp in sorted(white_space):
        if cp < WHITE_SPACE_NONE_UNTIL:
            require(cp <= 0x20 and WHITE_SPACE_ASCII_MASK >> cp & 1,
                    f"U+{cp:04X} escapes the ASCII mask")
            continue
        block = cp >> 8
        if block in WHITE_SPACE_SINGLES:
            require(cp == WHITE_SPACE_SINGLES[block],
                    f"White_Space U+{cp:04X} is not the one space its block may hold")
        elif block in WHITE_SPACE_MAP_BITS:
            table[cp & 0xFF] |= WHITE_SPACE_MAP_BITS[block]
        else:
            raise DataError(f"White_Space U+{cp:04X} lies in an unexpected block")
    require(all(v in (0, 1, 2) for v in table), "WHITESPACE_MAP byte with both bits")
    return table


def is_ascii_letter(cp: int) -> bool:
    return 0x41 <= (cp & ~0x20) <= 0x5A


class Tables:
    def __init__(self, ucd: Ucd, shift: int = CHAR_INFO_SHIFT):
        self.info = CharInfoTable(ucd, shift)
        self.white_space_map = build_white_space_map(ucd.white_space)
        # Every single-code-point mapping that changes its code point, as
        # (mapped to, from) pairs in order: what lowercases to a given code
        # point, for searches that compare unlowercased text.
        self.sources = sorted((m[0], cp) for cp, m in ucd.lower_map.items() if len(m) == 1)
        per_target: dict[int, int] = {}
        for target, _ in self.sources:
            per_target[target] = per_target.get(target, 0) + 1
        self.sources_max = max(per_target.values())
        # The runs of code points around the seeds (kana, CJK ideographs,
        # Hangul syllables) that are Alphabetic and nothing else, with no
        # mapping: a scan can take them without a table.
        self.alphabetic_two_byte = [0] * (TWO_BYTE_UNTIL // 64)
        for cp in range(TWO_BYTE_UNTIL):
            if cp in ucd.alphabetic:
                self.alphabetic_two_byte[cp >> 6] |= 1 << (cp & 63)
        self.plain_runs = []
        for seed in PLAIN_LETTER_SEEDS:
            plain = self.info.record(seed)
            require(plain == CHAR_INFO_ALPHABETIC, f"U+{seed:04X} is not a plain letter")
            start, end = seed, seed + 1
            while self.info.record(start - 1) == plain:
                start -= 1
            while self.info.record(end) == plain:
                end += 1
            require(not any(cp in ucd.white_space for cp in range(start, end)),
                    "White_Space among the plain letters")
            require(0x800 <= start and end <= 0x10000, "plain letters not of three UTF-8 bytes")
            self.plain_runs.append((start, end))
        require(self.plain_runs == sorted(self.plain_runs), "plain letter seeds out of order")
        require(all(t >> 16 == cp >> 16 < 2 for t, cp in self.sources),
                "a mapping outside planes 0 and 1")
        self.sources_plane_1 = sum(t < 0x10000 for t, _ in self.sources)
        for cp, m in ucd.lower_map.items():
            require(cp >= 0x100 or all(c < 0x100 for c in m),
                    f"U+{cp:04X} of Latin-1 maps out of Latin-1")
        self.arrays = (
            self.info.arrays
            + [self.info.two_byte_array, self.info.multi_array]
            + [Array("WHITESPACE_MAP", self.white_space_map,
                     "bit 0: block 0x00, bit 1: block 0x20")]
            + [Array("ALPHABETIC_TWO_BYTE", self.alphabetic_two_byte,
                     "Alphabetic below U+0800: bit x mod 64 of entry x / 64", 16)]
            + [Array("LOWERCASE_SOURCE_TARGETS", [t & 0xFFFF for t, _ in self.sources],
                     "the code point each source maps to, in order, less its plane", 4),
               Array("LOWERCASE_SOURCES", [cp & 0xFFFF for _, cp in self.sources],
                     "the code points that map there, less their plane", 4)]
        )

    # The decision procedures of the C++ code, fast answers first.

    def char_info(self, cp: int) -> int:
        """char_info: ASCII without a table, the rest from the table."""
        if cp < 0x80:
            flags = 0
            if is_ascii_letter(cp):
                flags |= CHAR_INFO_ALPHABETIC | CHAR_INFO_CASED
            if cp in ASCII_CASE_IGNORABLE:
                flags |= CHAR_INFO_CASE_IGNORABLE
            offset = 0x20 if 0x41 <= cp <= 0x5A else 0
            return offset << CHAR_INFO_DELTA_SHIFT | flags
        return self.info.record(cp)

    def to_lower(self, cp: int) -> tuple[int, ...]:
        if cp < LOWER_TABLE_FROM:
            return (cp + 0x20,) if 0x41 <= cp <= 0x5A else (cp,)
        if cp >= LOWER_TABLE_UNTIL:
            return (cp,)
        return self.info.lower(cp, self.info.record(cp))

    def is_cased(self, cp: int) -> bool:
        if cp < CASED_TABLE_FROM:
            return is_ascii_letter(cp)
        return bool(self.info.record(cp) & CHAR_INFO_CASED)

    def is_case_ignorable(self, cp: int) -> bool:
        if cp < CASE_IGNORABLE_TABLE_FROM:
            return cp in ASCII_CASE_IGNORABLE
        return bool(self.info.record(cp) & CHAR_INFO_CASE_IGNORABLE)

    def is_alphabetic(self, cp: int) -> bool:
        if is_ascii_letter(cp):
            return True
        if cp < ALPHABETIC_TABLE_FROM:
            return False
        return bool(self.info.record(cp) & CHAR_INFO_ALPHABETIC)

    def is_white_space(self, cp: int) -> bool:
        if cp <= 0x20:
            return bool(WHITE_SPACE_ASCII_MASK >> cp & 1)
        if cp < WHITE_SPACE_NONE_UNTIL:
            return False
        block = cp >> 8
        if block in WHITE_SPACE_SINGLES:
            return cp == WHITE_SPACE_SINGLES[block]
        if block in WHITE_SPACE_MAP_BITS:
            return bool(self.white_space_map[cp & 0xFF] & WHITE_SPACE_MAP_BITS[block])
        return False


def char_info_truth(ucd: Ucd, cp: int) -> dict[str, object]:
    """What char_info must answer for cp, straight from the data."""
    mapping = ucd.lower_map.get(cp, (cp,))
    return {
        "alphabetic": cp in ucd.alphabetic,
        "cased": cp in ucd.cased,
        "case_ignorable": cp in ucd.case_ignorable,
        "lower": mapping,
        "final_sigma": cp in ucd.final_sigma,
        # Off the plain path: several code points, another UTF-8 length, or
        # the context rule.
        "special": len(mapping) > 1
        or utf8_length(mapping[0]) != utf8_length(cp)
        or cp in ucd.final_sigma,
    }


def char_info_answers(tables: Tables, cp: int) -> dict[str, object]:
    record = tables.char_info(cp)
    return {
        "alphabetic": bool(record & CHAR_INFO_ALPHABETIC),
        "cased": bool(record & CHAR_INFO_CASED),
        "case_ignorable": bool(record & CHAR_INFO_CASE_IGNORABLE),
        "lower": tables.info.lower(cp, record),
        "final_sigma": bool(record & CHAR_INFO_FINAL_SIGMA),
        "special": bool(record & CHAR_INFO_LOWER_SPECIAL),
    }


def self_check(ucd: Ucd, tables: Tables) -> None:
    """Every code point through the tables' own lookups against the data."""
    checks = (
        ("char_info", lambda cp: char_info_answers(tables, cp),
         lambda cp: char_info_truth(ucd, cp)),
        ("to_lower", tables.to_lower, lambda cp: ucd.lower_map.get(cp, (cp,))),
        ("is_cased", tables.is_cased, ucd.cased.__contains__),
        ("is_case_ignorable", tables.is_case_ignorable, ucd.case_ignorable.__contains__),
        ("is_alphabetic", tables.is_alphabetic, ucd.alphabetic.__contains__),
        ("is_white_space", tables.is_white_space, ucd.white_space.__contains__),
    )
    for name, lookup, truth in checks:
        for cp in range(CODE_POINT_LIMIT):
            if lookup(cp) != truth(cp):
                raise DataError(
                    f"self-check: {name}(U+{cp:04X}) gives {lookup(cp)!r}, "
                    f"the data says {truth(cp)!r}"
                )
    require(tables.info.limit >= LOWER_TABLE_UNTIL, "the table ends below the mapped code points")
    two_byte = tables.info.two_byte
    for cp in range(LOWER_TABLE_FROM, TWO_BYTE_UNTIL):
        form = bytes(two_byte[2 * (cp - LOWER_TABLE_FROM):][:2])
        truth = char_info_truth(ucd, cp)
        expected = b"\0\0" if truth["special"] else "".join(map(chr, truth["lower"])).encode()
        if form != expected:
            raise DataError(f"self-check: LOWERCASE_TWO_BYTE for U+{cp:04X} is {form!r}, "
                            f"the data says {expected!r}")


# --------------------------------------------------------------------------
# Output

COLUMNS = 100
INDENT = "    "


def format_values(array: Array) -> list[str]:
    lines, line = [], INDENT
    for v in array.values:
        item = array.literal(v) + ","
        if len(line) + len(item) + 1 > COLUMNS and line.strip():
            lines.append(line.rstrip())
            line = INDENT
        line += item + " "
    if line.strip():
        lines.append(line.rstrip())
    return lines


def sizes_comment(tables: Tables) -> list[str]:
    width = max(len(a.name) for a in tables.arrays)
    lines = ["// Table sizes in bytes:"]
    for a in tables.arrays:
        lines.append(f"//   {a.name:<{width}}  {a.size:>6}  ({len(a.values)} x {a.ctype})")
    lines.append(f"//   {'total':<{width}}  {sum(a.size for a in tables.arrays):>6}")
    return lines


def header_text(tables: Tables) -> str:
    info = tables.info
    out = [
        "// generated by tools/gen_unicode_tables.py, do not edit",
        f"// Unicode {UNICODE_VERSION}: UnicodeData.txt, SpecialCasing.txt,"
        " DerivedCoreProperties.txt, PropList.txt",
        *sizes_comment(tables),
        "#pragma once",
        "",
        "#include <cstddef>",
        "#include <cstdint>",
        "",
        "namespace parvenkel::text::tables {",
        "",
        f'inline constexpr char UNICODE_VERSION[] = "{UNICODE_VERSION}";',
        "",
        "// One record per code point, found in two steps: the record of x is",
        "// CHAR_INFO_RECORDS[CHAR_INFO_BLOCKS[CHAR_INFO_INDEX[x >> CHAR_INFO_SHIFT]",
        "// << CHAR_INFO_SHIFT | (x & CHAR_INFO_MASK)]] for x below CHAR_INFO_LIMIT,",
        "// and record 0 (no mapping, no flag) from there on. Equal blocks are stored",
        "// once. A record is offset << CHAR_INFO_DELTA_SHIFT | flags: the offset is",
        "// the code point's lowercase mapping minus the code point, or, with",
        "// CHAR_INFO_LOWER_MULTI, the index of its mapping in LOWERCASE_MULTI.",
        "// CHAR_INFO_LOWER_SPECIAL marks every code point whose lowercase form is",
        "// not the code point plus the offset in as many UTF-8 bytes (a mapping to",
        "// several code points, to another UTF-8 length, or by the Final_Sigma",
        "// context, CHAR_INFO_FINAL_SIGMA). The lowercase mapping holds from U+00C0",
        "// to LOWERCASE_UNTIL; the records of ASCII agree with the rules for it.",
        f"inline constexpr unsigned CHAR_INFO_SHIFT = {info.shift};",
        f"inline constexpr char32_t CHAR_INFO_MASK = 0x{(1 << info.shift) - 1:X};",
        f"inline constexpr char32_t CHAR_INFO_LIMIT = 0x{info.limit:X};",
        f"inline constexpr unsigned CHAR_INFO_DELTA_SHIFT = {CHAR_INFO_DELTA_SHIFT};",
        *(f"inline constexpr std::int32_t CHAR_INFO_{name} = 0x{bit:02X};"
          for name, bit in CHAR_INFO_FLAGS),
        f"inline constexpr char32_t LOWERCASE_UNTIL = 0x{LOWER_TABLE_UNTIL:X};",
        f"inline constexpr std::size_t LOWERCASE_MULTI_WIDTH = {info.multi_width};",
        "",
        "// LOWERCASE_TWO_BYTE: for each code point x from LOWERCASE_TWO_BYTE_FROM to",
        "// LOWERCASE_TWO_BYTE_UNTIL (the two-byte ones), the two UTF-8 bytes of its",
        "// lowercase form at 2 * (x - LOWERCASE_TWO_BYTE_FROM), or 0, 0 when its",
        "// record has CHAR_INFO_LOWER_SPECIAL.",
        f"inline constexpr char32_t LOWERCASE_TWO_BYTE_FROM = 0x{LOWER_TABLE_FROM:X};",
        f"inline constexpr char32_t LOWERCASE_TWO_BYTE_UNTIL = 0x{TWO_BYTE_UNTIL:X};",
        "",
        "// White_Space outside ASCII: bit 0 for block 0x00 (U+0085, U+00A0), bit 1 for",
        "// block 0x20 (U+2000-U+200A, U+2028, U+2029, U+202F, U+205F), at x mod 256.",
        "",
        "// ALPHABETIC_TWO_BYTE: Alphabetic for the code points below",
        "// LOWERCASE_TWO_BYTE_UNTIL, one bit each, bit x mod 64 of entry x / 64.",
        "",
        "// The mappings to one other code point, inverted: LOWERCASE_SOURCES[k] maps",
        "// to LOWERCASE_SOURCE_TARGETS[k], ordered by target, then source; both are",
        "// stored without their plane, which is 0 before LOWERCASE_SOURCES_PLANE_1",
        "// and 1 from there on (no mapping leaves its plane). No target has more",
        "// than LOWERCASE_SOURCES_MAX sources. A mapping of a code point below",
        "// U+0100 stays below it.",
        f"inline constexpr std::size_t LOWERCASE_SOURCES_PLANE_1 = {tables.sources_plane_1};",
        f"inline constexpr std::size_t LOWERCASE_SOURCES_MAX = {tables.sources_max};",
        "",
        "// Runs of code points, [from, until) in order, that are Alphabetic, lowercase",
        "// to themselves and have no other property here (not Cased, not",
        "// Case_Ignorable, not White_Space): kana, CJK ideographs, Hangul syllables.",
        "// All take three bytes in UTF-8.",
        "inline constexpr char32_t PLAIN_LETTER_RUNS[][2] = {",
        *(f"    {{0x{a:X}, 0x{b:X}}}," for a, b in tables.plain_runs),
        "};",
        "",
    ]
    for a in tables.arrays:
        out.append(f"extern const {a.ctype} {a.name}[{len(a.values)}];")
    out += ["", "}  // namespace parvenkel::text::tables", ""]
    return "\n".join(out)


def source_text(tables: Tables) -> str:
    out = [
        "// generated by tools/gen_unicode_tables.py, do not edit",
        f"// Unicode {UNICODE_VERSION}: UnicodeData.txt, SpecialCasing.txt,"
        " DerivedCoreProperties.txt, PropList.txt",
        *sizes_comment(tables),
        '#include "text/unicode_tables.hpp"',
        "",
        "namespace parvenkel::text::tables {",
        "",
        "// clang-format off",
    ]
    for a in tables.arrays:
        out.append("")
        out.append(f"// {a.comment}")
        out.append(f"constexpr {a.ctype} {a.name}[{len(a.values)}] = {{")
        out += format_values(a)
        out.append("};")
    out += ["", "// clang-format on", "", "}  // namespace parvenkel::text::tables", ""]
    return "\n".join(out)


def check_kernel_ranges(ucd: Ucd, two_byte=TWO_BYTE_LETTERS, three_byte=THREE_BYTE_LETTERS,
                        skipped=SKIPPED, run_three_byte=RUN_THREE_BYTE_LETTERS,
                        run_skipped=(RUN_SKIPPED_LATIN1, RUN_SKIPPED_PUNCTUATION,
                                     RUN_SKIPPED_CJK)) -> None:
    """Every code point of the word walker's ranges against the data."""
    def cps(ranges):
        return [cp for first, last, *_ in ranges for cp in range(first, last + 1)]

    def check(name, ranges, what, ok):
        require(all(a[1] < b[0] for a, b in zip(ranges, ranges[1:])),
                f"{name}: ranges out of order or overlapping")
        for cp in cps(ranges):
            if not ok(cp):
                raise DataError(f"kernel ranges: U+{cp:04X} in {name} is not {what}")

    def letter(cp, offset, length):
        return (cp in ucd.alphabetic and cp not in ucd.white_space
                and cp not in ucd.final_sigma
                and ucd.lower_map.get(cp, (cp,)) == (cp + offset,)
                and utf8_length(cp) == utf8_length(cp + offset) == length)

    def dropped(cp):
        return cp >= 0x80 and cp not in ucd.alphabetic and cp not in ucd.white_space

    for first, last, offset in two_byte:
        check("TWO_BYTE_LETTERS", [(first, last)], f"a letter of two bytes lowercased by +{offset:#x}",
              lambda cp: letter(cp, offset, 2))
    check("TWO_BYTE_LETTERS", two_byte, "", lambda cp: True)
    for name, ranges in (("THREE_BYTE_LETTERS", three_byte),
                         ("RUN_THREE_BYTE_LETTERS", run_three_byte)):
        check(name, ranges, "a letter of three bytes, its own lowercase form",
              lambda cp: letter(cp, 0, 3))
    for name, ranges in (("SKIPPED", skipped), *(("RUN_SKIPPED", r) for r in run_skipped)):
        check(name, ranges, "beyond ASCII, neither Alphabetic nor White_Space", dropped)
    require(set(cps(run_three_byte)) <= set(cps(three_byte)),
            "RUN_THREE_BYTE_LETTERS not within THREE_BYTE_LETTERS")


def three_byte_pages(three_byte=THREE_BYTE_LETTERS):
    """THREE_BYTE_LETTERS as the vector kernels of text of two and four bytes
    a character test them, from a character's high byte (its page of 256 code
    points) and its low byte: (pages, gaps, span, holes), the whole pages
    whose first code point is a letter, less the gaps in them, and on the one
    other page, the span from its first letter to its last, less the holes
    in it. Checked to describe THREE_BYTE_LETTERS exactly."""
    letters = {cp for first, last in three_byte for cp in range(first, last + 1)}
    require(all(cp <= 0xFFFF for cp in letters), "THREE_BYTE_LETTERS beyond the BMP")

    def runs(cps):
        out = []
        for cp in sorted(cps):
            if out and out[-1][1] == cp - 1:
                out[-1][1] = cp
            else:
                out.append([cp, cp])
        return [tuple(r) for r in out]

    def cps(ranges):
        return {cp for first, last in ranges for cp in range(first, last + 1)}

    pages_of = {cp >> 8 for cp in letters}
    whole = [p for p in pages_of if p << 8 in letters]
    pages = [(a << 8, b << 8 | 0xFF) for a, b in runs(whole)]
    gaps = runs(cps(pages) - letters)
    others = sorted(pages_of - set(whole))
    require(len(others) == 1, "the kernels test one page of letters by their low bytes")
    on_page = sorted(cp for cp in letters if cp >> 8 == others[0])
    span = (on_page[0], on_page[-1])
    holes = runs(cps([span]) - letters)
    require((cps(pages) - cps(gaps)) | (cps([span]) - cps(holes)) == letters,
            "THREE_BYTE_PAGES and the page's span are not THREE_BYTE_LETTERS")
    return pages, gaps, span, holes


def kernel_ranges_text() -> str:
    def table(name, ranges, comment):
        rows = [f"    {{0x{a:04X}, 0x{b:04X}}}," for a, b, *_ in ranges]
        return [comment, f"inline constexpr CodePointRange {name}[] = {{", *rows, "};", ""]

    pages, gaps, span, holes = three_byte_pages()
    out = [
        "// generated by tools/gen_unicode_tables.py, do not edit",
        f"// Unicode {UNICODE_VERSION}: UnicodeData.txt, SpecialCasing.txt,"
        " DerivedCoreProperties.txt, PropList.txt",
        "// The code point ranges the word walker's kernels (src/kernels/) test without",
        "// the tables, [first, last] in order; the generator checks every code point",
        "// of each against the data.",
        "#pragma once",
        "",
        "namespace parvenkel::text::tables {",
        "",
        "// clang-format off",
        "",
        "struct CodePointRange {",
        "    char32_t first, last;",
        "};",
        "",
        "struct OffsetRange {",
        "    char32_t first, last;",
        "    char32_t offset;  // the lowercase form of x is x + offset",
        "};",
        "",
        "// Letters of two UTF-8 bytes whose lowercase form, of two bytes too, is a fixed",
        "// offset away: Latin-1, basic Greek (not U+03A3, whose form depends on the",
        "// text) and basic Cyrillic.",
        "inline constexpr OffsetRange TWO_BYTE_LETTERS[] = {",
        *(f"    {{0x{a:04X}, 0x{b:04X}, 0x{o:02X}}}," for a, b, o in TWO_BYTE_LETTERS),
        "};",
        "",
        *table("THREE_BYTE_LETTERS", THREE_BYTE_LETTERS,
               "// Letters of three UTF-8 bytes that are their own lowercase form: CJK marks,\n"
               "// kana, CJK ideographs with extension A, Hangul syllables."),
        *table("THREE_BYTE_PAGES", pages,
               "// THREE_BYTE_LETTERS as the vector kernels of text of two and four bytes a\n"
               "// character test them, from its high byte (its page of 256 code points) and\n"
               "// its low byte: whole pages,"),
        *table("THREE_BYTE_PAGE_GAPS", gaps, "// less these parts of them (each within a page),"),
        *table("THREE_BYTE_ON_PAGE", [span], "// and on one page more, this span"),
        *table("THREE_BYTE_ON_PAGE_HOLES", holes, "// less these."),
        *table("SKIPPED", SKIPPED,
               "// Characters beyond ASCII that are neither Alphabetic nor White_Space: general\n"
               "// and CJK punctuation, the katakana middle dot, fullwidth punctuation."),
        *table("RUN_THREE_BYTE_LETTERS", RUN_THREE_BYTE_LETTERS,
               "// The letters of three bytes the exact path's vector runs take: kana, CJK\n"
               "// ideographs, Hangul syllables."),
        *table("RUN_SKIPPED_LATIN1", RUN_SKIPPED_LATIN1,
               "// The characters beyond ASCII those runs drop: in Latin-1,"),
        *table("RUN_SKIPPED_PUNCTUATION", RUN_SKIPPED_PUNCTUATION,
               "// in text of two bytes a unit, general punctuation,"),
        *table("RUN_SKIPPED_CJK", RUN_SKIPPED_CJK,
               "// and in CJK runs, CJK and fullwidth punctuation."),
        "// clang-format on",
        "",
        "}  // namespace parvenkel::text::tables",
        "",
    ]
    return "\n".join(out)


def generate(ucd_dir: Path = UCD_DIR) -> dict[str, str]:
    """Builds and checks the tables; returns file name -> text."""
    ucd = Ucd(ucd_dir)
    check_figures(ucd)
    tables = Tables(ucd)
    self_check(ucd, tables)
    check_kernel_ranges(ucd)
    return {
        "unicode_tables.hpp": header_text(tables),
        "unicode_tables.cpp": source_text(tables),
        "kernel_ranges.hpp": kernel_ranges_text(),
    }


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--output-dir", type=Path, default=DEFAULT_OUTPUT_DIR,
                        help="folder to write the tables to (default: src/text)")
    parser.add_argument("--ucd-dir", type=Path, default=UCD_DIR,
                        help="folder holding the UCD files (default: data/ucd)")
    args = parser.parse_args(argv)
    try:
        files = generate(args.ucd_dir)
    except DataError as e:
        print(f"gen_unicode_tables: {e}", file=sys.stderr)
        return 1
    args.output_dir.mkdir(parents=True, exist_ok=True)
    for name, text in files.items():
        with open(args.output_dir / name, "w", encoding="utf-8", newline="\n") as f:
            f.write(text)
    return 0


if __name__ == "__main__":
    sys.exit(main())
