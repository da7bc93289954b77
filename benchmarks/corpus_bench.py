"""Corpora on one machine: how the corpus layer scales with threads.

Four ratios, each measured in one run with interleaved rounds (every way
timed once per round, in turn) and the median over the rounds:

* ``update``: ``WordCounter.update`` on eight 5 MB texts of real prose (the
  six corpora of corpora.py, repeated and mixed), ``workers=2`` against
  ``workers=1``.
* ``threads``: two Python threads, each updating its own counter with the
  eight texts, against one thread doing both in turn.
* ``rank``: ``rank_articles`` over 100,000 short articles (a 60-character
  title, a 2,000-character body, cut from the English prose, whose curly
  quotes and dashes make most bodies two bytes a character in CPython; and
  the same with the text cut to ASCII), the query "network" (in about 43% of
  them), ``workers=1`` against a Python loop of ``score_article`` and
  ``sorted``, and ``workers=2`` against ``workers=1``; every match as a row
  (top_n None), and the best ten (the loop's sorted list cut to ten costs
  the loop as much).
* ``dask`` (with ``--dask``): ``dask_support.corpus_keywords`` on a bag of
  32 such texts (``--dask-texts``), four a partition, made on the worker, a
  ``LocalCluster`` of one worker process with two threads against one with
  one thread.

Each line gives the median time, the ratio and the cores used (CPU seconds
of this process, or of the workers, per second of wall time): on a machine
whose other programs take a core, two threads cannot go past about 1 core
used, and the ratio says so.

    .venv/bin/python benchmarks/corpus_bench.py            # about a minute
    .venv/bin/python benchmarks/corpus_bench.py --dask --rounds 7
"""

from __future__ import annotations

import argparse
import functools
import os
import statistics
import sys
import threading
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))

import corpora  # noqa: E402

from parvenkel import stoplists  # noqa: E402
from parvenkel import WordCounter, rank_articles, score_article  # noqa: E402

STOP = stoplists.load("english")


@functools.cache
def prose_text(k: int, megabytes: float = 5) -> str:
    """Text k: about `megabytes` MB of the six corpora, starting with the
    k-th (modulo six)."""
    texts = list(corpora.load_corpora().values())
    parts = texts[k % len(texts) :] + texts[: k % len(texts)]
    mixed = "\n".join(parts)
    chars = int(megabytes * 1e6 * len(mixed) / len(mixed.encode()))
    return (mixed * (chars // len(mixed) + 1))[:chars]


def prose_texts(count: int, megabytes: float) -> list[str]:
    return [prose_text(k, megabytes) for k in range(count)]


def short_articles(count: int, ascii_only: bool) -> tuple[list[tuple[str, str]], str]:
    english = corpora.load_corpora()["en"]
    if ascii_only:
        english = english.encode("ascii", "ignore").decode()
    english = " ".join(english.split())
    articles = []
    at = 0
    for _ in range(count):
        if at + 2060 > len(english):
            at = 0
        articles.append((english[at : at + 60], english[at + 60 : at + 2060]))
        at += 2060 + 7  # not a multiple of the text's length: articles differ
    return articles, "network"  # in about 40% of the articles


def timed(run) -> tuple[float, float]:
    """Wall and CPU seconds of run()."""
    cpu = time.process_time()
    wall = time.perf_counter()
    run()
    return time.perf_counter() - wall, time.process_time() - cpu


def interleaved(ways: dict, rounds: int) -> dict[str, tuple[float, float]]:
    samples: dict[str, list[tuple[float, float]]] = {name: [] for name in ways}
    names = list(ways)
    for r in range(rounds):
        for name in names[r % len(names) :] + names[: r % len(names)]:
            samples[name].append(timed(ways[name]))
    return {
        name: (statistics.median(w for w, _ in s), statistics.median(c / w for w, c in s))
        for name, s in samples.items()
    }


def show(title: str, results: dict[str, tuple[float, float]], ratios: list[tuple[str, str, float]]) -> None:
    print(f"\n{title}")
    for name, (wall, cores) in results.items():
        print(f"  {name:<34} {wall * 1e3:9.1f} ms   cores used {cores:4.2f}")
    for fast, slow, target in ratios:
        ratio = results[slow][0] / results[fast][0]
        print(f"  {fast} vs {slow}: {ratio:.2f}x (target {target}x)")


def bench_update(texts: list[str], rounds: int) -> None:
    def count(workers: int) -> None:
        WordCounter(STOP).update(texts, workers=workers)

    results = interleaved({"workers=1": lambda: count(1), "workers=2": lambda: count(2)}, rounds)
    show("WordCounter.update, eight 5 MB texts", results, [("workers=2", "workers=1", 1.8)])


def bench_threads(texts: list[str], rounds: int) -> None:
    def one_thread() -> None:
        for _ in range(2):
            WordCounter(STOP).update(texts)

    def two_threads() -> None:
        threads = [threading.Thread(target=lambda: WordCounter(STOP).update(texts)) for _ in range(2)]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()

    results = interleaved({"one thread, two counters": one_thread, "two threads": two_threads}, rounds)
    show("Two counters, eight 5 MB texts each", results, [("two threads", "one thread, two counters", 1.8)])


def bench_rank(rounds: int, ascii_only: bool) -> None:
    articles, query = short_articles(100_000, ascii_only)

    def python_loop() -> None:
        scored = [(score_article(title, content, query), k) for k, (title, content) in enumerate(articles)]
        sorted((item for item in scored if item[0] > 0), key=lambda item: (-item[0], item[1]))

    best = rank_articles(articles, query)
    assert [(r.score, r.position) for r in best] == [
        (s, k)
        for s, k in sorted(
            ((score_article(t, c, query), k) for k, (t, c) in enumerate(articles)), key=lambda i: (-i[0], i[1])
        )
        if s > 0
    ]
    results = interleaved(
        {
            "Python loop + sorted": python_loop,
            "rank_articles workers=1": lambda: rank_articles(articles, query, workers=1),
            "rank_articles workers=2": lambda: rank_articles(articles, query, workers=2),
            "top 10, workers=1": lambda: rank_articles(articles, query, 10, workers=1),
            "top 10, workers=2": lambda: rank_articles(articles, query, 10, workers=2),
        },
        rounds,
    )
    show(
        f"rank_articles, 100,000 {'ASCII' if ascii_only else 'prose'} articles ({len(best)} match)",
        results,
        [
            ("rank_articles workers=1", "Python loop + sorted", 3),
            ("rank_articles workers=2", "rank_articles workers=1", 1.8),
            ("top 10, workers=1", "Python loop + sorted", 3),
            ("top 10, workers=2", "top 10, workers=1", 1.8),
        ],
    )


def bench_dask(count: int, rounds: int) -> None:
    # Each worker makes the texts itself (prose_text, cached there after a
    # first untimed run): the data are not sent from this process, and the
    # time is that of counting, merging and the scheduling around them.
    os.environ["PYTHONPATH"] = os.pathsep.join([str(HERE), os.environ.get("PYTHONPATH", "")])
    import dask.bag as db
    from distributed import Client, LocalCluster

    from parvenkel.dask_support import corpus_keywords

    expected = WordCounter(STOP)
    expected.update([prose_text(k) for k in range(count)])
    samples: dict[str, list[tuple[float, float]]] = {}
    clusters = {}
    for threads in (1, 2):
        cluster = LocalCluster(n_workers=1, threads_per_worker=threads, processes=True, dashboard_address=":0")
        clusters[threads] = (cluster, Client(cluster))

    # By reference to this file as a module, so that the workers keep one
    # cache (a function of __main__ would travel by value, its cache empty).
    import corpus_bench

    def keywords(client):
        bag = db.from_sequence(range(count), npartitions=count // 4).map(corpus_bench.prose_text)
        return client.compute(corpus_keywords(bag, STOP, 20)).result()

    try:
        for _, client in clusters.values():
            assert keywords(client) == expected.most_common(20)
        for r in range(rounds):
            for threads in (1, 2) if r % 2 == 0 else (2, 1):
                client = clusters[threads][1]
                before = sum(client.run(time.process_time).values())
                wall = time.perf_counter()
                keywords(client)
                wall = time.perf_counter() - wall
                cpu = sum(client.run(time.process_time).values()) - before
                samples.setdefault(f"{threads} thread(s)", []).append((wall, cpu))
    finally:
        for cluster, client in clusters.values():
            client.close()
            cluster.close()
    results = {
        name: (statistics.median(w for w, _ in s), statistics.median(c / w for w, c in s))
        for name, s in samples.items()
    }
    show(f"Dask LocalCluster, one worker process, {count} texts of 5 MB", results, [("2 thread(s)", "1 thread(s)", 1.7)])


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--rounds", type=int, default=5, help="rounds per measure (default 5)")
    parser.add_argument("--dask", action="store_true", help="also time a Dask LocalCluster")
    parser.add_argument("--dask-texts", type=int, default=32, help="5 MB texts for Dask (default 32)")
    parser.add_argument("--skip", action="append", default=[], choices=["update", "threads", "rank"])
    args = parser.parse_args()
    print(f"cpus: {os.process_cpu_count()}, load average at start: {os.getloadavg()}")
    texts = prose_texts(8, 5)
    if "update" not in args.skip:
        bench_update(texts, args.rounds)
    if "threads" not in args.skip:
        bench_threads(texts, args.rounds)
    if "rank" not in args.skip:
        bench_rank(args.rounds, ascii_only=False)
        bench_rank(args.rounds, ascii_only=True)
    if args.dask:
        bench_dask(args.dask_texts, args.rounds)
    print(f"\nload average at end: {os.getloadavg()}")


if __name__ == "__main__":
    main()
