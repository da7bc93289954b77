"""A/B of two builds of parvenkel in one session, in interleaved rounds.

    .venv/bin/python benchmarks/ab.py --base OTHER/.venv/bin/python \\
        --new .venv/bin/python [--rounds 5]

Each round runs one fresh process of each interpreter in turn (base, new,
base, new, ...); each process times the same workloads on the same inputs
(the prose corpora of corpora.py, cut as below) with the package it
imports, on one core, and prints its medians. The table gives, for each
workload, the median over the rounds of each build and new/base: above 1
is slower. Only the public Python API is used, so any two versions that
have it compare.

Workloads: extract_keywords on 2 million characters of each corpus and on a huge
vocabulary; score_article on 2,000 characters and on 1 MB bodies;
WordCounter.update (workers 1 and 2); keywords_many, score_many and
rank_articles over 100,000 short articles (workers 1 and 2); an
ArticleIndex of 100,000 articles: build (workers 1 and 2), save, load and
rank(q, 10) for a selective, a common, a 3-byte and a 2-byte query.
"""

from __future__ import annotations

import argparse
import json
import os
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent


def _median(run, rounds: int, budget: float = 0.5) -> float:
    times = []
    start = time.perf_counter()
    while len(times) < rounds or (time.perf_counter() - start < budget and len(times) < 50):
        t = time.perf_counter()
        run()
        times.append(time.perf_counter() - t)
    return statistics.median(times)


def _letters(n: int) -> str:
    """A word of at least three ASCII letters, another for each n."""
    out = []
    while n:
        n, digit = divmod(n, 26)
        out.append(chr(97 + digit))
    return "".join(out)


def _articles(texts: list[str], count: int) -> list[tuple[str, str]]:
    at = [0] * len(texts)
    out = []
    for k in range(count):
        j = k % len(texts)
        text = texts[j]
        if at[j] + 360 > len(text):
            at[j] = (at[j] + 360) % 97
        out.append((text[at[j] : at[j] + 60], text[at[j] + 60 : at[j] + 360]))
        at[j] += 373
    return out


def workloads(folder: str):
    """(name, run, rounds, budget) of every workload, made as they are asked for."""
    sys.path.insert(0, str(HERE))
    import corpora

    import parvenkel
    from parvenkel import ArticleIndex, WordCounter, keywords_many, rank_articles, score_many

    corpus = corpora.load_corpora()
    names = sorted(corpus)

    def text_of(name: str, chars: int) -> str:
        t = corpus[name]
        return (t * (chars // len(t) + 1))[:chars]

    for name in names:
        text = text_of(name, 2_000_000)
        yield f"extract_keywords {name}", lambda text=text: parvenkel.extract_keywords(text, [], 20), 5, 0.5
    huge = " ".join(_letters(n + 26**3) for n in range(300_000))
    yield "extract_keywords huge vocabulary", lambda: parvenkel.extract_keywords(huge, [], 20), 3, 0.5

    short_body = corpus["en"][:2000]
    yield (
        "score_article 2,000 chars (x1000)",
        lambda: [parvenkel.score_article("A title here", short_body, "notthere") for _ in range(1000)],
        5,
        0.5,
    )
    for name in ("en", "ru", "zh"):
        body = text_of(name, 1_000_000)
        yield f"score_article 1 MB {name}", lambda body=body: parvenkel.score_article("Title", body, "qqqzzq"), 5, 0.5

    ja = text_of("ja", 2_000_000)
    for workers in (1, 2):
        yield f"WordCounter.update ja workers={workers}", lambda workers=workers: WordCounter().update(ja, workers=workers), 3, 0.5

    texts = [" ".join(corpus[n].split()) for n in names]
    articles = _articles(texts, 100_000)
    bodies = [c for _, c in articles]
    for workers in (1, 2):
        yield f"keywords_many 100k workers={workers}", lambda workers=workers: keywords_many(bodies, [], 5, workers=workers), 3, 0.5
        yield f"score_many 100k workers={workers}", lambda workers=workers: score_many(articles, "the", workers=workers), 3, 0.5
        yield (
            f"rank_articles 100k top 10 workers={workers}",
            lambda workers=workers: rank_articles(articles, "the", 10, workers=workers),
            3,
            0.5,
        )

    yield "ArticleIndex build 100k", lambda: ArticleIndex(articles), 3, 0.0
    yield "ArticleIndex build 100k workers=2", lambda: ArticleIndex(articles, workers=2), 3, 0.0
    index = ArticleIndex(articles)
    path = os.path.join(folder, "a.idx")
    index.save(path)
    yield "ArticleIndex save", lambda: index.save(path), 3, 0.0
    yield "ArticleIndex load", lambda: ArticleIndex.load(path), 3, 0.0
    loaded = ArticleIndex.load(path)
    for query in ("lifetime", "system", "the", "ing", "\u03c3"):
        yield f"ArticleIndex.rank {query!r}, 10", lambda query=query: loaded.rank(query, 10), 7, 0.5


def measure(only: list[str]) -> dict[str, float]:
    results: dict[str, float] = {}
    with tempfile.TemporaryDirectory() as folder:
        for name, run, rounds, budget in workloads(folder):
            if not only or any(part in name for part in only):
                results[name] = _median(run, rounds, budget)
    return results


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--base", help="the base build's interpreter")
    parser.add_argument("--new", help="the new build's interpreter")
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--only", action="append", default=[], metavar="TEXT",
                        help="only the workloads whose name holds TEXT (repeatable)")
    parser.add_argument("--measure", action="store_true", help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.measure:
        json.dump(measure(args.only), sys.stdout)
        return
    if not args.base or not args.new:
        parser.error("--base and --new are required")
    runs: dict[str, list[dict[str, float]]] = {"base": [], "new": []}
    print(f"load average at start: {os.getloadavg()}", file=sys.stderr)
    for round_number in range(args.rounds):
        for which in ("base", "new"):
            python = getattr(args, which)
            out = subprocess.run(
                [python, __file__, "--measure", *(f"--only={part}" for part in args.only)],
                check=True, capture_output=True, text=True,
            ).stdout
            runs[which].append(json.loads(out))
            print(f"round {round_number + 1} {which} done", file=sys.stderr)
    print(f"load average at end: {os.getloadavg()}", file=sys.stderr)
    print(f"| workload | base | new | new/base |\n|---|---:|---:|---:|")
    for name in runs["base"][0]:
        base = statistics.median(r[name] for r in runs["base"])
        new = statistics.median(r[name] for r in runs["new"])
        print(f"| {name} | {base * 1e3:.2f} ms | {new * 1e3:.2f} ms | {new / base:.3f} |")


if __name__ == "__main__":
    main()
