"""An index in shards on Dask: the figures of one shard, and a query over all.

The corpus is index_bench.py's (``--articles`` short articles cut in turn
from the six prose corpora), cut into ``--shards`` partitions of equal size.
Printed:

* for one shard, on one core of this process: the time to build its index
  and to save it, the size of its file, the time to load it, and the median
  latency of ``ArticleIndex.rank(q, 10)`` for selective, common and short
  queries: what each machine of a cluster spends on its own shards;
* on a ``distributed.LocalCluster`` of ``--workers`` processes, one thread
  each, the partitions already on the workers: the time ``build_shards``
  takes for the whole corpus, and the median
  latency of ``rank_shards(q, 10)`` once every worker has loaded its shards,
  against ``ArticleIndex.rank`` over the whole corpus in this process; every
  answer is checked against the whole index's.

From these, the cost of a query on N machines is about the slowest
machine's share of shards (the per-shard latency times the shards on a
machine, divided by its cores) plus the scheduler's round trip, which the
LocalCluster figure includes.

    .venv/bin/python benchmarks/shard_bench.py                    # about two minutes
    .venv/bin/python benchmarks/shard_bench.py --articles 400000 --shards 16
"""

from __future__ import annotations

import argparse
import logging
import os
import statistics
import sys
import tempfile
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))

import corpora  # noqa: E402
import index_queries  # noqa: E402
from index_bench import make_articles  # noqa: E402

from parvenkel import ArticleIndex  # noqa: E402
from parvenkel import dask_index  # noqa: E402


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--articles", type=int, default=200_000)
    parser.add_argument("--shards", type=int, default=8)
    parser.add_argument("--workers", type=int, default=2)
    parser.add_argument("--rounds", type=int, default=7)
    args = parser.parse_args()

    import dask.bag as db
    import distributed

    articles, languages = make_articles(args.articles)
    picked = index_queries.pick(articles, languages, corpora.scripts())
    queries = [q for band, language, q in picked if band != "middling" and language in ("en", "ru", "el", "zh", "-")]
    size = -(-len(articles) // args.shards)
    parts = [articles[k : k + size] for k in range(0, len(articles), size)]
    mb = sum(len(t.encode()) + len(c.encode()) for t, c in articles) / 1e6
    print(f"{len(articles):,} articles, {mb:.1f} MB of UTF-8, {len(parts)} shards of {size:,}")
    print(f"cpus: {os.process_cpu_count()}, load average at start: {os.getloadavg()}")

    with tempfile.TemporaryDirectory() as folder:
        start = time.perf_counter()
        one = ArticleIndex(parts[0])
        build = time.perf_counter() - start
        path = os.path.join(folder, "one.idx")
        start = time.perf_counter()
        one.save(path)
        save = time.perf_counter() - start
        start = time.perf_counter()
        ArticleIndex.load(path)
        load = time.perf_counter() - start
        print(f"\none shard: build {build:.2f} s, save {save:.2f} s, load {load:.3f} s, "
              f"file {os.path.getsize(path) / 1e6:.1f} MB")
        print(f"{'query':<24} {'one shard':>10}")
        per_shard = {}
        for q in queries:
            per_shard[q] = median_time(lambda: one.rank(q, 10), args.rounds)
            print(f"{q:<24} {per_shard[q] * 1e3:8.2f} ms")

        whole = ArticleIndex(articles)
        with distributed.LocalCluster(
            n_workers=args.workers, threads_per_worker=1, processes=True, host="127.0.0.1",
            dashboard_address="127.0.0.1:0", silence_logs=logging.ERROR,
        ) as cluster, distributed.Client(cluster) as client:
            # The partitions are on the workers before the clock starts, as
            # when a cluster reads its own files.
            futures = client.scatter(parts)
            bag = db.from_delayed(futures)
            start = time.perf_counter()
            shards = client.compute(dask_index.build_shards(bag, os.path.join(folder, "shards"))).result()
            built = time.perf_counter() - start
            print(f"\nbuild_shards on {args.workers} workers: {built:.2f} s")
            print(f"{'query':<24} {'rank_shards':>12} {'one index':>10} equal")
            for q in queries:
                expected = whole.rank(q, 10)
                got = client.compute(dask_index.rank_shards(shards, q, 10)).result()  # loads
                sharded = statistics.median(
                    _timed(lambda: client.compute(dask_index.rank_shards(shards, q, 10)).result())
                    for _ in range(args.rounds)
                )
                local = median_time(lambda: whole.rank(q, 10), args.rounds)
                print(f"{q:<24} {sharded * 1e3:10.2f} ms {local * 1e3:8.2f} ms {got == expected}")
    print(f"\nload average at end: {os.getloadavg()}")


def median_time(run, rounds: int) -> float:
    return statistics.median(_timed(run) for _ in range(rounds))


def _timed(run) -> float:
    start = time.perf_counter()
    run()
    return time.perf_counter() - start


if __name__ == "__main__":
    main()
