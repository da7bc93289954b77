"""Rank a few articles in several scripts against a few queries.

    .venv/bin/python examples/demo.py [QUERY...]
"""

import json
import pathlib
import sys

from parvenkel import score_article

ARTICLES = pathlib.Path(__file__).with_name("articles.jsonl")


def main(queries: list[str]) -> None:
    with ARTICLES.open(encoding="utf-8") as handle:
        articles = [json.loads(line) for line in handle if line.strip()]
    for query in queries:
        ranked = sorted(
            ((score_article(a["title"], a["content"], query), a["title"]) for a in articles),
            key=lambda pair: -pair[0],
        )
        print(f"query {query!r}")
        for score, title in ranked:
            if score > 0:
                print(f"  {score:7.1f}  {title}")
        print()


if __name__ == "__main__":
    main(sys.argv[1:] or ["market", "MARKT", "ΑΓΟΡΑ", "рынок", "İSTANBUL", "市場", "straße"])
