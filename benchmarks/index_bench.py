"""Many queries against one corpus: ArticleIndex against the scan and SQLite.

The corpus is ``--articles`` short articles (default 1,000,000): a title of
60 characters and a body of 300, cut in turn from the six prose corpora of
corpora.py (English, French, Russian, Greek, Chinese, Japanese), each
article from another place. Everything runs on one core (``workers=1``)
but the build and ``rank_many``, timed on one and on two.

Printed:

* the corpus's UTF-8 size, the time to build the index and the size of its
  file, against one scan (``rank_articles(workers=1)`` of a common query);
  the time to build it on two workers (medians of interleaved builds);
* the time to open the file (``ArticleIndex.load``);
* for selective queries (words found once in a corpus text), common ones
  (frequent words) and 3-byte ones (and one of 2 bytes, which the index
  answers by a scan), the median latency of ``ArticleIndex.rank(q, 10)``,
  of ``rank_articles(articles, q, 10, workers=1)`` and of an SQLite FTS5
  ``trigram`` table in memory (``SELECT rowid ... MATCH``, every match; its
  case folding is SQLite's, not this package's, so its answers differ);
* whether the index's scores equal ``score_many``'s for every query;
* ``rank_many`` of a thousand topic queries (the most frequent words of
  four letters or more of the six corpora, in turn), top 10, on one worker
  and on two, and whether it gives what ``rank`` gives query by query;
* with ``--large MB``, only the memory that building an index of one
  article of MB megabytes of UTF-8 (the six scripts in turn) needs above
  the article itself, in bytes a byte of text (the peak resident size,
  its high-water mark reset before the build, as memprobe.py does).

    .venv/bin/python benchmarks/index_bench.py                 # several minutes, ~6 GB
    .venv/bin/python benchmarks/index_bench.py --articles 200000
    .venv/bin/python benchmarks/index_bench.py --large 256
"""

from __future__ import annotations

import argparse
import gc
import os
import resource
import sqlite3
import statistics
import sys
import tempfile
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))

import corpora  # noqa: E402

from parvenkel import ArticleIndex, WordCounter, rank_articles, score_many  # noqa: E402

TITLE = 60
BODY = 300


def make_articles(count: int) -> list[tuple[str, str]]:
    texts = [" ".join(t.split()) for t in corpora.load_corpora().values()]
    at = [0] * len(texts)
    articles = []
    for k in range(count):
        j = k % len(texts)
        text = texts[j]
        if at[j] + TITLE + BODY > len(text):
            at[j] = (at[j] + TITLE + BODY) % 97  # start again, a little further
        articles.append((text[at[j] : at[j] + TITLE], text[at[j] + TITLE : at[j] + TITLE + BODY]))
        at[j] += TITLE + BODY + 13
    return articles


def pick_queries() -> dict[str, list[str]]:
    """Selective: a word found once in a corpus text (so in the few articles
    cut from that place); common: a frequent word of six letters or more."""
    corpus = corpora.load_corpora()
    selective = []
    common = []
    for name in ("en", "ru", "el"):
        counter = WordCounter()
        counter.update(corpus[name])
        pairs = counter.most_common()
        common.append(next(w for w, _ in pairs if len(w) >= 6))
        once = [w for w, c in pairs if c == 1 and len(w) >= 8 and w.isascii() == (name == "en")]
        selective.append(once[len(once) // 2])
    return {
        "selective": selective,
        "common": common,
        "3-byte": ["ing", "the", "\u4e2d"],
        "2-byte (scan)": ["\u03c3"],
    }


def topic_queries(count: int) -> list[str]:
    """`count` distinct frequent words of four letters or more, taken from
    the six corpora in turn, most frequent first."""
    ranked = []
    for text in corpora.load_corpora().values():
        counter = WordCounter()
        counter.update(text)
        ranked.append([w for w, _ in counter.most_common() if len(w) >= 4])
    queries: dict[str, None] = {}
    for depth in range(max(map(len, ranked))):
        for words in ranked:
            if depth < len(words) and len(queries) < count:
                queries.setdefault(words[depth])
    return list(queries)


def interleaved(runs: dict[str, object], rounds: int) -> dict[str, float]:
    """The median time of each run, the runs taken in turn in each round."""
    times: dict[str, list[float]] = {name: [] for name in runs}
    for _ in range(rounds):
        for name, run in runs.items():
            start = time.perf_counter()
            run()  # type: ignore[operator]
            times[name].append(time.perf_counter() - start)
    return {name: statistics.median(t) for name, t in times.items()}


def median_time(run, rounds: int) -> float:
    times = []
    for _ in range(rounds):
        start = time.perf_counter()
        run()
        times.append(time.perf_counter() - start)
    return statistics.median(times)


def _peak_kib() -> int:
    with open("/proc/self/status") as f:
        return next(int(line.split()[1]) for line in f if line.startswith("VmHWM:"))


def large_article(megabytes: int) -> None:
    texts = [" ".join(t.split()) for t in corpora.load_corpora().values()]
    wanted = megabytes * 2**20
    parts, size = [], 0
    while size < wanted:
        for text in texts:
            parts.append(text)
            size += len(text.encode())
    body = "".join(parts)
    del parts
    gc.collect()
    with open("/proc/self/clear_refs", "w") as f:
        f.write("5")
    before = _peak_kib()
    start = time.perf_counter()
    index = ArticleIndex([("One large article", body)])
    build = time.perf_counter() - start
    extra = (_peak_kib() - before) * 1024
    print(
        f"one article of {size / 2**20:.0f} MB of UTF-8: built in {build:.1f} s, "
        f"{extra / size:.2f} bytes a byte of text above the article at the peak (target <= 4)"
    )
    del index


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--articles", type=int, default=1_000_000)
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--no-sqlite", action="store_true")
    parser.add_argument("--large", type=int, metavar="MB", help="only the memory of one large article")
    args = parser.parse_args()
    if args.large is not None:
        large_article(args.large)
        return

    articles = make_articles(args.articles)
    queries = pick_queries()
    corpus_bytes = sum(len(t.encode()) + len(c.encode()) for t, c in articles)
    print(f"{len(articles):,} articles, {corpus_bytes / 1e6:.1f} MB of UTF-8")

    scan = median_time(lambda: rank_articles(articles, queries["common"][0], 10, workers=1), 3)
    built: list[ArticleIndex] = []

    def build_on(workers: int) -> None:
        built.clear()  # one index at a time in memory
        built.append(ArticleIndex(articles, workers=workers))

    builds = interleaved({f"workers={w}": (lambda w=w: build_on(w)) for w in (1, 2)}, max(1, min(args.rounds, 3)))
    build = builds["workers=1"]
    built.clear()
    index = ArticleIndex(articles, workers=1)
    with tempfile.TemporaryDirectory() as folder:
        path = os.path.join(folder, "articles.idx")
        start = time.perf_counter()
        index.save(path)
        save = time.perf_counter() - start
        size = os.path.getsize(path)
        del index
        start = time.perf_counter()
        index = ArticleIndex.load(path)
        load = time.perf_counter() - start
        print(f"build {build:.2f} s = {build / scan:.1f} scans of {scan * 1e3:.0f} ms (target <= 10)")
        print(
            f"build on 2 workers {builds['workers=2']:.2f} s, {build / builds['workers=2']:.2f}x "
            "faster than on 1 (target >= 1.5)"
        )
        print(f"save {save:.2f} s, load {load:.2f} s (reads and checks the whole file)")
        print(f"index file {size / 1e6:.1f} MB = {size / corpus_bytes:.2f}x the corpus (target <= 3)")

        database = None
        if not args.no_sqlite:
            database = sqlite3.connect(":memory:")
            database.execute("CREATE VIRTUAL TABLE a USING fts5(title, content, tokenize='trigram')")
            start = time.perf_counter()
            database.executemany("INSERT INTO a(title, content) VALUES (?, ?)", articles)
            database.commit()
            print(f"SQLite FTS5 trigram build {time.perf_counter() - start:.2f} s (in memory)")

        topics = topic_queries(1000)
        many = interleaved(
            {f"workers={w}": (lambda w=w: index.rank_many(topics, 10, workers=w)) for w in (1, 2)},
            max(1, min(args.rounds, 3)),
        )
        equal = index.rank_many(topics, 10, workers=2) == [index.rank(q, 10) for q in topics]
        print(
            f"rank_many of {len(topics):,} topic queries (top 10): "
            + ", ".join(f"{name} {t:.2f} s" for name, t in many.items())
            + f", {many['workers=1'] / many['workers=2']:.2f}x (target >= 1.8); equal to rank: {equal}"
        )

        print(f"\n{'query':<28} {'matches':>8} {'index':>10} {'scan':>10} {'speed-up':>9} {'sqlite':>10} equal")
        for kind, words in queries.items():
            for query in words:
                found = len(index.rank(query))
                fast = median_time(lambda: index.rank(query, 10), args.rounds)
                slow = median_time(lambda: rank_articles(articles, query, 10, workers=1), 3)
                equal = index.scores(query) == score_many(articles, query) and index.rank(
                    query
                ) == rank_articles(articles, query)
                lite = "-"
                if database is not None:
                    phrase = '"' + query.replace('"', '""') + '"'
                    sql = "SELECT rowid FROM a WHERE a MATCH ?"
                    lite = f"{median_time(lambda: database.execute(sql, (phrase,)).fetchall(), args.rounds) * 1e3:8.2f}ms"
                label = f"{kind}: {query}"
                print(
                    f"{label:<28} {found:>8} {fast * 1e3:8.3f}ms {slow * 1e3:8.1f}ms "
                    f"{slow / fast:8.0f}x {lite:>10} {equal}"
                )
        del index
    peak = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1e6
    print(f"\npeak memory of this process: {peak:.1f} GB")


if __name__ == "__main__":
    main()
