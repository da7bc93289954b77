"""Fast, exact Unicode article scoring and keyword extraction.

``score_article(title, content, query)`` rates an article against a query;
``extract_keywords(text, stop_words, top_n)`` returns the most frequent words
of a text as ``(word, count)`` pairs. Both follow Unicode 17.0.0 exactly.
"""

from parvenkel._core import extract_keywords, score_article

#: The Unicode version whose character data the functions follow.
UNICODE_VERSION = "17.0.0"

__all__ = ["UNICODE_VERSION", "extract_keywords", "score_article"]
