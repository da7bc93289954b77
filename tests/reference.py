"""A plain Python model of parvenkel's two analysis functions.

It is deliberately naive: no performance concern, one obvious step per rule,
built only on the Unicode model in ucd_model (Unicode 17.0.0). The tests run
the extension module against it.

Strings are compared as Python `str` objects. The module compares UTF-8 bytes;
for well-formed text the two agree, since a code point sequence is a prefix
(or a substring) of another exactly when its UTF-8 encoding is one of the
other's encoding. Lengths, however, are measured in UTF-8 bytes here too.
"""

from collections import Counter

from ucd_model import keep_letters, lowercase, split_words

TITLE_PREFIX_SCORE = 1000.0
TITLE_CONTAINS_SCORE = 500.0
CONTENT_CONTAINS_BONUS = 100.0

# A keyword must be at least this long in UTF-8 bytes.
MIN_KEYWORD_BYTES = 3

# Every value score_article can return.
SCORES = frozenset({0.0, 100.0, 500.0, 600.0, 1000.0, 1100.0})


def score_article(title: str, content: str, query: str) -> float:
    lowered_query = lowercase(query)
    if not lowered_query:
        # The empty string occurs everywhere; an empty query matches nothing.
        return 0.0
    lowered_title = lowercase(title)
    lowered_content = lowercase(content)
    if lowered_title.startswith(lowered_query):
        score = TITLE_PREFIX_SCORE
    elif lowered_query in lowered_title:
        score = TITLE_CONTAINS_SCORE
    else:
        score = 0.0
    if lowered_query in lowered_content:
        score += CONTENT_CONTAINS_BONUS
    return score


def normalise_word(piece: str) -> str:
    """Letters only, then lowercased: letters are kept before the final-sigma
    context is looked at."""
    return lowercase(keep_letters(piece))


def keyword_counts(text: str, stop_words) -> dict[str, int]:
    """Count of every normalised word of `text` that is long enough and not a
    stop word. Stop words are taken exactly as given, not normalised."""
    stop_set = set(stop_words)
    counts: Counter[str] = Counter()
    for piece in split_words(text):
        word = normalise_word(piece)
        if len(word.encode("utf-8")) < MIN_KEYWORD_BYTES:
            continue
        if word in stop_set:
            continue
        counts[word] += 1
    return dict(counts)


def extract_keywords(text: str, stop_words, top_n: int) -> list[tuple[str, int]]:
    """One acceptable answer: most frequent first; ties in first-seen order
    (the module leaves the order of ties open)."""
    ranked = sorted(keyword_counts(text, stop_words).items(), key=lambda item: item[1], reverse=True)
    return ranked[:top_n]


def assert_acceptable_keywords(actual, text: str, stop_words, top_n: int) -> None:
    """Fail unless `actual` is a valid answer of extract_keywords(text,
    stop_words, top_n): a list of exact (str, int) 2-tuples, distinct words,
    each with its true count, and the counts being the `top_n` highest ones in
    non-increasing order. Ties may come in any order, and when the cut falls
    inside a run of equal counts, any of the tied words may be the ones kept."""
    counts = keyword_counts(text, stop_words)
    assert type(actual) is list, type(actual)
    for pair in actual:
        assert type(pair) is tuple and len(pair) == 2, pair
        assert type(pair[0]) is str and type(pair[1]) is int, pair
    words = [word for word, _ in actual]
    assert len(set(words)) == len(words), f"repeated words in {actual!r}"
    for word, count in actual:
        assert word in counts, f"{word!r} is not a keyword of the text; expected counts {counts!r}"
        assert count == counts[word], f"{word!r}: count {count}, expected {counts[word]}"
    expected_counts = sorted(counts.values(), reverse=True)[:top_n]
    assert [count for _, count in actual] == expected_counts, (actual, counts)
