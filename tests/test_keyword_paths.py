"""Keyword counting on long texts against the model, so that every fast path
runs: the block scanner (64 code units a block, 4096 a chunk) with each
White_Space character at every offset of a block, the vector runs of
letters, the word table's inline keys (words and stop words of every length
around 16 and 32 bytes) and its batches, and the capital sigma of 3-byte
words, in each form CPython keeps a str in."""

import pytest
from hypothesis import given
from hypothesis import strategies as st

import reference
from parvenkel import extract_keywords
from strategies import WHITE_SPACE, texts

ALL = 2**64 - 1

# A piece that makes the text one of each form (it counts as a word or not,
# in the module and the model alike).
FORMS = {"ascii": "", "latin1": " \u00ff", "ucs2": " \u4e2d", "ucs4": " \U00010428"}


def ascii_word(length, k):
    """A piece of `length` letters, some capitalised, some with a hyphen, a
    digit or a comma among or after them."""
    letters = "".join(chr(ord("a") + (k + i) % 26) for i in range(length))
    if k % 3 == 0:
        letters = letters.capitalize()
    if k % 5 == 0 and length > 2:
        letters = letters[: length // 2] + "-" + letters[length // 2 :]
    if k % 7 == 0:
        letters += "9"
    return letters + ("," if k % 4 == 0 else "")


# Words of 1 to 40 letters in turn, so that the separators fall at every
# offset of a block and the words straddle blocks and chunks.
WORDS = [ascii_word(1 + k % 40, k // 40) for k in range(400)]
# Stop words that match some of them, around both inline-key limits.
STOP_WORDS = sorted({reference.normalise_word(w) for w in WORDS[::3] if len(w) >= 3})


def text_of(separator, form):
    return separator.join(WORDS * 3) + FORMS[form]


def check(text, stop_words):
    reference.assert_acceptable_keywords(extract_keywords(text, stop_words, ALL), text, stop_words, ALL)


@pytest.mark.parametrize("form", FORMS)
@pytest.mark.parametrize("space", list(WHITE_SPACE), ids=lambda c: f"U+{ord(c):04X}")
def test_each_white_space_at_every_offset(space, form):
    check(text_of(space, form), STOP_WORDS)


# Pieces for generated texts: the words above, words of letters of two and
# three bytes and of several scripts, 3-byte words with a capital sigma, and
# punctuation the vector runs drop.
PIECES = WORDS[:80] + [
    "a\u03a3", "\u03a3a", "\u0391\u03a3", "\u03a3\u03a3", "\u039f\u0394\u039f\u03a3-\u0391",
    "na\u00efve", "NA\u00cfVE", "\u00c9t\u00e9", "\u00ab\u00e9t\u00e9\u00bb", "\u00d7\u00f7ab",
    "\u0416\u0443\u043a", "\u0401\u0436\u0438\u043a\u0438,", "\u0410\u0411\u0412\u0413\u0414\u0415\u0416\u0417\u0418\u0419",
    "\u0391\u0392\u0393\u0394\u0395\u0396\u0397\u0398\u03aa\u03ab", "\u03ac\u03ad\u03ae\u03af\u03cc",
    "\u4e2d\u6587\u3001\u6f22\u5b57\u3002", "\u30ab\u30bf\u30ab\u30ca\u30fc", "\u3072\u3089\u304c\u306a",
    "\ud55c\uad6d\uc5b4", "\u300c\u5f15\u7528\u300d", "\uff08\u62ec\u5f27\uff09abc",
    "don\u2019t", "\u201cquoted\u201d", "\u2014dash\u2013", "\u0130stanbul", "\u212aelvin", "\u1e9e\u1e9e",
]  # fmt: skip


# Pieces mixing each kind of letter at every position.
MIXED = st.text(alphabet="abcXYZ'-9.\u00e9\u00c9\u00df\u0436\u0416\u03b1\u0391",
                min_size=1, max_size=24)


@given(
    st.lists(st.one_of(st.sampled_from(PIECES), texts(6), MIXED), min_size=1, max_size=120),
    # ASCII separators alone leave every piece to the block scanner.
    st.lists(st.sampled_from(WHITE_SPACE[:6]) | st.sampled_from(WHITE_SPACE), min_size=1, max_size=4),
    st.integers(0, 130),
    st.integers(1, 40),
    st.sampled_from(list(FORMS)),
)
def test_long_texts_agree_with_the_model(pieces, separators, shift, repeat, form):
    # Repeated, the pieces cross chunks; the shift moves them within blocks.
    body = "".join(p + separators[i % len(separators)] for i, p in enumerate(pieces))
    text = "x" * shift + " " + body * repeat + FORMS[form]
    stop_words = [reference.normalise_word(p) for p in pieces[::2]] + STOP_WORDS[::5]
    check(text, stop_words)
