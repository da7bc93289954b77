"""The stop-word check, the built-in stop-word lists and the stop-word file
format."""

import pytest
import ucd_model
from hypothesis import given
from hypothesis import strategies as st
from strategies import texts

from parvenkel import StopWordProblem, check_stop_words, explain, extract_keywords, stoplists

ALL = (1 << 64) - 1
LANGUAGES = ["english", "french", "german", "greek", "russian", "spanish"]


# The built-in lists.


def test_names():
    assert stoplists.names() == LANGUAGES


@pytest.mark.parametrize("name", LANGUAGES)
def test_builtin_list_is_normalised_and_matches(name):
    entries = stoplists.load(name)
    assert len(entries) >= 50
    assert len(set(entries)) == len(entries)
    for entry in entries:
        # Already what a word becomes: letters only, lowercased, 3 bytes or more.
        assert ucd_model.lowercase(ucd_model.keep_letters(entry)) == entry
        assert len(entry.encode("utf-8")) >= 3
        # And so it is counted as a word, and taken out as a stop word.
        assert extract_keywords(entry, [], 1) == [(entry, 1)]
        assert extract_keywords(entry, entries, 1) == []
    assert check_stop_words(entries) == []


@pytest.mark.parametrize(
    "text, stop_list, expected",
    [
        ("The state and the people of the states", "english", [("people", 1), ("state", 1), ("states", 1)]),
        ("Der Staat und die Bürger für das Volk", "german", [("bürger", 1), ("staat", 1), ("volk", 1)]),
        ("Les droits de l'homme et du citoyen sont là", "french", [("citoyen", 1), ("droits", 1), ("lhomme", 1)]),
        ("El pueblo y los derechos de él", "spanish", [("derechos", 1), ("pueblo", 1)]),
        ("Он сказал, что это не так", "russian", [("сказал", 1)]),
        ("Αυτός είναι ο λαός και η πόλη", "greek", [("λαός", 1), ("πόλη", 1)]),
    ],
)
def test_builtin_lists_take_out_function_words(text, stop_list, expected):
    got = extract_keywords(text, stoplists.load(stop_list), ALL)
    assert sorted(got) == expected


def test_load_unknown():
    with pytest.raises(ValueError, match="no built-in stop-word list 'klingon'; there are: english, french"):
        stoplists.load("klingon")


@pytest.mark.parametrize(
    "text, entries",
    [
        ("", []),
        ("the\nand\n", [(1, "the"), (2, "and")]),
        ("the\r\nand\r\n", [(1, "the"), (2, "and")]),
        ("# a comment\n\nthe\n  \nand", [(3, "the"), (4, "  "), (5, "and")]),
        ("the \n\tand\n", [(1, "the "), (2, "\tand")]),  # nothing else is trimmed
        ("a\rb\n", [(1, "a\rb")]),
        ("one\u2028two\x85three\n", [(1, "one\u2028two\x85three")]),  # only line feeds end lines
    ],
)
def test_parse(text, entries):
    assert stoplists.parse(text) == entries


# check_stop_words


SHORT = "words under 3 bytes of UTF-8 are never counted, so no stop word is needed"


@pytest.mark.parametrize(
    "entry, reason, suggestion",
    [
        ("The", "it is not in lower case", "the"),
        ("THE", "it is not in lower case", "the"),
        ("covid-19", "it holds characters that are not letters ('-', '1', '9')", "covid"),
        ("Don't", "it holds characters that are not letters (\"'\") and it is not in lower case", "dont"),
        ("e-mail", "it holds characters that are not letters ('-')", "email"),
        ("x.x.x.", "it holds characters that are not letters ('.')", "xxx"),
        ("İstanbul", "it is not in lower case", "i\u0307stanbul"),
        ("ΟΔΟΣ", "it is not in lower case", "οδος"),
        ("ΟΔΟΣ-Α", "it holds characters that are not letters ('-') and it is not in lower case", "οδοσα"),
        ("e\u0301te\u0301", "it holds characters that are not letters ('\u0301')", "ete"),
        ("ab\u200bc", "it holds characters that are not letters ('\\u200b')", "abc"),
        ("on", SHORT, None),
        ("ON", SHORT, None),
        ("ü", SHORT, None),
        ("ẞ", SHORT, None),
        ("o-n", SHORT, None),
        ("2024", "it has no letters", None),
        ("--", "it has no letters", None),
        ("", "it is empty", None),
        ("new york", "it holds white space, which always separates words", None),
        ("the\u3000", "it holds white space, which always separates words", None),
        (
            "x\ud800",
            "it holds a lone surrogate (U+D800), which has no UTF-8 form, so extract_keywords "
            "raises UnicodeEncodeError",
            None,
        ),
    ],
)
def test_entries_that_never_match(entry, reason, suggestion):
    assert check_stop_words(["fine", entry]) == [StopWordProblem(1, entry, reason, suggestion)]
    if suggestion is not None:
        # The suggestion is what the entry becomes as a word, and it does match.
        assert explain(entry)[0].word == suggestion
        assert extract_keywords(entry, [suggestion], ALL) == []
        assert check_stop_words([suggestion]) == []
    if not entry.startswith("x\ud800"):
        # The entry as given takes nothing out, even from a text of itself.
        assert sorted(extract_keywords(entry, [entry], ALL)) == sorted(extract_keywords(entry, [], ALL))


@pytest.mark.parametrize(
    "entry",
    [
        "the",
        "éé",  # 2 letters, 4 bytes
        "中",  # 1 ideograph, 3 bytes
        "i\u0307stanbul",  # what İstanbul becomes: U+0307 is no letter, yet it matches
        "i\u0307i\u0307",
        "οδος",
        "οδοσ",  # a medial sigma at the end comes from a small sigma in the text
        "σς",
        "ⓐⓑ",
        "ⅻⅻ",
    ],
)
def test_entries_that_match(entry):
    assert check_stop_words([entry]) == []


@pytest.mark.parametrize("entry", ["x\u0307yz", "\u0307abc", "i\u0307\u0307ab", "İ\u0307ab"])
def test_combining_dot_above_matches_only_after_an_i_from_capital_i_with_dot(entry):
    [problem] = check_stop_words([entry])
    assert problem.suggestion == explain(entry)[0].word


def test_problem_as_text():
    assert [str(p) for p in check_stop_words(["The", "on"])] == [
        "stop word 'The' can never match: it is not in lower case; it would have to be 'the'",
        f"stop word 'on' can never match: {SHORT}",
    ]


def test_non_str_entry():
    with pytest.raises(TypeError, match="stop word 1: 'int' object is not a str"):
        check_stop_words(["the", 1])


def test_lowercasing_adds_no_other_non_letter():
    """check_stop_words relies on this: lowercasing a letter gives letters,
    except U+0130, whose lowercase form ends in U+0307; and lowercase forms
    lowercase to themselves."""
    odd = {
        (cp, ch)
        for cp in ucd_model.ALPHABETIC
        for ch in ucd_model.LOWER_MAP.get(cp, chr(cp))
        if ord(ch) not in ucd_model.ALPHABETIC
    }
    assert odd == {(0x130, "\u0307")}
    assert ucd_model.LOWER_MAP[0x130] == "i\u0307"
    for mapped in ucd_model.LOWER_MAP.values():
        assert all(ord(ch) not in ucd_model.LOWER_MAP for ch in mapped)


@given(texts(max_size=30))
def test_every_word_of_a_text_passes_the_check(text):
    """No false alarms: a word extract_keywords counts is a good stop word,
    and as one it takes that word out."""
    for word, _ in extract_keywords(text, [], ALL):
        assert check_stop_words([word]) == []
        assert word not in dict(extract_keywords(text, [word], ALL))


@given(st.text(alphabet=st.sampled_from("aAİiΣσς\u0307\u0301-1 中ü"), max_size=6))
def test_check_agrees_with_a_search(entry):
    """An entry passes exactly when some piece of text becomes it as a word:
    searched among the letters that lowercase to each of its characters."""
    passes = check_stop_words([entry]) == []
    # Candidate pieces: each character replaced by any of the few that lowercase to it.
    preimages = {"a": "aA", "i": "iI", "σ": "σΣ", "ς": "ςΣ", "ü": "üÜ", "中": "中"}
    found = False
    if entry and len(entry.encode()) >= 3 and all(
        c in preimages or c == "\u0307" for c in entry
    ):
        pieces = [""]
        i = 0
        while i < len(entry):
            if entry[i] == "i" and entry[i + 1 : i + 2] == "\u0307":
                options, i = "İ", i + 2
            elif entry[i] == "\u0307":
                options, i = "", len(entry) + 1  # a stray U+0307: no piece gives it
            else:
                options, i = preimages[entry[i]], i + 1
            pieces = [p + o for p in pieces for o in options]
        found = i == len(entry) and any(explain(p)[0].word == entry for p in pieces)
    assert passes == found
