#!/usr/bin/env python3
"""Generate the Unicode tables of the text primitives from the vendored UCD.

Reads data/ucd/ (UnicodeData.txt, SpecialCasing.txt, DerivedCoreProperties.txt,
PropList.txt) and writes src/text/unicode_tables.hpp and unicode_tables.cpp:

* LOWERCASE_LUT, LOWERCASE_DELTA, LOWERCASE_MULTI: the full lowercase mapping
  as sorted ranges of code points sharing one offset (every code point, or
  every second one), searched by binary search, plus the mappings to more
  than one code point. LOWERCASE_LUT_BLOCKS narrows each search to the
  ranges near one block of 256 code points.
* CASED_* and CASE_IGNORABLE_*: run-length lists of the two sets the
  Final_Sigma rule asks about, with a small index searched by binary search.
* ALPHABETIC_INDEX, ALPHABETIC_BITS: a two-level bitset of Alphabetic.
* WHITESPACE_MAP: the 256-byte map of the non-ASCII White_Space characters.

Before anything is written, every code point 0..0x10FFFF is looked up in the
new tables the way the C++ code does (fast answers included) and compared
with the sets read from the data. The published figures of this Unicode
version are asserted as well, so that a wrong or changed data file stops the
build of the tables instead of slipping through.

Standard library only; runs on any Python 3.
"""

from __future__ import annotations

import argparse
import bisect
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

# Layout parameters.
LUT_FIRST_SHIFT = 12  # key = first << 12 | (span - 1) << 2 | stride2 << 1 | multi
LUT_SPAN_SHIFT = 2
LUT_SPAN_LIMIT = 1 << (LUT_FIRST_SHIFT - LUT_SPAN_SHIFT)
LUT_STRIDE2 = 0x2
LUT_MULTI = 0x1
LUT_BLOCK_SHIFT = 8  # LOWERCASE_LUT_BLOCKS narrows the search to one block of 256
RUN_BLOCK = 16  # boundaries per run-list block: bounds the linear scan
BITSET_WORD_BITS = 64
BITSET_CHUNK_SHIFTS = (6, 7, 8)  # chunk sizes tried for the two-level bitset

# Figures of Unicode 17.0.0 that the data must reproduce.
EXPECTED = {
    "lowercase mappings": 1488,
    "lowercase mappings in plane 0": 1181,
    "lowercase mappings in plane 1": 307,
    "lowercase mappings above plane 1": 0,
    "multi-character lowercase mappings": {0x0130: (0x0069, 0x0307)},
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


def read_unconditional_lowercase(path: Path) -> dict[int, tuple[int, ...]]:
    """Lowercase entries of SpecialCasing.txt without a condition list."""
    check_version(path)
    mappings: dict[int, tuple[int, ...]] = {}
    for fields in data_lines(path):
        # code; lower; title; upper; (condition_list;)? and an empty last field
        conditions = fields[4] if len(fields) > 5 else ""
        if conditions:
            continue
        mappings[int(fields[0], 16)] = tuple(int(x, 16) for x in fields[1].split())
    return mappings


class Ucd:
    def __init__(self, ucd_dir: Path):
        category, simple_lower = read_unicode_data(ucd_dir / "UnicodeData.txt")
        special = read_unconditional_lowercase(ucd_dir / "SpecialCasing.txt")
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
# Table layouts


def to_ranges(members) -> list[tuple[int, int]]:
    """Half-open ranges [start, end) of a set of code points, in order."""
    ranges: list[list[int]] = []
    for cp in sorted(members):
        if ranges and ranges[-1][1] == cp:
            ranges[-1][1] = cp + 1
        else:
            ranges.append([cp, cp + 1])
    return [(a, b) for a, b in ranges]


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


class LowercaseTable:
    """Ranges of code points whose lowercase mapping is one shared offset away.

    A range covers first, first + stride, ..., first + (span - 1) * stride with
    stride 1 or 2; with stride 2 the code points in between are not mapped by it (they
    are the lowercase partners of alternating upper/lower pairs). Ranges never
    overlap, so the range to consult for x is the last one whose first code
    point is at most x. A mapping to several code points is a range of one
    whose delta indexes LOWERCASE_MULTI.
    """

    def __init__(self, lower_map: dict[int, tuple[int, ...]]):
        multi_sources = sorted(cp for cp, m in lower_map.items() if len(m) > 1)
        self.multi = [lower_map[cp] for cp in multi_sources]
        self.multi_width = max(len(m) for m in self.multi)
        ranges: list[dict] = []
        for cp in sorted(lower_map):
            mapping = lower_map[cp]
            if len(mapping) > 1:
                ranges.append(dict(first=cp, last=cp, stride=1, multi=True,
                                   delta=multi_sources.index(cp)))
                continue
            delta = mapping[0] - cp
            if ranges and not ranges[-1]["multi"] and ranges[-1]["delta"] == delta:
                r = ranges[-1]
                step = cp - r["last"]
                span = (r["last"] - r["first"]) // r["stride"] + 1
                if span == 1 and step in (1, 2):
                    r["stride"] = step
                if step == r["stride"] and span < LUT_SPAN_LIMIT:
                    r["last"] = cp
                    continue
            ranges.append(dict(first=cp, last=cp, stride=1, multi=False, delta=delta))
        self.ranges = ranges

        keys = []
        for r in ranges:
            span = (r["last"] - r["first"]) // r["stride"] + 1
            require(r["first"] < LOWER_TABLE_UNTIL, "mapped code point beyond the table")
            keys.append(
                r["first"] << LUT_FIRST_SHIFT
                | (span - 1) << LUT_SPAN_SHIFT
                | (LUT_STRIDE2 if r["stride"] == 2 else 0)
                | (LUT_MULTI if r["multi"] else 0)
            )
        require(keys == sorted(keys), "lowercase ranges out of order")
        require(
            all(a["last"] < b["first"] for a, b in zip(ranges, ranges[1:])),
            "lowercase ranges overlap",
        )
        self.keys = keys
        self.deltas = [r["delta"] for r in ranges]
        # blocks[b]: how many ranges start before block b. The range covering
        # a code point of block b, if any, is among keys[blocks[b] - 1] ..
        # keys[blocks[b + 1] - 1].
        firsts = [r["first"] for r in ranges]
        self.blocks = [
            bisect.bisect_left(firsts, b << LUT_BLOCK_SHIFT)
            for b in range((LOWER_TABLE_UNTIL >> LUT_BLOCK_SHIFT) + 1)
        ]
        self.arrays = [
            Array("LOWERCASE_LUT", keys,
                  "first << 12 | (span - 1) << 2 | stride 2 << 1 | multi", 8),
            Array("LOWERCASE_LUT_BLOCKS", self.blocks,
                  "number of ranges starting before each block of 256 code points"),
            Array("LOWERCASE_DELTA", self.deltas,
                  "mapping minus code point; index into LOWERCASE_MULTI for a multi range"),
        ]
        self.multi_array = Array(
            "LOWERCASE_MULTI",
            [c for m in self.multi for c in m + (0,) * (self.multi_width - len(m))],
            "mapped code points of each multi range, zero-padded", 4,
        )

    def lookup(self, cp: int) -> tuple[int, ...]:
        """to_lower as the C++ code decides it."""
        if cp < LOWER_TABLE_FROM:
            return (cp + 0x20,) if 0x41 <= cp <= 0x5A else (cp,)
        if cp >= LOWER_TABLE_UNTIL:
            return (cp,)
        block = cp >> LUT_BLOCK_SHIFT
        lo, hi = self.blocks[block], self.blocks[block + 1]
        probe = cp << LUT_FIRST_SHIFT | ((1 << LUT_FIRST_SHIFT) - 1)
        i = bisect.bisect_right(self.keys, probe, lo, hi)
        if i == 0:
            return (cp,)
        key = self.keys[i - 1]
        offset = cp - (key >> LUT_FIRST_SHIFT)
        stride2 = key & LUT_STRIDE2
        if stride2:
            if offset & 1:
                return (cp,)
            offset >>= 1
        if offset > (key >> LUT_SPAN_SHIFT) & (LUT_SPAN_LIMIT - 1):
            return (cp,)
        delta = self.deltas[i - 1]
        if key & LUT_MULTI:
            return self.multi[delta]
        return (cp + delta,)


class RunList:
    """A set as a list of boundaries b0 < b1 < ... where membership flips.

    [b0, b1), [b2, b3), ... are inside. The boundaries are cut into blocks of
    at most RUN_BLOCK; the index holds each block's first boundary (exactly)
    and its position, and the block's other boundaries are stored as gaps of
    one byte from the previous one. A gap wider than a byte starts a new
    block. The gap at a block's first position is unused and zero. A last
    index entry, U+110000 at the number of boundaries, closes the final block.
    """

    def __init__(self, name: str, members):
        bounds = [b for r in to_ranges(members) for b in r]
        starts, positions, gaps = [], [], []
        for i, b in enumerate(bounds):
            gap = b - bounds[i - 1] if i else None
            if gap is None or gap > 0xFF or i - positions[-1] >= RUN_BLOCK:
                starts.append(b)
                positions.append(i)
                gaps.append(0)
            else:
                gaps.append(gap)
        starts.append(CODE_POINT_LIMIT)
        positions.append(len(bounds))
        self.starts, self.positions, self.gaps = starts, positions, gaps
        self.arrays = [
            Array(f"{name}_RUN_STARTS", starts, "first boundary of each block", 5),
            Array(f"{name}_RUN_POSITIONS", positions, "position of that boundary"),
            Array(f"{name}_RUNS", gaps, "gap from the previous boundary (0 at a block start)"),
        ]

    def contains(self, cp: int) -> bool:
        j = bisect.bisect_right(self.starts, cp)
        if j == 0:
            return False
        j -= 1
        i, end, value = self.positions[j], self.positions[j + 1], self.starts[j]
        while i + 1 < end:
            nxt = value + self.gaps[i + 1]
            if nxt > cp:
                break
            value = nxt
            i += 1
        return i % 2 == 0


class Bitset:
    """A two-level bitset: chunks of 2**shift bits, deduplicated.

    INDEX[x >> shift] picks a chunk; the chunk is words_per_chunk 64-bit words
    of BITS. Code points at or beyond limit are outside. The chunk size is the
    one of BITSET_CHUNK_SHIFTS giving the smallest pair of arrays.
    """

    def __init__(self, name: str, members):
        best = None
        for shift in BITSET_CHUNK_SHIFTS:
            candidate = self._build(name, members, shift)
            if best is None or candidate[0] < best[0]:
                best = candidate
        _, self.shift, self.limit, self.index, self.words = best
        self.words_per_chunk = (1 << self.shift) // BITSET_WORD_BITS
        self.arrays = [
            Array(f"{name}_INDEX", self.index, f"chunk of each {1 << self.shift} code points"),
            Array(f"{name}_BITS", self.words,
                  f"{self.words_per_chunk} words of 64 bits per chunk", 16),
        ]

    @staticmethod
    def _build(name: str, members, shift: int):
        size = 1 << shift
        limit = (max(members) >> shift) + 1 << shift
        chunks: dict[int, int] = {}
        index = []
        for base in range(0, limit, size):
            bits = 0
            for cp in range(base, base + size):
                if cp in members:
                    bits |= 1 << (cp - base)
            index.append(chunks.setdefault(bits, len(chunks)))
        words = []
        for bits in chunks:  # insertion order: first use
            for w in range(size // BITSET_WORD_BITS):
                words.append(bits >> (w * BITSET_WORD_BITS) & (2**BITSET_WORD_BITS - 1))
        total = (
            Array(name, index, "").size + Array(name, words, "").size
        )
        return total, shift, limit, index, words

    def contains(self, cp: int) -> bool:
        if cp >= self.limit:
            return False
        chunk = self.index[cp >> self.shift]
        word = self.words[chunk * self.words_per_chunk + ((cp >> 6) & (self.words_per_chunk - 1))]
        return bool(word >> (cp & 63) & 1)


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


class Tables:
    def __init__(self, ucd: Ucd):
        self.lower = LowercaseTable(ucd.lower_map)
        self.cased = RunList("CASED", ucd.cased)
        self.case_ignorable = RunList("CASE_IGNORABLE", ucd.case_ignorable)
        self.alphabetic = Bitset("ALPHABETIC", ucd.alphabetic)
        self.white_space_map = build_white_space_map(ucd.white_space)
        self.arrays = (
            self.lower.arrays
            + [self.lower.multi_array]
            + self.cased.arrays
            + self.case_ignorable.arrays
            + self.alphabetic.arrays
            + [Array("WHITESPACE_MAP", self.white_space_map,
                     "bit 0: block 0x00, bit 1: block 0x20")]
        )

    # The decision procedures of the C++ code, fast answers first.

    def is_cased(self, cp: int) -> bool:
        if cp < CASED_TABLE_FROM:
            return 0x41 <= (cp & ~0x20) <= 0x5A
        return self.cased.contains(cp)

    def is_case_ignorable(self, cp: int) -> bool:
        if cp < CASE_IGNORABLE_TABLE_FROM:
            return cp in ASCII_CASE_IGNORABLE
        return self.case_ignorable.contains(cp)

    def is_alphabetic(self, cp: int) -> bool:
        if 0x41 <= (cp & ~0x20) <= 0x5A:
            return True
        if cp < ALPHABETIC_TABLE_FROM:
            return False
        return self.alphabetic.contains(cp)

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


def self_check(ucd: Ucd, tables: Tables) -> None:
    """Every code point through the tables' own lookups against the data."""
    checks = (
        ("to_lower", lambda cp: tables.lower.lookup(cp),
         lambda cp: ucd.lower_map.get(cp, (cp,))),
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
    lower, alpha = tables.lower, tables.alphabetic
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
        "// Full lowercase mapping. LOWERCASE_LUT holds one sorted key per range of",
        "// code points sharing one offset: the range's first code point shifted left",
        "// by LOWERCASE_LUT_FIRST_SHIFT, its number of code points minus one shifted",
        "// left by LOWERCASE_LUT_SPAN_SHIFT, LOWERCASE_LUT_STRIDE2 when it maps only",
        "// every second code point, and LOWERCASE_LUT_MULTI when LOWERCASE_DELTA is an",
        "// index into LOWERCASE_MULTI instead of an offset. Ranges do not overlap,",
        "// so the range that may map x is the last one starting at or before x; the",
        "// binary search for it runs between LOWERCASE_LUT_BLOCKS[b] and",
        "// LOWERCASE_LUT_BLOCKS[b + 1], the numbers of ranges starting before block",
        "// b = x >> LOWERCASE_LUT_BLOCK_SHIFT and before the next block. Only code",
        "// points below LOWERCASE_LUT_UNTIL have a mapping.",
        f"inline constexpr unsigned LOWERCASE_LUT_FIRST_SHIFT = {LUT_FIRST_SHIFT};",
        f"inline constexpr unsigned LOWERCASE_LUT_SPAN_SHIFT = {LUT_SPAN_SHIFT};",
        f"inline constexpr std::uint32_t LOWERCASE_LUT_SPAN_MASK = 0x{LUT_SPAN_LIMIT - 1:X};",
        f"inline constexpr unsigned LOWERCASE_LUT_BLOCK_SHIFT = {LUT_BLOCK_SHIFT};",
        f"inline constexpr std::uint32_t LOWERCASE_LUT_STRIDE2 = 0x{LUT_STRIDE2:X};",
        f"inline constexpr std::uint32_t LOWERCASE_LUT_MULTI = 0x{LUT_MULTI:X};",
        f"inline constexpr char32_t LOWERCASE_LUT_UNTIL = 0x{LOWER_TABLE_UNTIL:X};",
        f"inline constexpr std::size_t LOWERCASE_MULTI_WIDTH = {lower.multi_width};",
        "",
        "// Run-length lists: boundaries where membership flips, starting outside.",
        "// *_RUN_STARTS[j] is the first boundary of block j and *_RUN_POSITIONS[j] its",
        "// position among all boundaries; *_RUNS[i] is boundary i minus boundary i - 1",
        "// within a block (0 at a block's first position). A code point is inside when",
        "// the number of boundaries at or below it is odd. The last index entry is",
        "// U+110000 at the number of boundaries.",
        "",
        "// Alphabetic as a two-level bitset: ALPHABETIC_INDEX[x >> ALPHABETIC_CHUNK_SHIFT]",
        "// names a chunk of ALPHABETIC_WORDS_PER_CHUNK words of ALPHABETIC_BITS. Nothing",
        "// at or above ALPHABETIC_LIMIT is Alphabetic.",
        f"inline constexpr unsigned ALPHABETIC_CHUNK_SHIFT = {alpha.shift};",
        f"inline constexpr std::size_t ALPHABETIC_WORDS_PER_CHUNK = {alpha.words_per_chunk};",
        f"inline constexpr char32_t ALPHABETIC_LIMIT = 0x{alpha.limit:X};",
        "",
        "// White_Space outside ASCII: bit 0 for block 0x00 (U+0085, U+00A0), bit 1 for",
        "// block 0x20 (U+2000-U+200A, U+2028, U+2029, U+202F, U+205F), at x mod 256.",
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


def generate(ucd_dir: Path = UCD_DIR) -> dict[str, str]:
    """Builds and checks the tables; returns file name -> text."""
    ucd = Ucd(ucd_dir)
    check_figures(ucd)
    tables = Tables(ucd)
    self_check(ucd, tables)
    return {
        "unicode_tables.hpp": header_text(tables),
        "unicode_tables.cpp": source_text(tables),
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
