"""A small typed program over parvenkel's API; `mypy --strict` checks it
against the package's types (tools/check-types.sh).

    .venv/bin/python examples/typed_usage.py
"""

from collections.abc import Sequence

from parvenkel import (
    UNICODE_VERSION,
    Explanation,
    RankedArticle,
    StopWordProblem,
    Verdict,
    WordCounter,
    check_stop_words,
    explain,
    extract_keywords,
    keywords_many,
    rank_articles,
    score_article,
    score_many,
)
from parvenkel import stoplists


def best_article(articles: Sequence[tuple[str, str]], query: str) -> tuple[float, str]:
    scored = [(score_article(title, content, query), title) for title, content in articles]
    return max(scored)


def top_words(text: str, stop_words: Sequence[str], n: int) -> dict[str, int]:
    pairs: list[tuple[str, int]] = extract_keywords(text, stop_words, n)
    return dict(pairs)


def dropped(text: str) -> list[str]:
    pieces: list[Explanation] = explain(text, ["the"])
    return [e.piece for e in pieces if e.verdict is not Verdict.KEPT]


def corpus_summary(texts: list[str], stop_words: frozenset[str]) -> list[tuple[str, int]]:
    counter = WordCounter(stop_words)
    counter.update(texts, workers=-1)
    per_text: list[list[tuple[str, int]]] = keywords_many(texts, stop_words, 3, workers=2)
    total: int = counter.total() + len(per_text) + counter["the"]
    print(total, "market" in counter, len(counter))
    return counter.most_common(5)


def best_articles(articles: list[tuple[str, str]], query: str) -> list[int]:
    scores: list[float] = score_many(articles, query)
    ranked: list[RankedArticle] = rank_articles(articles, query, 2, include_zero=True)
    return [r.position for r in ranked if r.score >= min(scores)]


def main() -> None:
    english: list[str] = stoplists.load("english")
    problems: list[StopWordProblem] = check_stop_words(["The", "covid-19", "market"])
    for problem in problems:
        suggestion: str | None = problem.suggestion
        print(problem.index, problem.entry, suggestion)
    print(best_article([("Market news", ""), ("Other", "the market")], "market"))
    print(top_words("The cat and the hat. The END", english, 3))
    print(dropped("The cat on the mat, 2024"))
    print(corpus_summary(["The cat and the hat.", "The END"], frozenset({"and"})))
    print(best_articles([("Market news", ""), ("Other", "the market")], "market"))
    print(UNICODE_VERSION)


if __name__ == "__main__":
    main()
