"""Texts longer than 2 GiB and 4 GiB, where a length or offset held in 32 bits
would wrap or turn negative. They need up to about 10 GB of memory, so they
run only when selected: python -m pytest -m slow tests/test_large_inputs.py"""

import pytest

from parvenkel import extract_keywords, score_article

pytestmark = pytest.mark.slow

SIZES = [pytest.param(2**31 + 1, id="2GiB+1"), pytest.param(2**32 + 1, id="4GiB+1")]


@pytest.fixture(autouse=True)
def only_when_selected(request):
    if "slow" not in (request.config.getoption("markexpr") or ""):
        pytest.skip("needs gigabytes of memory; select with -m slow")


@pytest.mark.parametrize("size", SIZES)
def test_query_at_the_end_of_a_huge_content(size):
    content = " " * size + "Needle"
    assert score_article("", content, "nEEDLE") == 100.0


@pytest.mark.parametrize("size", SIZES)
def test_query_at_the_end_of_a_huge_title(size):
    title = "x" * size + "\u0130stanbul"  # also forces the character-by-character path at the end
    assert score_article(title, "", "i\u0307STANBUL") == 500.0
    del title


@pytest.mark.parametrize("size", SIZES)
def test_words_after_a_huge_run_of_white_space(size):
    text = " " * size + "Word word\u3000WORD"
    assert extract_keywords(text, [], 10) == [("word", 3)]


def test_one_huge_word():
    size = 2**31 + 1
    result = extract_keywords("A" * size + "\u00c9 x", ["x"], 10)
    assert len(result) == 1
    word, count = result[0]
    assert count == 1
    assert len(word) == size + 1
    assert word.startswith("aaaa") and word.endswith("a\u00e9")
