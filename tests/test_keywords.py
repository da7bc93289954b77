"""extract_keywords: hand-picked texts with known keywords, and agreement with
the plain Python model on generated ones.

The order of words with equal counts is not defined, so results are compared
with reference.assert_acceptable_keywords rather than with ==, except where
all counts differ and the order is fully determined."""

import sys

import pytest
from hypothesis import given
from hypothesis import strategies as st

import reference
from parvenkel import extract_keywords
from strategies import NOT_WHITE_SPACE, VOCABULARY, WHITE_SPACE, documents, texts

IMPLEMENTATIONS = [
    pytest.param(extract_keywords, id="module"),
    pytest.param(reference.extract_keywords, id="model"),
]

ALL = 2**64 - 1

# (text, stop_words, top_n, expected pairs in any order)
KEYWORD_CASES = [
    ("The cat and the hat. The END", [], 10, [("the", 3), ("cat", 1), ("and", 1), ("hat", 1), ("end", 1)]),
    ("The cat and the hat. The END", ["the", "and"], 10, [("cat", 1), ("hat", 1), ("end", 1)]),
    ("The cat and the hat. The END", ["The"], 10, [("the", 3), ("cat", 1), ("and", 1), ("hat", 1), ("end", 1)]),
    ("The cat and the hat. The END", ["the"], 0, []),
    ("it is so", [], 10, []),
    ("", [], 10, []),
    ("   \t\n  ", [], 10, []),
    ("\u3000\u00a0\u3000", [], 10, []),
    ("2024 2024 42", [], 10, []),
    ("... !!! --- ,,,", [], 10, []),
    ("Market market, MARKET! mArKeT?", [], 10, [("market", 4)]),
    # Only the letters of a word count, and at least three bytes of them.
    ("na\u00efve na\u00efve", [], 10, [("na\u00efve", 2)]),
    ("\u00fc \u00fc \u00fc", [], 10, []),
    ("\u00fc\u00fc \u00fc\u00fc", [], 10, [("\u00fc\u00fc", 2)]),
    ("u\u0308u\u0308 u\u0308u\u0308", [], 10, []),  # combining marks are not letters
    ("e\u0301t\u00e9", [], 10, [("et\u00e9", 1)]),
    ("\u0130", [], 10, [("i\u0307", 1)]),  # 2 bytes, lowercased to 3
    ("\u0130\u0130", [], 10, [("i\u0307i\u0307", 1)]),
    ("\u1e9e", [], 10, []),  # 3 bytes, lowercased to ß: 2
    ("\u212a", [], 10, []),  # 3 bytes, lowercased to k: 1
    ("\u212a\u212a\u212a", [], 10, [("kkk", 1)]),
    ("\u1e9e\u1e9e", [], 10, [("\u00df\u00df", 1)]),
    ("ab", [], 10, []),
    ("abc", [], 10, [("abc", 1)]),
    ("a\u00e9", [], 10, [("a\u00e9", 1)]),
    ("\u4e2d", [], 10, [("\u4e2d", 1)]),
    ("\u4e2d\u6587\u5b57 \u4e2d\u6587\u5b57", [], 10, [("\u4e2d\u6587\u5b57", 2)]),
    ("\U00010400", [], 10, [("\U00010428", 1)]),
    ("\ua7ce\ua7ce", [], 10, [("\ua7cf\ua7cf", 1)]),  # new in Unicode 17
    ("\U00016ea0", [], 10, [("\U00016ebb", 1)]),  # new in Unicode 17
    # Nothing but white space separates words.
    ("x-ray x.ray xray", [], 10, [("xray", 3)]),
    ("covid-19 covid19", [], 10, [("covid", 2)]),
    ("e-mail/web don't", [], 10, [("emailweb", 1), ("dont", 1)]),
    ("abc\0def abc\0def", [], 10, [("abcdef", 2)]),
    ("abc\0 abc", [], 10, [("abc", 2)]),
    ("cat\U0001f600 cat", [], 10, [("cat", 2)]),
    ("a\u200bb\u200bc", [], 10, [("abc", 1)]),
    ("\x1cabc\x1dabc\x1e\x1f", [], 10, [("abcabc", 1)]),
    # Final sigma is decided on the letters that are kept.
    ("\u039f\u0394\u039f\u03a3", [], 10, [("\u03bf\u03b4\u03bf\u03c2", 1)]),
    ("\u039f\u0394\u039f\u03a3.", [], 10, [("\u03bf\u03b4\u03bf\u03c2", 1)]),
    ("\u039f\u0394\u039f\u03a3-\u0391", [], 10, [("\u03bf\u03b4\u03bf\u03c3\u03b1", 1)]),
    ("\u0391\u03a31\u0392", [], 10, [("\u03b1\u03c3\u03b2", 1)]),
    ("\u03a3\u0391\u03a3", [], 10, [("\u03c3\u03b1\u03c2", 1)]),
    ("\u03a31\u03a3", [], 10, [("\u03c3\u03c2", 1)]),
    ("\u0391\u03a3\u0345", [], 10, [("\u03b1\u03c2\u0345", 1)]),
    ("\u03a3\u03a3 \u03c3\u03c2", [], 10, [("\u03c3\u03c2", 2)]),
    # Stop words are used exactly as given.
    ("\u039f\u0394\u039f\u03a3 \u03bf\u03b4\u03bf\u03c2", ["\u03bf\u03b4\u03bf\u03c2"], 10, []),
    ("\u039f\u0394\u039f\u03a3", ["\u03bf\u03b4\u03bf\u03c3"], 10, [("\u03bf\u03b4\u03bf\u03c2", 1)]),
    ("\u039f\u0394\u039f\u03a3", ["\u039f\u0394\u039f\u03a3"], 10, [("\u03bf\u03b4\u03bf\u03c2", 1)]),
    ("\u0130stanbul", ["i\u0307stanbul"], 10, []),
    ("\u0130stanbul", ["\u0130stanbul"], 10, [("i\u0307stanbul", 1)]),
    ("\u0130stanbul", ["istanbul"], 10, [("i\u0307stanbul", 1)]),
    ("cat cat", ["Cat"], 10, [("cat", 2)]),
    ("cat cat", ["cat!"], 10, [("cat", 2)]),
    ("cat cat", ["cat1"], 10, [("cat", 2)]),
    ("cat cat", ["cat\0"], 10, [("cat", 2)]),
    ("cat cat", ["ca"], 10, [("cat", 2)]),
    ("cat cat", ["cats"], 10, [("cat", 2)]),
    ("cat cat", [" cat"], 10, [("cat", 2)]),
    ("cat cat", [""], 10, [("cat", 2)]),
    ("cat cat dog", ["cat", "cat", "cat"], 10, [("dog", 1)]),
    ("Cat. CAT! cat", ["cat"], 10, []),
    ("x-ray", ["x-ray"], 10, [("xray", 1)]),
    ("x-ray", ["xray"], 10, []),
    ("stra\u00dfe STRA\u1e9eE STRASSE", ["strasse"], 10, [("stra\u00dfe", 2)]),
]


@pytest.mark.parametrize("extract", IMPLEMENTATIONS)
@pytest.mark.parametrize("text, stop_words, top_n, expected", KEYWORD_CASES)
def test_keywords(extract, text, stop_words, top_n, expected):
    result = extract(text, stop_words, top_n)
    assert sorted(result) == sorted(expected)
    counts = [count for _, count in result]
    assert counts == sorted(counts, reverse=True)


@pytest.mark.parametrize("extract", IMPLEMENTATIONS)
@pytest.mark.parametrize(
    "text, top_n, expected",
    [
        ("ccc bbb ccc aaa ccc bbb", 10, [("ccc", 3), ("bbb", 2), ("aaa", 1)]),
        ("ccc bbb ccc aaa ccc bbb", 2, [("ccc", 3), ("bbb", 2)]),
        ("ccc bbb ccc aaa ccc bbb", 1, [("ccc", 3)]),
        ("ccc bbb ccc aaa ccc bbb", 0, []),
        ("ccc bbb ccc aaa ccc bbb", ALL, [("ccc", 3), ("bbb", 2), ("aaa", 1)]),
        ("one two two three three three", 3, [("three", 3), ("two", 2), ("one", 1)]),
    ],
)
def test_distinct_counts_come_in_a_fixed_order(extract, text, top_n, expected):
    assert extract(text, [], top_n) == expected


def test_a_cut_inside_a_tie_keeps_one_of_the_tied_words():
    result = extract_keywords("aaa bbb aaa bbb aaa bbb ccc", [], 1)
    assert result in ([("aaa", 3)], [("bbb", 3)])
    result = extract_keywords("aaa bbb aaa bbb aaa bbb ccc ddd ddd", [], 3)
    assert result[:2] in ([("aaa", 3), ("bbb", 3)], [("bbb", 3), ("aaa", 3)])
    assert result[2] == ("ddd", 2)


@pytest.mark.parametrize("space", list(WHITE_SPACE), ids=lambda c: f"U+{ord(c):04X}")
def test_every_white_space_character_separates_words(space):
    text = f"{space}abc{space}abc{space}{space}d\u00e9f{space}"
    reference.assert_acceptable_keywords(extract_keywords(text, [], ALL), text, [], ALL)
    assert sorted(extract_keywords(text, [], ALL)) == [("abc", 2), ("d\u00e9f", 1)]


@pytest.mark.parametrize("joiner", list(NOT_WHITE_SPACE), ids=lambda c: f"U+{ord(c):04X}")
def test_characters_that_only_look_like_separators_join_words(joiner):
    # Not White_Space and not Alphabetic: dropped from inside the word.
    assert extract_keywords(f"ab{joiner}cd ab{joiner}cd", [], ALL) == [("abcd", 2)]


# A letter after "xy" makes a three-byte word; anything else leaves "xy",
# which is too short to count.
@pytest.mark.parametrize(
    "char, lowered",
    [
        ("\u00aa", "\u00aa"),
        ("\u00b5", "\u00b5"),
        ("\u00ba", "\u00ba"),
        ("\u02b0", "\u02b0"),
        ("\u0345", "\u0345"),
        ("\u0e31", "\u0e31"),
        ("\u093e", "\u093e"),
        ("\u2160", "\u2170"),
        ("\u3007", "\u3007"),
        ("\u24b6", "\u24d0"),
        ("\u24e9", "\u24e9"),
        ("\U0001f130", "\U0001f130"),
        ("\u4e00", "\u4e00"),
        ("\uff21", "\uff41"),
        ("\U0001d400", "\U0001d400"),
        ("\U00010940", "\U00010940"),
        ("\U00011db0", "\U00011db0"),
        ("\U00016ea0", "\U00016ebb"),
        ("\U0001e6c0", "\U0001e6c0"),
        ("\U000323b0", "\U000323b0"),
        ("Z", "z"),
        ("\u0130", "i\u0307"),
        ("\u00c0", "\u00e0"),
    ],
    ids=lambda c: "+".join(f"U+{ord(x):04X}" for x in c),
)
def test_letters_are_kept(char, lowered):
    assert extract_keywords("xy" + char, [], ALL) == [("xy" + lowered, 1)]
    assert reference.extract_keywords("xy" + char, [], ALL) == [("xy" + lowered, 1)]


@pytest.mark.parametrize(
    "char",
    list("0123456789_'-.@`[{\x7f")
    + ["\u0080", "\u00a9", "\u00b2", "\u00d7", "\u00f7", "\u0660", "\u0301", "\u0307", "\U0001f600", "\ue000"]
    + ["\U0010ffff", "\U000e0001", "\u00ad", "\u200d"],
    ids=lambda c: f"U+{ord(c):04X}",
)
def test_non_letters_are_dropped(char):
    assert extract_keywords("xy" + char, [], ALL) == []
    assert extract_keywords("xyz" + char * 3, [], ALL) == [("xyz", 1)]
    assert reference.extract_keywords("xy" + char, [], ALL) == []


def test_result_is_a_new_list_of_new_pairs():
    text = "alpha beta beta"
    first = extract_keywords(text, [], 5)
    assert type(first) is list
    assert all(type(pair) is tuple and len(pair) == 2 for pair in first)
    assert all(type(word) is str and type(count) is int for word, count in first)
    second = extract_keywords(text, [], 5)
    assert first == second == [("beta", 2), ("alpha", 1)]
    assert first is not second
    assert all(a is not b for a, b in zip(first, second))
    first.clear()
    assert extract_keywords(text, [], 5) == second


def test_empty_result_is_a_new_list():
    first = extract_keywords("", [], 5)
    second = extract_keywords("", [], 5)
    assert first == second == []
    assert type(first) is list
    assert first is not second


def test_stop_words_are_not_changed():
    stop_words = ["The", "and", "x-ray"]
    copy = list(stop_words)
    extract_keywords("the cat and the hat", stop_words, 5)
    assert stop_words == copy


def test_counts_are_exact_for_many_occurrences():
    text = "word " * 100_000 + "Words, " * 99_999 + "WORDIER\n" * 3
    assert extract_keywords(text, [], ALL) == [("word", 100_000), ("words", 99_999), ("wordier", 3)]


def test_many_distinct_words():
    # Word i (spelt from its digits mapped to letters) occurs i % 7 + 1 times.
    words = ["".join("abcdefghij"[int(d)] for d in f"{i:05d}") for i in range(3000)]
    text = " ".join(word for i, word in enumerate(words) for _ in range(i % 7 + 1))
    reference.assert_acceptable_keywords(extract_keywords(text, [], ALL), text, [], ALL)
    for top_n in (0, 1, 428, 429, 430, 2999, 3000, 3001):
        reference.assert_acceptable_keywords(extract_keywords(text, words[::5], top_n), text, words[::5], top_n)


def test_result_objects_are_owned_by_the_result_alone():
    result = extract_keywords("alpha beta beta gamma gamma gamma", [], 5)
    # Same shape built in Python: the same number of references to each part.
    model = [("".join(["gam", "ma"]), 3), ("".join(["be", "ta"]), 2), ("".join(["al", "pha"]), 1)]
    assert sys.getrefcount(result) == sys.getrefcount(model)
    for got, built in zip(result, model):
        assert sys.getrefcount(got) == sys.getrefcount(built)
        assert sys.getrefcount(got[0]) == sys.getrefcount(built[0])


# --------------------------------------------------------------------------
# Against the model


def normalised_vocabulary():
    return sorted({reference.normalise_word(word) for word in VOCABULARY})


def stop_word_lists():
    word = st.one_of(
        st.sampled_from(normalised_vocabulary()),  # stop words that can match
        st.sampled_from(VOCABULARY),  # raw forms: only the already normal ones match
        texts(6),
    )
    return st.one_of(st.lists(word, max_size=8), st.lists(word, max_size=8).map(tuple))


top_ns = st.one_of(
    st.integers(0, 6),
    st.just(ALL),
    st.integers(0, ALL),
)


@given(documents(), stop_word_lists(), top_ns)
def test_keywords_agree_with_the_model(text, stop_words, top_n):
    reference.assert_acceptable_keywords(extract_keywords(text, stop_words, top_n), text, stop_words, top_n)


@given(texts(60), stop_word_lists(), top_ns)
def test_keywords_of_arbitrary_text_agree_with_the_model(text, stop_words, top_n):
    reference.assert_acceptable_keywords(extract_keywords(text, stop_words, top_n), text, stop_words, top_n)


@given(documents(), stop_word_lists(), top_ns)
def test_keywords_bind_like_positions(text, stop_words, top_n):
    expected = extract_keywords(text, stop_words, top_n)
    for result in (
        extract_keywords(top_n=top_n, text=text, stop_words=stop_words),
        extract_keywords(text, top_n=top_n, stop_words=stop_words),
        extract_keywords(text, stop_words, top_n=top_n),
    ):
        reference.assert_acceptable_keywords(result, text, stop_words, top_n)


@given(documents(), st.integers(1, 4))
def test_repeating_the_text_multiplies_the_counts(text, times):
    once = dict(extract_keywords(text, [], ALL))
    repeated = dict(extract_keywords(" ".join([text] * times), [], ALL))
    assert repeated == {word: count * times for word, count in once.items()}
