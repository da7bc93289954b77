"""Hypothesis strategies for text that stresses Unicode handling: mixed
scripts, every kind of white space, case pairs with surprising lowercase
forms, final-sigma contexts, combining marks and astral characters."""

from hypothesis import strategies as st

# All 25 White_Space code points.
WHITE_SPACE = (
    "\t\n\x0b\x0c\r \x85\xa0\u1680"
    "\u2000\u2001\u2002\u2003\u2004\u2005\u2006\u2007\u2008\u2009\u200a"
    "\u2028\u2029\u202f\u205f\u3000"
)
assert len(WHITE_SPACE) == 25

# Look like separators to someone, but are not White_Space.
NOT_WHITE_SPACE = "\u200b\x1c\x1d\x1e\x1f\u180e\u2060\ufeff"

# Characters whose lowercase form is a trap somewhere.
CASE_TRAPS = (
    "\u0130"  # İ -> i + U+0307 (one character becomes two)
    "\u0131Ii"  # dotless i is unchanged, I is only ever i
    "\u00df\u1e9e"  # ß and ẞ (ẞ -> ß)
    "\u212aKk"  # Kelvin sign -> k
    "\u2126\u03a9\u03c9"  # Ohm sign -> ω
    "\u01c4\u01c5\u01c6"  # Ǆ, titlecase ǅ, ǆ
    "\U00010400\U00010428"  # Deseret, astral case pair
    "\ua7ce\ua7cf\U00016ea0\U00016ebb"  # case pairs new in Unicode 17
    "\u2160\u24b6\uff21"  # Nl and symbol-like letters with lowercase forms
)

# Greek capitals and the neighbours that decide final sigma.
GREEK = "\u03a3\u03a3\u03a3\u03c3\u03c2\u0391\u03b1\u039f\u03bf\u0394\u03b4\u0386"
SIGMA_CONTEXT = ".':^`\u0301\u0307\u0345\u02b0\u0295\u00ad1-"

SCRIPTS = (
    "abcxyzABCXYZ"
    "\u00e9\u00c9\u00ef\u00fc\u00dc\u00e0\u00c0"  # Latin-1 letters
    "\u043c\u0438\u0440\u041c\u0418\u0420"  # Cyrillic
    "\u4e2d\u6587\u5b57\u3007"  # CJK
    "\u0645\u0631\u062d\u0628\u0627\u064b"  # Arabic, with a harakat mark
    "\u0928\u092e\u0938\u094d\u0924\u0947"  # Devanagari with virama and vowel sign
    "\u00aa\u00b5\u00ba\u0e31\u093e"  # odd letters
)

OTHER = "0123456789_!?,;()\"/\x00\u00a9\u00b2\u00d7\u00f7\u0660\U0001f600\ue000\U0001f130"

INTERESTING = WHITE_SPACE + NOT_WHITE_SPACE + CASE_TRAPS + GREEK + SIGMA_CONTEXT + SCRIPTS + OTHER

# Any Unicode scalar value: encodable as UTF-8, so no lone surrogates.
any_character = st.characters(codec="utf-8")

characters = st.one_of(st.sampled_from(INTERESTING), any_character)


def texts(max_size=20):
    return st.text(alphabet=characters, max_size=max_size)


def case_variants(char):
    """Characters a query may use in place of `char` and still match it."""
    variants = {char, char.upper(), char.lower()}
    extra = {
        "\u03c3": "\u03a3\u03c2",
        "\u03c2": "\u03a3\u03c3",
        "\u03a3": "\u03c3\u03c2",
        "i": "I\u0130",
        "k": "K\u212a",
        "\u00df": "\u1e9e",
        "\u03c9": "\u2126",
    }.get(char, "")
    variants.update(extra)
    return sorted(v for v in variants if len(v) == 1)


@st.composite
def case_shuffled(draw, text):
    """`text` with some characters replaced by case variants."""
    return "".join(draw(st.sampled_from(case_variants(c))) for c in text)


@st.composite
def articles(draw):
    """(title, content, query) where the query is often a case-shuffled piece
    of the title or the content, so that every score is reached."""
    title = draw(texts())
    content = draw(texts(40))
    source = draw(st.sampled_from([title, content, title + " " + content]))
    start = draw(st.integers(0, len(source)))
    end = draw(st.integers(start, len(source)))
    query = draw(
        st.one_of(
            case_shuffled(source[start:end]),
            case_shuffled(source[:end]),
            texts(5),
        )
    )
    return title, content, query


# Words that normalise in interesting ways, used to build texts with repeats.
VOCABULARY = [
    "the", "The", "THE", "cat", "Cat.", "hat!", "end", "and",
    "market", "Market,", "MARKET!", "x-ray", "x.ray", "xray", "covid-19", "covid19", "2024",
    "na\u00efve", "NA\u00cfVE", "\u00fc\u00fc", "u\u0308u\u0308", "\u00fc",
    "\u039f\u0394\u039f\u03a3", "\u03bf\u03b4\u03bf\u03c2", "\u039f\u0394\u039f\u03a3-\u0391",
    "\u03a3\u0391\u03a3", "\u0391\u03a3\u0301", "\u0391\u03a31\u0392",
    "\u0130stanbul", "i\u0307stanbul", "\u0130", "\u1e9e", "\u212a", "\u212a\u212a\u212a",
    "stra\u00dfe", "STRA\u1e9eE", "STRASSE",
    "\u4e2d", "\u4e2d\u6587", "\u043c\u0438\u0440", "\u041c\u0418\u0420",
    "\u0645\u0631\u062d\u0628\u0627", "\u0928\u092e\u0938\u094d\u0924\u0947",
    "a\u200bb", "ab\x1fc", "it", "is", "so", "\U00010400\U00010400", "\ua7ce\ua7ce",
]  # fmt: skip


@st.composite
def documents(draw, max_words=30):
    """A text of words, drawn mostly from VOCABULARY, with runs of every kind
    of white space between them (and sometimes none at all)."""
    words = draw(
        st.lists(
            st.one_of(st.sampled_from(VOCABULARY), st.sampled_from(VOCABULARY), texts(8)),
            max_size=max_words,
        )
    )
    separators = st.text(alphabet=st.sampled_from(WHITE_SPACE + NOT_WHITE_SPACE), max_size=3)
    parts = [draw(separators)]
    for word in words:
        parts.append(word)
        parts.append(draw(separators))
    return "".join(parts)
