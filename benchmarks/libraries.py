"""Widely used libraries that users reach for to count words.

These do NOT have parvenkel's semantics and are timed only as a point of
reference for "what would I otherwise use":

* scikit-learn's ``CountVectorizer`` with its defaults (tokens are runs of
  two or more ``\\w`` characters, so it splits at punctuation, apostrophes and
  hyphens, keeps digits and two-letter words, lowercases with ``str.lower``
  before tokenising) plus the same stop words. The most frequent ``top_n``
  terms are then read from the sparse count vector.
"""

from __future__ import annotations


def sklearn_available() -> bool:
    try:
        import sklearn.feature_extraction.text  # noqa: F401
    except ImportError:
        return False
    return True


def sklearn_extract_keywords(text: str, stop_words, top_n: int) -> list[tuple[str, int]]:
    # Imported here, so that a run without scikit-learn needs no numpy either.
    import numpy as np
    from sklearn.feature_extraction.text import CountVectorizer

    vectorizer = CountVectorizer(stop_words=list(stop_words) or None)
    try:
        counts = vectorizer.fit_transform([text])
    except ValueError:  # "empty vocabulary": no token at all
        return []
    terms = vectorizer.get_feature_names_out()
    row = counts.tocsr()
    data, indices = row.data, row.indices
    order = np.argsort(-data, kind="stable")[:top_n]
    return [(str(terms[indices[i]]), int(data[i])) for i in order]
