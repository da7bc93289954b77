"""`explain` (behind the command line's `explain`) against the independent
model of the Unicode data in tests/ucd_model.py and against extract_keywords
itself: same pieces, same words, same verdicts, same counts."""

from collections import Counter

import pytest
import ucd_model
from hypothesis import given
from hypothesis import strategies as st
from strategies import texts

from parvenkel import Verdict, explain, extract_keywords
from parvenkel import words as words_module
from parvenkel.words import normalise, split

ALL = (1 << 64) - 1


def model_word(piece):
    return ucd_model.lowercase(ucd_model.keep_letters(piece))


@pytest.mark.parametrize(
    "piece, word, removed, verdict",
    [
        ("COVID-19", "covid", "-19", Verdict.KEPT),
        ("covid19", "covid", "19", Verdict.KEPT),
        ("2024", "", "2024", Verdict.NO_LETTERS),
        ("—", "", "—", Verdict.NO_LETTERS),
        ("on", "on", "", Verdict.TOO_SHORT),
        ("ON!", "on", "!", Verdict.TOO_SHORT),
        ("The", "the", "", Verdict.KEPT),
        ("x-ray", "xray", "-", Verdict.KEPT),
        ("naïve", "naïve", "", Verdict.KEPT),
        ("éé", "éé", "", Verdict.KEPT),  # 2 letters, 4 bytes
        ("ü", "ü", "", Verdict.TOO_SHORT),  # 2 bytes
        ("u\u0308u\u0308", "uu", "\u0308\u0308", Verdict.TOO_SHORT),  # combining marks are not letters
        ("e\u0301t\u0301e\u0301", "ete", "\u0301\u0301\u0301", Verdict.KEPT),
        ("İ", "i\u0307", "", Verdict.KEPT),  # 2 bytes in, 3 bytes out
        ("ẞ", "ß", "", Verdict.TOO_SHORT),  # 3 bytes in, 2 out
        ("\u212a", "k", "", Verdict.TOO_SHORT),  # Kelvin sign
        ("中", "中", "", Verdict.KEPT),  # one ideograph, 3 bytes
        ("ΟΔΟΣ", "οδος", "", Verdict.KEPT),  # final sigma
        ("ΟΔΟΣ-Α", "οδοσα", "-", Verdict.KEPT),  # the sigma rule sees only the letters
        ("ΑΣ.", "ας", ".", Verdict.KEPT),
        ("Σ", "σ", "", Verdict.TOO_SHORT),
        ("ΣΣ", "σς", "", Verdict.KEPT),
        ("a\u200bb", "ab", "\u200b", Verdict.TOO_SHORT),  # zero-width space does not split
        ("a\x1cb\x1fc", "abc", "\x1c\x1f", Verdict.KEPT),  # nor do the information separators
        ("\U0001d400\U0001d401", "\U0001d400\U0001d401", "", Verdict.KEPT),
        ("ⓐⒷ", "ⓐⓑ", "", Verdict.KEPT),  # circled letters are Alphabetic
        ("Ⅻ", "ⅻ", "", Verdict.KEPT),  # so are Roman numerals (Nl)
        ("\ua7ce", "\ua7cf", "", Verdict.KEPT),  # new in Unicode 17.0.0
    ],
)
def test_pieces(piece, word, removed, verdict):
    assert explain(piece) == [words_module.Explanation(piece, word, removed, verdict)]
    assert model_word(piece) == word
    assert normalise(piece) == word


@pytest.mark.parametrize(
    "text, stop_words, verdicts",
    [
        ("the The THE", ["the"], [Verdict.STOP_WORD] * 3),
        ("the The THE", ["The"], [Verdict.KEPT] * 3),  # stop words are used unchanged
        ("on on", ["on"], [Verdict.TOO_SHORT] * 2),  # the length test comes first
        ("2024", [""], [Verdict.NO_LETTERS]),
        ("İstanbul istanbul", ["i\u0307stanbul"], [Verdict.STOP_WORD, Verdict.KEPT]),
    ],
)
def test_stop_words(text, stop_words, verdicts):
    assert [e.verdict for e in explain(text, stop_words)] == verdicts


def test_every_white_space_character_splits_and_nothing_else_does():
    for cp in sorted(ucd_model.WHITE_SPACE):
        assert split(f"ab{chr(cp)}cd") == ["ab", "cd"], hex(cp)
    for char in "\u200b\x1c\x1d\x1e\x1f\u180e\u2060\ufeff-/._":
        assert split(f"ab{char}cd") == [f"ab{char}cd"], hex(ord(char))


@pytest.mark.parametrize(
    "text, pieces",
    [
        ("", []),
        ("   ", []),
        ("\u3000\xa0", []),
        ("a", ["a"]),
        ("  a  \t\n b ", ["a", "b"]),
        ("a\u2028b\u2029c\x85d", ["a", "b", "c", "d"]),
    ],
)
def test_split(text, pieces):
    assert split(text) == pieces == ucd_model.split_words(text)


def test_every_code_point_is_classed_as_the_unicode_data_says():
    """The probe of one character through extract_keywords, for all of them."""
    white, letter, other = (words_module._Class.WHITE_SPACE, words_module._Class.LETTER, words_module._Class.OTHER)
    wrong = []
    for cp in range(0x110000):
        if 0xD800 <= cp <= 0xDFFF:
            continue
        expected = white if cp in ucd_model.WHITE_SPACE else letter if cp in ucd_model.ALPHABETIC else other
        if words_module._probe(chr(cp)) is not expected:
            wrong.append(hex(cp))
    assert wrong == []


def test_padding_letter_is_neutral():
    """The padding letter appended to a piece must change nothing in how the
    piece's letters are lowercased, and lowercase to itself."""
    pad = ord(words_module._PAD)
    assert pad in ucd_model.ALPHABETIC
    assert pad not in ucd_model.CASED
    assert pad not in ucd_model.CASE_IGNORABLE
    assert pad not in ucd_model.LOWER_MAP
    assert pad not in ucd_model.WHITE_SPACE
    assert len(words_module._PAD.encode()) >= 3


@given(texts(max_size=40), st.lists(texts(max_size=4), max_size=3))
def test_explain_agrees_with_the_model_and_with_extract_keywords(text, stop_words):
    explanations = explain(text, stop_words)
    assert [e.piece for e in explanations] == ucd_model.split_words(text)
    for e in explanations:
        assert e.word == model_word(e.piece)
        assert e.removed == "".join(c for c in e.piece if ord(c) not in ucd_model.ALPHABETIC)
        assert e.word_bytes == len(e.word.encode())
    kept = Counter(e.word for e in explanations if e.kept)
    assert kept == dict(extract_keywords(text, stop_words, ALL))


@pytest.mark.parametrize(
    "args, error, message",
    [
        ((123,), TypeError, "argument 'text': 'int' object is not an instance of 'str'"),
        (("a b", "the"), TypeError, "argument 'stop_words': Can't extract `str` to `Vec`"),
        (("a b", {"the"}), TypeError, "argument 'stop_words': 'set' object is not an instance of 'Sequence'"),
        (("a b", [1]), TypeError, "argument 'stop_words': 'int' object is not an instance of 'str'"),
        (("a \ud800",), UnicodeEncodeError, None),
        (("a", ["\udc00"]), UnicodeEncodeError, None),
    ],
)
def test_explain_checks_arguments_like_extract_keywords(args, error, message):
    with pytest.raises(error) as caught:
        explain(*args)
    if message is not None:
        assert str(caught.value) == message


def test_normalise_refuses_white_space():
    with pytest.raises(ValueError, match="holds white space"):
        normalise("two words")
