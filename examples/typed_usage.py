"""A small typed program over parvenkel's API; `mypy --strict` checks it
against the package's types (tools/check-types.sh).

    .venv/bin/python examples/typed_usage.py
"""

from collections.abc import Sequence

from parvenkel import (
    UNICODE_VERSION,
    Explanation,
    StopWordProblem,
    Verdict,
    check_stop_words,
    explain,
    extract_keywords,
    score_article,
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


def main() -> None:
    english: list[str] = stoplists.load("english")
    problems: list[StopWordProblem] = check_stop_words(["The", "covid-19", "market"])
    for problem in problems:
        suggestion: str | None = problem.suggestion
        print(problem.index, problem.entry, suggestion)
    print(best_article([("Market news", ""), ("Other", "the market")], "market"))
    print(top_words("The cat and the hat. The END", english, 3))
    print(dropped("The cat on the mat, 2024"))
    print(UNICODE_VERSION)


if __name__ == "__main__":
    main()
