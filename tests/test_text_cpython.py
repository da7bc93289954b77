"""The C++ lowercasing against CPython's own str.lower().

CPython 3.14 follows Unicode 16.0.0 and the tables follow 17.0.0, so the two
agree only on characters whose case data did not change between the two
versions. Characters new in 17.0.0 are left out (unassigned, category Cn,
for CPython), and so are the few older characters listed in
CASE_DATA_CHANGED. The comparison covers the full lowercase mapping of every
code point and, through three sigma contexts per code point, whether it is
Cased or Case_Ignorable.
"""

import unicodedata

import pytest

import text_dump
import ucd_model

SIGMA = "\u03a3"

# Characters assigned in both versions whose case data differ. Found by
# running the comparisons below over every code point; the test
# test_changed_characters_do_differ keeps the list from going stale.
CASE_DATA_CHANGED = {
    # LATIN LETTER PHARYNGEAL VOICED FRICATIVE: Lowercase (so Cased) in
    # 16.0.0; in 17.0.0 it is a Lo letter without case, so a capital sigma
    # after it is not final and one before it at the end of a word is.
    0x0295: "Cased in 16.0.0 only",
}


def assigned_in_ucd():
    """Code points UnicodeData.txt (17.0.0) lists, its First/Last ranges
    included."""
    assigned = set()
    range_first = None
    with open(ucd_model.UCD_DIR / "UnicodeData.txt", encoding="utf-8") as f:
        for line in f:
            fields = line.split(";")
            cp = int(fields[0], 16)
            if fields[1].endswith(", First>"):
                range_first = cp
            elif fields[1].endswith(", Last>"):
                assigned.update(range(range_first, cp + 1))
            else:
                assigned.add(cp)
    return assigned


@pytest.fixture(scope="module")
def comparable():
    """Scalar values whose case data CPython's Unicode version shares."""
    assert unicodedata.unidata_version == "16.0.0"
    new = {cp for cp in assigned_in_ucd() if unicodedata.category(chr(cp)) == "Cn"}
    # Among them the new characters the lowercase edge cases name.
    assert {0xA7CE, 0x16EA0, 0x16EB8, 0x10940, 0x11DB0, 0x1E6C0, 0x323B0} <= new
    return [cp for cp in range(0x110000)
            if not 0xD800 <= cp <= 0xDFFF and cp not in new and cp not in CASE_DATA_CHANGED]


@pytest.fixture(scope="module")
def server():
    server = text_dump.Server()
    yield server
    server.close()


def test_to_lower_agrees_with_str_lower(comparable):
    lower = text_dump.dump_table().lower
    mismatches = [f"U+{cp:04X}" for cp in comparable if lower.get(cp, chr(cp)) != chr(cp).lower()]
    assert mismatches == []


# With X the character under test: X + sigma is final exactly when X is
# Cased and not Case_Ignorable; A + X + sigma when X is either; A + sigma + X
# when X is Case_Ignorable or not Cased. Together they tell Cased-only,
# Case_Ignorable and neither apart.
CONTEXTS = ["{x}" + SIGMA, "A{x}" + SIGMA, "A" + SIGMA + "{x}"]


@pytest.mark.parametrize("context", CONTEXTS)
def test_sigma_contexts_agree_with_str_lower(server, comparable, context):
    # One line per code point: a line feed, neither Cased nor Case_Ignorable,
    # bounds each context as the start and end of a text would. The line
    # feed itself is tried alone.
    batch = [cp for cp in comparable if cp != 0x0A]
    text = "\n".join(context.format(x=chr(cp)) for cp in batch)
    ours = server.to_lowercase(text).split("\n")
    theirs = text.lower().split("\n")
    assert len(ours) == len(theirs) == len(batch)
    mismatches = [f"U+{cp:04X}" for cp, a, b in zip(batch, ours, theirs) if a != b]
    assert mismatches == []
    line_feed = context.format(x="\n")
    assert server.to_lowercase(line_feed) == line_feed.lower()


@pytest.mark.parametrize("cp", sorted(CASE_DATA_CHANGED))
def test_changed_characters_do_differ(server, cp):
    contexts = [c.format(x=chr(cp)) for c in CONTEXTS]
    assert any(server.to_lowercase(t) != t.lower() for t in contexts)
