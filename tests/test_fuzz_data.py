"""The data the fuzz target (fuzz/fuzz_core.cpp) relies on, checked against
the Unicode Character Database in data/ucd.

The fuzz target asserts that lowercasing is idempotent, except for texts
holding one of the code points listed in fuzz/lowercase_not_idempotent.inc.
That list must be exactly the code points for which Unicode itself makes
lowercasing twice differ from lowercasing once; it is derived here."""

import re
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parent.parent
UCD = ROOT / "data" / "ucd"
EXCEPTIONS = ROOT / "fuzz" / "lowercase_not_idempotent.inc"

CAPITAL_SIGMA = 0x03A3
SIGMA_FORMS = (0x03C2, 0x03C3)  # final, medial


def full_lowercase():
    """Code point -> its full lowercase mapping (tuple of code points), for
    the code points that have one: Simple_Lowercase_Mapping, replaced by the
    unconditional entries of SpecialCasing.txt."""
    mapping = {}
    with open(UCD / "UnicodeData.txt", encoding="utf-8") as data:
        for line in data:
            fields = line.split(";")
            if fields[13]:
                mapping[int(fields[0], 16)] = (int(fields[13], 16),)
    with open(UCD / "SpecialCasing.txt", encoding="utf-8") as data:
        for line in data:
            fields = [f.strip() for f in line.split("#", 1)[0].split(";")]
            if len(fields) < 5:
                continue
            if fields[4]:  # a condition: Final_Sigma or a language
                continue
            mapping[int(fields[0], 16)] = tuple(int(x, 16) for x in fields[1].split())
    return mapping


def listed_exceptions(path=EXCEPTIONS):
    text = path.read_text(encoding="utf-8")
    code = "\n".join(line.split("//", 1)[0] for line in text.splitlines())
    return sorted(int(x, 16) for x in re.findall(r"0x([0-9A-Fa-f]+)", code))


@pytest.fixture(scope="module")
def lower():
    return full_lowercase()


def not_idempotent(lower):
    def once(cps):
        return tuple(y for x in cps for y in lower.get(x, (x,)))

    found = []
    for cp in range(0x110000):
        if 0xD800 <= cp <= 0xDFFF:
            continue
        first = once((cp,))
        if once(first) != first:
            found.append(cp)
    return found


def test_the_listed_exceptions_are_those_of_the_data(lower):
    assert listed_exceptions() == not_idempotent(lower)


def test_the_sigma_rule_cannot_break_idempotence(lower):
    # The one context rule maps U+03A3 to one of the two small sigmas; the
    # second pass then finds no capital sigma, and the small ones stay.
    assert lower[CAPITAL_SIGMA] in [(form,) for form in SIGMA_FORMS]
    for form in SIGMA_FORMS:
        assert form not in lower
    assert not any(CAPITAL_SIGMA in mapped for mapped in lower.values())


@pytest.mark.parametrize(
    "sample",
    [
        pytest.param([], id="none"),
        pytest.param([0x1234, 0x10400], id="two"),
    ],
)
def test_the_exception_list_parser(tmp_path, sample):
    lines = ["// comment 0xFFFF in a comment is not an entry"]
    lines += [f"    0x{cp:04X},  // name" for cp in sample]
    path = tmp_path / "list.inc"
    path.write_text("\n".join(lines) + "\n", encoding="utf-8")
    assert listed_exceptions(path) == sample
