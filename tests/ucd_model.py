"""An independent model of the text primitives, read from the vendored UCD.

Everything here comes straight from the files in data/ucd/ (never from the
generated C++ tables) and is written for obviousness, not speed: sets,
dicts and plain loops. The tests compare the C++ code with it.
"""

from pathlib import Path

UCD_DIR = Path(__file__).resolve().parent.parent / "data" / "ucd"

CAPITAL_SIGMA = "\u03a3"
SMALL_SIGMA = "\u03c3"
SMALL_FINAL_SIGMA = "\u03c2"


def _fields(name):
    """The ;-separated fields of each data line of a UCD file."""
    with open(UCD_DIR / name, encoding="utf-8") as f:
        for line in f:
            line = line.split("#", 1)[0].strip()
            if line:
                yield [field.strip() for field in line.split(";")]


def _code_points(field):
    first, _, last = field.partition("..")
    return range(int(first, 16), int(last or first, 16) + 1)


def _property(name, prop):
    members = set()
    for fields in _fields(name):
        if fields[1] == prop:
            members.update(_code_points(fields[0]))
    return frozenset(members)


def _read_unicode_data():
    """General_Category Lt members, and Simple_Lowercase_Mapping."""
    titlecase = set()
    simple_lower = {}
    for fields in _fields("UnicodeData.txt"):
        cp = int(fields[0], 16)
        # No range (First>/Last> pair) holds titlecase letters or mappings.
        if fields[2] == "Lt":
            titlecase.add(cp)
        if fields[13]:
            simple_lower[cp] = chr(int(fields[13], 16))
    return frozenset(titlecase), simple_lower


def _read_lower_map(simple_lower):
    """Full lowercase mapping: simple mapping, replaced by the unconditional
    entries of SpecialCasing.txt (entries with a condition are left out)."""
    full = dict(simple_lower)
    for fields in _fields("SpecialCasing.txt"):
        has_condition = len(fields) > 5 and fields[4] != ""
        if not has_condition:
            cp = int(fields[0], 16)
            full[cp] = "".join(chr(int(x, 16)) for x in fields[1].split())
    return {cp: m for cp, m in full.items() if m != chr(cp)}


TITLECASE, _SIMPLE_LOWER = _read_unicode_data()
LOWER_MAP = _read_lower_map(_SIMPLE_LOWER)
LOWERCASE = _property("DerivedCoreProperties.txt", "Lowercase")
UPPERCASE = _property("DerivedCoreProperties.txt", "Uppercase")
CASED = LOWERCASE | UPPERCASE | TITLECASE
CASE_IGNORABLE = _property("DerivedCoreProperties.txt", "Case_Ignorable")
ALPHABETIC = _property("DerivedCoreProperties.txt", "Alphabetic")
WHITE_SPACE = _property("PropList.txt", "White_Space")


def _is_final_sigma(s, i):
    """Final_Sigma for the capital sigma at s[i]: a Cased character before it
    with only Case_Ignorable characters between, and no Cased character after
    it past Case_Ignorable ones. A character that is both Cased and
    Case_Ignorable counts as Case_Ignorable only."""
    j = i - 1
    while j >= 0 and ord(s[j]) in CASE_IGNORABLE:
        j -= 1
    if j < 0 or ord(s[j]) not in CASED:
        return False
    k = i + 1
    while k < len(s) and ord(s[k]) in CASE_IGNORABLE:
        k += 1
    return k == len(s) or ord(s[k]) not in CASED


def lowercase(s: str) -> str:
    out = []
    for i, c in enumerate(s):
        if c == CAPITAL_SIGMA:
            out.append(SMALL_FINAL_SIGMA if _is_final_sigma(s, i) else SMALL_SIGMA)
        else:
            out.append(LOWER_MAP.get(ord(c), c))
    return "".join(out)


def is_alphabetic(cp: int) -> bool:
    return cp in ALPHABETIC


def is_white_space(cp: int) -> bool:
    return cp in WHITE_SPACE


def split_words(s: str) -> list[str]:
    """Maximal runs of characters that are not White_Space."""
    words = []
    current = ""
    for c in s:
        if is_white_space(ord(c)):
            if current:
                words.append(current)
            current = ""
        else:
            current += c
    if current:
        words.append(current)
    return words


def keep_letters(s: str) -> str:
    return "".join(c for c in s if is_alphabetic(ord(c)))
