"""The C++ text primitives against the model read from the UCD files.

Every code point goes through to_lower, is_alphabetic, is_white_space,
is_cased and is_case_ignorable; the capital sigma is lowercased in every
short context built from characters of each kind; and random texts of mixed
scripts go through to_lowercase, append_lowercase, split_words and
keep_letters.
"""

import itertools

import pytest
from hypothesis import example, given, settings
from hypothesis import strategies as st

import text_dump
import ucd_model
from text_dump import FLAG_ALPHABETIC, FLAG_CASE_IGNORABLE, FLAG_CASED, FLAG_WHITE_SPACE

SIGMA = "\u03a3"


@pytest.fixture(scope="module")
def table():
    return text_dump.dump_table()


@pytest.fixture(scope="module")
def server():
    server = text_dump.Server()
    yield server
    server.close()


def scalar_values():
    return itertools.chain(range(0xD800), range(0xE000, 0x110000))


def first_differences(actual, expected, limit=10):
    return [f"U+{cp:04X}: got {actual[cp]}, expected {expected[cp]}"
            for cp in range(len(expected)) if actual[cp] != expected[cp]][:limit]


@pytest.mark.parametrize(
    ("flag", "members"),
    [
        (FLAG_ALPHABETIC, ucd_model.ALPHABETIC),
        (FLAG_WHITE_SPACE, ucd_model.WHITE_SPACE),
        (FLAG_CASED, ucd_model.CASED),
        (FLAG_CASE_IGNORABLE, ucd_model.CASE_IGNORABLE),
    ],
    ids=["is_alphabetic", "is_white_space", "is_cased", "is_case_ignorable"],
)
def test_property_on_every_code_point(table, flag, members):
    actual = bytes(1 if b & flag else 0 for b in table.flags)
    expected = bytes(1 if cp in members else 0 for cp in range(text_dump.CODE_POINTS))
    assert actual == expected, first_differences(actual, expected)


def test_to_lower_on_every_code_point(table):
    assert table.lower == ucd_model.LOWER_MAP


def test_to_lowercase_of_every_scalar_value(server):
    # One text of all scalar values, one per line: the line feed is neither
    # Cased nor Case_Ignorable, so the lone capital sigma gets U+03C3.
    text = "\n".join(map(chr, scalar_values()))
    result = server.to_lowercase(text)
    expected = ucd_model.lowercase(text)
    assert len(result) == len(expected)
    mismatches = [(a, b) for a, b in zip(result.split("\n"), expected.split("\n")) if a != b]
    assert mismatches == []


# Characters of each kind the Final_Sigma rule tells apart.
CASED_ONLY = ["A", "z", "\u01c5", "\u0391", "\u03c3", "\u0130", "\U00010400"]
IGNORABLE_ONLY = ["'", ".", ":", "\u0301", "\u00ad", "\u200b", "\U000e0001"]
CASED_AND_IGNORABLE = ["\u02b0", "\u0345", "\u1d2c"]
NEITHER = [" ", "1", "\u0295", "\u4e00", "\U0001f600"]
CONTEXT_ALPHABET = CASED_ONLY[:3] + IGNORABLE_ONLY[:3] + CASED_AND_IGNORABLE[:2] + NEITHER[:2] + [SIGMA]


def test_sigma_context_alphabet_is_what_it_claims():
    def kind(c):
        cp = ord(c)
        return (cp in ucd_model.CASED, cp in ucd_model.CASE_IGNORABLE)

    assert {kind(c) for c in CASED_ONLY} == {(True, False)}
    assert {kind(c) for c in IGNORABLE_ONLY} == {(False, True)}
    assert {kind(c) for c in CASED_AND_IGNORABLE} == {(True, True)}
    assert {kind(c) for c in NEITHER} == {(False, False)}


def sigma_contexts():
    """Every text of up to two characters before and after one capital sigma,
    from CONTEXT_ALPHABET (which holds the sigma itself as well)."""
    pairs = ["".join(p) for p in itertools.product(CONTEXT_ALPHABET, repeat=2)]
    sides = [""] + CONTEXT_ALPHABET + pairs
    return [before + SIGMA + after for before in sides for after in sides]


def test_sigma_in_every_short_context(server):
    contexts = sigma_contexts()
    # Each context alone, so that its own start and end bound the walks.
    failures = [(text, result) for text in contexts
                if (result := server.to_lowercase(text)) != ucd_model.lowercase(text)]
    assert failures == []


@pytest.mark.parametrize("kind", [CASED_ONLY, IGNORABLE_ONLY, CASED_AND_IGNORABLE, NEITHER],
                         ids=["cased", "ignorable", "both", "neither"])
def test_sigma_between_each_character_of_a_kind(server, kind):
    texts = [before + ign + SIGMA + ign + after
             for before in kind for after in kind for ign in ["", "'\u0301"]]
    assert [server.to_lowercase(t) for t in texts] == [ucd_model.lowercase(t) for t in texts]


# Random texts: arbitrary scalar values mixed with the characters that have
# a rule of their own, at every length across the 16-byte blocks of the
# ASCII fast path.
SPECIAL = [
    SIGMA, "\u0130", "\u023a", "\u023e", "\u1e9e", "\u212a", "\u2126", "\u01c5", "\u0345",
    "\u02b0", "\u0301", "'", ".", "\u0295", "\u00a0", "\u0085", "\u1680", "\u2007", "\u202f",
    "\u3000", "\u200b", "\u001c", "\u001f", "\ufeff", "\u180e", "\u2060", "\t", "\n", " ",
    "\U00010400", "\ua7ce", "\U00016ea0", "\U00033479", "\u00aa", "\u00c0", "\u00df",
]
characters = st.one_of(
    st.characters(min_codepoint=0x20, max_codepoint=0x7E),
    st.sampled_from(SPECIAL),
    st.characters(exclude_categories=["Cs"]),
    st.characters(min_codepoint=0x370, max_codepoint=0x3FF),  # Greek and Coptic
    st.characters(min_codepoint=0x400, max_codepoint=0x52F),  # Cyrillic
)
texts = st.text(characters, max_size=80)
ascii_then_any = st.builds(lambda head, tail: head + tail,
                           st.text(st.characters(max_codepoint=0x7F), max_size=40), texts)
# Each example is a round trip to the sanitized driver: no time limit.
no_deadline = settings(deadline=None)


@no_deadline
@given(st.one_of(texts, ascii_then_any))
@example("\u0391\u03a3\u0130\u03a3")
@example("A" * 16 + "\u00c0" + SIGMA)
def test_to_lowercase_matches_model(server, text):
    assert server.to_lowercase(text) == ucd_model.lowercase(text)


@no_deadline
@given(texts)
def test_append_lowercase_keeps_what_was_there(server, text):
    # The string already holds a capital sigma; it stays as it is and takes
    # no part in the sigma decisions for the appended text.
    assert server.append_lowercase_after_sigma(text) == SIGMA + ucd_model.lowercase(text)


@no_deadline
@given(texts)
@example("\u3000\u00a0 a\u200bb\t\n c\u001c\u001fd ")
def test_split_words_matches_model(server, text):
    assert server.split_words(text) == ucd_model.split_words(text)


@no_deadline
@given(texts)
@example("e\u0301\u00e9-don't-42")
def test_keep_letters_matches_model(server, text):
    assert server.keep_letters(text) == ucd_model.keep_letters(text)
