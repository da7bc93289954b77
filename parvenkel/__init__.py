"""Fast, exact Unicode article scoring and keyword extraction.

``score_article(title, content, query)`` rates an article against a query;
``extract_keywords(text, stop_words, top_n)`` returns the most frequent words
of a text as ``(word, count)`` pairs. Both follow Unicode 17.0.0 exactly.

Around them: ``explain(text, stop_words)`` tells what each piece of a text
becomes and why it is counted or not, ``check_stop_words(stop_words)`` names
the stop words that can never match, ``parvenkel.stoplists`` holds small
built-in stop-word lists, and ``python -m parvenkel`` is the command line.

For many texts at once, on every core: ``WordCounter``, ``keywords_many``,
``score_many`` and ``rank_articles`` (``parvenkel.corpus``). For many queries
against one corpus: ``ArticleIndex`` (``parvenkel.index``).
"""

from parvenkel._core import extract_keywords, score_article
from parvenkel.corpus import RankedArticle, WordCounter, keywords_many, rank_articles, score_many
from parvenkel.index import ArticleIndex
from parvenkel.words import Explanation, StopWordProblem, Verdict, check_stop_words, explain

#: The package's version; the build reads its metadata from this line.
__version__ = "0.1.0"

#: The Unicode version whose character data the functions follow.
UNICODE_VERSION = "17.0.0"

__all__ = [
    "UNICODE_VERSION",
    "ArticleIndex",
    "Explanation",
    "RankedArticle",
    "StopWordProblem",
    "Verdict",
    "WordCounter",
    "check_stop_words",
    "explain",
    "extract_keywords",
    "keywords_many",
    "rank_articles",
    "score_article",
    "score_many",
]
