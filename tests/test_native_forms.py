"""A str reaches the module in the form CPython holds it in: one byte per
character (Latin-1), two (UCS-2) or four (UCS-4). Bodies in each form are
searched where they lie, block by block, and texts are converted to UTF-8
piece by piece; these tests pin both to the model on inputs that cross the
blocks and pieces, and check that a lone surrogate in any form still raises
the interpreter's own error."""

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import reference
from parvenkel import extract_keywords, score_article

# A filler character of each form, and a character of a wider form that
# lowercases to a letter of a narrower one.
FORMS = {
    "latin1": "é",
    "ucs2": "ж",
    "ucs4": "\U00010428",
}


def form_of(text):
    widest = max(map(ord, text), default=0)
    return "ascii" if widest < 0x80 else "latin1" if widest < 0x100 else "ucs2" if widest < 0x10000 else "ucs4"


# Queries with their forms in the body: the body holds the second, which
# lowercases to the first. The first and last characters are the ones the
# block search compares, so they carry the cases with several sources.
PLANTED = [
    ("naïve", "NAÏVE"),
    ("kåw", "\u212a\u212bW"),  # Kelvin sign and Angstrom sign
    ("ωmega", "\u2126MEGA"),  # Ohm sign
    ("жук", "ЖУК"),
    ("οδος", "ΟΔΟΣ"),  # final sigma: the body must end the word there
    ("σα", "ΣΑ"),  # medial sigma at the start
    ("\U00010428x\U00010429", "\U00010400X\U00010401"),  # Deseret
    ("ß", "\u1e9e"),
    ("ǆa", "ǅA"),
    ("ai\u0307b", "A\u0130B"),  # U+0130 lowercases to two: the match starts before it
]


@pytest.mark.parametrize("form", FORMS)
@pytest.mark.parametrize("query, planted", PLANTED)
def test_a_body_of_each_form_at_every_offset(form, query, planted):
    filler = FORMS[form]
    near_miss = planted[0] + filler * max(len(planted) - 2, 0) + planted[-1] + " "
    for offset in range(0, 90, 3):
        head = (near_miss * 10)[:offset]
        body = head + " " + planted + " " + filler * 70
        expected = reference.score_article("t", body, query)
        assert expected == 100.0, (offset, body)
        assert score_article("t", body, query) == expected
        missing = body.replace(planted, planted[:-1] + "#", 1)
        assert score_article("t", missing, query) == reference.score_article("t", missing, query)


@pytest.mark.parametrize("form", ["ucs2", "ucs4"])
@pytest.mark.parametrize("where", [0, 1, 17, 40, 200])
@pytest.mark.parametrize("query", ["i\u0307stanbul", "\u0307s", "stan", "i\u0307", "xyz"])
def test_dotted_capital_i_anywhere_in_a_body(form, where, query):
    # U+0130 lowercases to two code points, so a body holding it is searched
    # another way; the answer must not change.
    filler = FORMS[form]
    body = filler * where + "\u0130STANBUL" + filler * 50
    assert score_article("t", body, query) == reference.score_article("t", body, query)
    assert score_article("\u0130", body, "i\u0307") == 1100.0


@pytest.mark.parametrize("after", ["", " ", "A", "'", "'A", "\u0301 ", "1"])
@pytest.mark.parametrize("before", ["", " ", "A", "\u0301", "A'"])
@pytest.mark.parametrize("query", ["\u03c2", "\u03c3", "a\u03c2", "\u03c3a"])
def test_capital_sigma_in_a_long_body(before, after, query):
    body = "ж" * 40 + before + "\u03a3" + after + "ж" * 40
    assert score_article("t", body, query) == reference.score_article("t", body, query)


LONG_ALPHABETS = {
    "ascii": "aAkKsS .'",
    "latin1": "aAeEéÉÿµßkKxX ,.'",
    "ucs2": "aAkK\u212a\u0130iIσςΣΑ\u0301'жЖ中 .",
    "ucs4": "aAΣσς\U00010400\U00010428\u0130i\u0307жЖ 中",
}


@settings(max_examples=300)
@given(st.sampled_from(sorted(LONG_ALPHABETS)).flatmap(
    lambda form: st.tuples(
        st.text(st.sampled_from(LONG_ALPHABETS[form]), min_size=0, max_size=200),
        st.text(st.sampled_from(LONG_ALPHABETS[form]), min_size=1, max_size=6),
        st.integers(0, 200),
        st.booleans(),
    )
))
def test_long_bodies_agree_with_the_model(case):
    body, query, start, from_body = case
    if from_body and body:
        # A piece of the body itself, in another case: often a match.
        start %= len(body)
        query = body[start:start + len(query)].swapcase() or query
    assert score_article("t", body, query) == reference.score_article("t", body, query)


# A body that repeats a short piece, and a query cut from it with one
# character changed: nearly every position is a near miss, so the search
# soon stops verifying positions one by one and goes on from there with a
# linear search, over windows of the lowercase body (17,000 characters
# take two).
@settings(max_examples=200)
@given(st.sampled_from(sorted(LONG_ALPHABETS)).flatmap(
    lambda form: st.tuples(
        st.text(st.sampled_from(LONG_ALPHABETS[form]), min_size=1, max_size=3),
        st.sampled_from([400, 3000, 17000]),
        st.integers(1, 300),
        st.integers(0, 2**20),
        st.sampled_from(LONG_ALPHABETS[form]),
        st.booleans(),
    )
))
def test_periodic_bodies_agree_with_the_model(case):
    piece, length, m, where, other, planted = case
    body = (piece * length)[:length]
    query = body[where % length:][:m]
    at = where % len(query)
    query = query[:at] + other + query[at + 1:]
    if planted:
        body += query.upper()
    assert score_article("t", body, query) == reference.score_article("t", body, query)


SURROGATE_TEXTS = [
    pytest.param(prefix * n + "\ud800" + prefix * 3, id=f"{name}-{n}")
    for name, prefix in [("ucs2", "ж"), ("ucs4", "\U00010428")]
    for n in [0, 5, 31, 32, 33, 100]
] + [pytest.param("\U00010428\udfff", id="ucs4-low"), pytest.param("ж\udc80ж", id="ucs2-low")]


def encode_error(text):
    with pytest.raises(UnicodeEncodeError) as raised:
        text.encode("utf-8")
    return raised.value


@pytest.mark.parametrize("text", SURROGATE_TEXTS)
@pytest.mark.parametrize("position", [0, 1, 2])
def test_a_surrogate_in_any_form_raises_the_interpreters_error(text, position):
    args = ["ж" * 40, "\U00010428" * 40, "é" * 40]
    args[position] = text
    with pytest.raises(UnicodeEncodeError) as raised:
        score_article(*args)
    expected = encode_error(text)
    assert (raised.value.object, raised.value.start, raised.value.end, str(raised.value)) == (
        expected.object, expected.start, expected.end, str(expected))


@pytest.mark.parametrize("text", SURROGATE_TEXTS)
def test_a_surrogate_in_a_keyword_text(text):
    with pytest.raises(UnicodeEncodeError) as raised:
        extract_keywords(text, [], 5)
    assert str(raised.value) == str(encode_error(text))


def test_the_first_argument_with_a_surrogate_is_the_one_reported():
    with pytest.raises(UnicodeEncodeError) as raised:
        score_article("a", "ж\ud800", "\U00010428\udc00")
    assert raised.value.object == "ж\ud800"


# Texts of the wider forms are converted a piece of 16,384 characters at a
# time, each ending after a White_Space character: words must come out
# whole wherever the pieces end.
PIECE = 16 * 1024


PIECE_WORDS = {"latin1": "GARÇON\u00e9t\u00e9", "ucs2": "Σοφός\u0436ΟΔΟΣ", "ucs4": "ΟΔΟΣ\U00010400ς"}


@pytest.mark.parametrize("form", FORMS)
@pytest.mark.parametrize("shift", [-2, -1, 0, 1, 2])
@pytest.mark.parametrize("space", [" ", "\xa0", "\x85", "\u3000", "\u2029"])
def test_words_across_the_pieces_of_a_text(form, shift, space):
    word = PIECE_WORDS[form]
    text = (word + space) * (2 * PIECE // (len(word) + 1) + 1)
    text = "x" * (PIECE % (len(word) + 1) + shift) + space + text
    assert form_of(text) == form or ord(space) > 0xFF
    actual = extract_keywords(text, [], 2**64 - 1)
    assert dict(actual) == reference.keyword_counts(text, [])


@pytest.mark.parametrize("form", FORMS)
def test_a_word_longer_than_a_piece(form):
    giant = ("Ab" + FORMS[form]) * PIECE
    text = "one " + giant + " two " + giant.lower() + "\u3000one"
    assert dict(extract_keywords(text, [], 10)) == reference.keyword_counts(text, [])


@pytest.mark.parametrize("form", FORMS)
def test_texts_of_each_form_agree_with_the_model(form):
    filler = FORMS[form]
    words = ["Κόσμος", "ΟΔΟΣ", "straße", "STRASSE", "\u0130stanbul", "\u212aelvin", filler * 3, "x-ray"]
    text = " ".join(words[i * 7 % len(words)] for i in range(5000))
    assert form_of(text) != "ascii"
    assert dict(extract_keywords(text, ["x-ray", "xray"], 100)) == reference.keyword_counts(text, ["x-ray", "xray"])
