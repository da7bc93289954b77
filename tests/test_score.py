"""score_article: exact scores for hand-picked articles, and agreement with the
plain Python model on generated ones."""

import pytest
from hypothesis import given
from hypothesis import strategies as st

import reference
from parvenkel import score_article
from strategies import articles, texts

IMPLEMENTATIONS = [
    pytest.param(score_article, id="module"),
    pytest.param(reference.score_article, id="model"),
]

SCORE_CASES = [
    # Where the query is found.
    ("Market news", "", "market", 1000.0),
    ("Market", "all about the market", "MARKET", 1100.0),
    ("Stock Market", "x", "market", 500.0),
    ("Stock Market", "the market is open", "market", 600.0),
    ("Other", "notes on the market", "market", 100.0),
    ("Other", "nothing", "market", 0.0),
    ("market market", "", "market", 1000.0),  # a prefix match is not also a substring match
    ("market market", "market", "MARKET", 1100.0),
    ("MARKET", "", "mArKeT", 1000.0),
    ("", "market", "market", 100.0),
    ("", "", "x", 0.0),
    ("mark", "", "market", 0.0),  # title shorter than the query
    ("mark", "the market", "market", 100.0),
    ("marke", "", "market", 0.0),
    (" market", "", "market", 500.0),
    # The empty query matches nothing.
    ("", "", "", 0.0),
    ("abc", "abc", "", 0.0),
    ("Market", "market", "", 0.0),
    # Spaces are searched for like any character; nothing is trimmed.
    ("a b", "", " ", 500.0),
    ("ab", "a b", " ", 100.0),
    ("a", "a", "a ", 0.0),
    ("a", "a", " a", 0.0),
    ("a\tb", "", "a b", 0.0),
    # NUL is an ordinary character, not the end of the text.
    ("x\0market", "", "market", 500.0),
    ("market\0", "", "market\0", 1000.0),
    ("market", "", "market\0", 0.0),
    ("", "a\0b market", "MARKET", 100.0),
    ("a\0b", "", "a\0c", 0.0),
    ("\0", "\0", "\0", 1100.0),
    # No normalisation: precomposed and decomposed forms differ.
    ("e\u0301", "", "\u00e9", 0.0),
    ("\u00e9", "", "e", 0.0),
    ("\u00c9t\u00e9", "", "\u00e9T\u00c9", 1000.0),
    # Full lowercasing, including one-to-many and compatibility-ish mappings.
    ("\u0130stanbul", "", "i", 1000.0),
    ("\u0130stanbul", "", "i\u0307s", 1000.0),
    ("i\u0307stanbul", "", "\u0130STANBUL", 1000.0),
    ("Istanbul", "", "\u0130", 0.0),  # I lowercases to i, never i + U+0307
    ("\u0131stanbul", "", "I", 0.0),  # dotless i stays dotless
    ("x\u0130", "", "\u0307", 500.0),
    ("\u212a", "", "k", 1000.0),
    ("K", "", "\u212a", 1000.0),
    ("\u2126", "", "\u03c9", 1000.0),
    ("STRA\u1e9eE", "", "stra\u00dfe", 1000.0),
    ("\u00df", "", "\u1e9e", 1000.0),
    ("Stra\u00dfe", "", "STRASSE", 0.0),  # no case folding
    ("\u01c5", "", "\u01c6", 1000.0),
    ("\u01c4", "", "\u01c5", 1000.0),
    ("\U00010400", "", "\U00010428", 1000.0),
    ("\ua7ce", "", "\ua7cf", 1000.0),  # new in Unicode 17
    ("\U00016ea0x", "", "\U00016ebb", 1000.0),  # new in Unicode 17
    ("\u2160", "", "\u2170", 1000.0),
    ("\u4e2d\u6587", "", "\u4e2d", 1000.0),
    ("\U0001f600X", "", "\U0001f600x", 1000.0),
    ("\u0100\u0101", "", "\u0101\u0100", 1000.0),
    # The ASCII run of a text meets its first non-ASCII character.
    ("A" * 16 + "\u00c0", "", "a" * 16 + "\u00e0", 1000.0),
    ("A" * 15 + "\u0130", "", "a" * 15 + "i\u0307", 1000.0),
    ("A" * 16 + "\u0130", "", "a" * 16 + "i\u0307", 1000.0),
    ("A" * 17 + "\u0130", "", "a" * 17 + "i\u0307", 1000.0),
    ("A" * 32 + "\u0130", "", "a" * 32 + "i\u0307", 1000.0),
    ("x" + "A" * 40 + "\u00c9", "", "A" * 40 + "\u00e9", 500.0),
    # Final sigma: the query is lowercased in its own context.
    ("\u03bf\u03b4\u03bf\u03c2", "", "\u039f\u0394\u039f\u03a3", 1000.0),
    ("\u03bf\u03b4\u03bf\u03c3", "", "\u039f\u0394\u039f\u03a3", 0.0),
    ("\u039f\u0394\u039f\u03a3 \u0391\u0398\u0397\u039d\u03a9\u039d", "", "\u039f\u0394\u039f\u03a3", 1000.0),
    ("\u039f\u0394\u039f\u03a3\u0391", "", "\u039f\u0394\u039f\u03a3", 0.0),
    ("\u039f\u03a3\u0391", "", "\u039f\u03a3", 0.0),
    ("\u03a3", "", "\u03c3", 1000.0),
    ("\u0391\u03a3", "", "\u03c3", 0.0),
    ("\u0391\u03a3", "", "\u03c2", 500.0),
    ("\u0391\u03a3\u0391", "", "\u03c3", 500.0),
    ("\u03a3\u03a3", "", "\u03c3\u03c2", 1000.0),
    ("\u03a3\u0391", "", "\u03c3\u03b1", 1000.0),
    ("A.\u03a3", "", "a.\u03c2", 1000.0),
    ("A'\u03a3", "", "a'\u03c2", 1000.0),
    ("A\u03a3.", "", "a\u03c2.", 1000.0),
    ("A\u03a3.b", "", "a\u03c3.b", 1000.0),
    ("A\u03a3\u0301", "", "a\u03c2\u0301", 1000.0),
    ("1\u03a3", "", "1\u03c3", 1000.0),
    (" \u03a3", "", " \u03c3", 1000.0),
    ("\u02b0\u03a3", "", "\u02b0\u03c3", 1000.0),
    ("A\u03a3\u02b0", "", "a\u03c2\u02b0", 1000.0),
    ("\u0295\u03a3", "", "\u0295\u03c3", 1000.0),
    ("A\u03a3\u0295", "", "a\u03c2\u0295", 1000.0),
    ("", "\u0391\u03a3 \u03a3", "\u03c2 \u03c3", 100.0),
    ("\u0391\u03a31\u0392", "", "\u03c21", 500.0),
    # A U+0130 sends the body search to its linear form at once: how far it
    # moves on after a partial match.
    ("", "\u0130bab", "AB", 100.0),
    ("", "\u0130abaa", "aa", 100.0),
    ("", "\u0130baaa", "aba", 0.0),
]


@pytest.mark.parametrize("score", IMPLEMENTATIONS)
@pytest.mark.parametrize("title, content, query, expected", SCORE_CASES)
def test_score(score, title, content, query, expected):
    result = score(title, content, query)
    assert type(result) is float
    assert result == expected


@given(texts(), texts(), texts())
def test_score_is_one_of_six_values(title, content, query):
    result = score_article(title, content, query)
    assert type(result) is float
    assert result in reference.SCORES


@given(articles())
def test_score_agrees_with_the_model(article):
    assert score_article(*article) == reference.score_article(*article)


@given(articles())
def test_keywords_bind_like_positions(article):
    title, content, query = article
    expected = score_article(title, content, query)
    assert score_article(query=query, title=title, content=content) == expected
    assert score_article(title, query=query, content=content) == expected
    assert score_article(title, content, query=query) == expected


@given(texts(), texts(40))
def test_a_query_equal_to_the_title_is_a_prefix_match(title, content):
    result = score_article(title, content, title)
    if title:
        assert result >= 1000.0
    else:
        assert result == 0.0


@given(texts(), texts(5).filter(bool))
def test_a_query_equal_to_the_content_earns_the_bonus(title, content):
    assert score_article(title, content, content) in (100.0, 600.0, 1100.0)


@given(st.integers(0, 3), st.sampled_from(["\u0130", "\u00c0", "\u03a3", "\U00010400"]), st.integers(0, 40))
def test_ascii_runs_of_any_length_before_a_non_ascii_character(kind, char, length):
    # Lengths around multiples of 16 cross the block seams of the ASCII run.
    upper = "ABCDEFGHIJKLMNOP"[kind::4] * 40
    title = upper[:length] + char + upper[:3]
    assert score_article(title, "", title.swapcase()) == reference.score_article(title, "", title.swapcase())
    assert score_article(title, "", title) == 1000.0


# Long bodies are lowercased and searched a window of 16 KiB at a time: a
# query must be found wherever it falls, across a seam included, and also
# where lowercasing changes the length of what comes before it.
WINDOW = 16 * 1024


@pytest.mark.parametrize("filler", ["ж", "aé", "İ", "x\u212a", "ΑΣ "], ids=["cyrillic", "latin", "dotted-I", "kelvin", "greek"])
@pytest.mark.parametrize("query", ["ΟΔΟΣ", "Жук", "naïve word"])
@pytest.mark.parametrize("seam", [1, 2, 3])
@pytest.mark.parametrize("shift", [-7, -3, -1, 0, 1, 4])
def test_query_across_window_seams(filler, query, seam, shift):
    head = (filler * (seam * WINDOW))[: seam * WINDOW // len(filler.encode()) * len(filler) + shift]
    body = head + query.upper() + " " + filler * 200
    assert score_article("t", body, query) == 100.0
    assert score_article("t", body, query) == reference.score_article("t", body, query)
    missing = body.replace(query.upper(), query.upper()[:-1] + "#")
    assert score_article("t", missing, query) == reference.score_article("t", missing, query) == 0.0


# ASCII bodies are searched without lowercasing them, sixty-four and then
# sixteen positions a step: a query must be found at every offset of a step,
# next to near misses that share its first and last bytes.
@pytest.mark.parametrize("query", ["Ab", "abcab", "@q`", "x" * 70])
@pytest.mark.parametrize("tail", [0, 1, 15, 63, 64, 65])
def test_ascii_body_every_offset(query, tail):
    near_miss = query[0].upper() + "." * max(len(query) - 2, 0) + query[-1].upper()
    for offset in range(0, 140):
        body = (near_miss + " ") * 20
        body = body[:offset] + query.upper() + body[offset:][: 130 + tail]
        expected = reference.score_article("t", body, query)
        assert expected == 100.0
        assert score_article("t", body, query) == expected
        missing = body.replace(query.upper(), query.upper()[:-1] + "~", 1)
        assert score_article("t", missing, query) == reference.score_article("t", missing, query)


# Bodies of two and four bytes a character are searched a vector of units
# at a time, the candidates being the positions whose first unit and one
# unit further on may lowercase to the query's characters there. A
# character with two capitals that differ by more than the ASCII case bit
# (k from K and the Kelvin sign) needs a second comparison in each lane.
@pytest.mark.parametrize("wide", ["", "\U0001d400"], ids=["ucs2", "ucs4"])
@pytest.mark.parametrize("query, found", [("kelvin", "\u212aELVIN"), ("blink", "BLIN\u212a"), ("ωk", "\u2126\u212a")])
def test_wide_body_every_offset(wide, query, found):
    near_miss = "\u212a" + "\u00e9" * (len(query) - 2) + "\u212b"
    for offset in range(0, 140):
        body = wide + (near_miss + " ") * 20
        body = body[:offset] + found + body[offset:][:140]
        assert score_article("t", body, query) == reference.score_article("t", body, query) == 100.0
        missing = body.replace(found, found[:-1] + "~", 1)
        assert score_article("t", missing, query) == reference.score_article("t", missing, query) == 0.0
